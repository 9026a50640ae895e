// The main window driven as a user would, with COM1 mapped to a virtual
// echo plug (a pseudo-terminal): runs, verdicts, messages, abort, close and
// minimise during a run, the counters, the help view and the calculator.
#include <QtTest>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <memory>

#include "engine/echo_engine.h"
#include "window/form1.h"
#include "serial/virtual_echo_plug.h"
#include "support/comma_locale.h"

using echotest::Form1;

class TestForm1Run : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void echoPlugPassesAndCounts();
    void upperCaseEchoFailsWithCheck1();
    void openFailureMessages_data();
    void openFailureMessages();
    void abortAtLowRate();
    void pastedDecimalRateReadsAlikeInACommaLocale();
    void closeDuringRunAbortsThenCloses();
    void thirdCloseClosesAtOnce();
    void thirdCloseAfterAbortRestoresThePointer();
    void minimiseDuringRunAborts();
    void windowMenuDuringRunShowsTheNotice();
    void countersClearOnlyWhenIdleAndAsked();
    void closeWithHelpOpenClosesHelpOnly();
    void calculatorTakesTheSelectors();

private:
    template <typename T = QWidget>
    T *control(const char *name)
    {
        T *w = form->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("control %s missing", name);
        return w;
    }
    QString text(const char *label) { return control<QLabel>(label)->text(); }
    static int openDescriptors() { return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).count()); }
    void startPlug(serial::EchoPlugOptions options = {});
    void pick(const char *comboName, const QString &item);
    void setRate(const QString &rate) { pick("Combo2", rate); }
    void typeRate(const QString &rate);
    // Gives w the focus as coming from elsewhere, so its GotFocus rule runs.
    void focusFreshly(QWidget *w)
    {
        control("Check1")->setFocus();
        w->setFocus();
    }
    void clickRebounce() { QTest::mouseClick(control("Command1"), Qt::LeftButton); }

    std::unique_ptr<serial::VirtualEchoPlug> plug;
    std::unique_ptr<Form1> form;
    QStringList messages;
    QList<QMessageBox::Icon> icons;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
};

void TestForm1Run::initTestCase()
{
    Form1::beep = nullptr;
    Form1::messageBox = [this](const QString &text, QMessageBox::Icon icon, QMessageBox::StandardButtons,
                               QMessageBox::StandardButton) {
        messages << text;
        icons << icon;
        return answer;
    };
    for (const char *name : {"REBOUNCE_COM2", "REBOUNCE_COM3", "REBOUNCE_COM4"})
        qputenv(name, "/nonexistent/rebounce-test-port");
    Form1::discoverPorts = [] { return std::vector<serial::SerialDevice>{}; };
}

void TestForm1Run::init()
{
    messages.clear();
    icons.clear();
    answer = QMessageBox::Ok;
    startPlug();
    form = std::make_unique<Form1>();
    form->show();
    QTRY_VERIFY_WITH_TIMEOUT(control("Command1")->isEnabled(), 10000);
    setRate(QStringLiteral("115200"));
}

void TestForm1Run::cleanup()
{
    form.reset();
    plug.reset();
}

void TestForm1Run::startPlug(serial::EchoPlugOptions options)
{
    plug = std::make_unique<serial::VirtualEchoPlug>(options);
    QVERIFY2(plug->start(), plug->errorText().c_str());
    qputenv("REBOUNCE_COM1", QByteArray::fromStdString(plug->devicePath()));
}

// Picks a list item as a user does, with the arrow keys: each step is a
// pick (Click), so the window's rules run as they would for the user.
void TestForm1Run::pick(const char *comboName, const QString &item)
{
    auto *combo = control<QComboBox>(comboName);
    const int target = combo->findText(item);
    QVERIFY2(target >= 0, qPrintable(item));
    combo->setFocus();
    for (int steps = 0; combo->currentIndex() != target && steps < combo->count(); ++steps)
        QTest::keyClick(combo, combo->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
    QCOMPARE(combo->currentText(), item);
}

// Types a rate over the whole text, which the focus selects.
void TestForm1Run::typeRate(const QString &rate)
{
    auto *combo = control<QComboBox>("Combo2");
    focusFreshly(combo);
    QTest::keyClicks(combo, rate);
    QCOMPARE(combo->currentText(), rate);
}

void TestForm1Run::echoPlugPassesAndCounts()
{
    QCOMPARE(text("Label12"), QStringLiteral("87 ms"));
    clickRebounce();
    QCOMPARE(text("Label3"), QStringLiteral("PASS"));
    QCOMPARE(control<QLabel>("Label3")->palette().color(QPalette::Window), QColor(0x00, 0xFF, 0x00));
    QCOMPARE(text("Label1"), QStringLiteral("1000/1000"));
    QCOMPARE(text("Label2"), QStringLiteral("1000/1000"));
    QCOMPARE(text("Label18"), QStringLiteral("1"));
    QCOMPARE(text("Label23"), QStringLiteral("1000"));
    QCOMPARE(text("Label25"), QStringLiteral("1000"));
    QCOMPARE(text("Label15"), QStringLiteral("CLOSE"));
    QVERIFY(text("Label6").endsWith(QLatin1String(" ms")));
    // At 115200 the echo is back after the 87 ms line time, far from the
    // 1043 ms a run at 9600 would show.
    const int lastRead = text("Label14").chopped(3).toInt();
    QVERIFY2(lastRead >= 87 && lastRead < 600, qPrintable(text("Label14")));
    QCOMPARE(control<QPlainTextEdit>("Text2")->toPlainText().size(), 1000);
    QVERIFY(control("Command1")->isEnabled());
    QVERIFY(!control("Command2")->isEnabled());
    QCOMPARE(QApplication::focusWidget(), control("Command1"));
    QVERIFY(messages.isEmpty());

    // A held Enter key: one run after the other, the counters exact, and
    // no descriptor left behind.
    const int descriptors = openDescriptors();
    for (int i = 0; i < 19; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(text("Label18"), QStringLiteral("20"));
    QCOMPARE(text("Label21"), QStringLiteral("0"));
    QCOMPARE(text("Label23"), QStringLiteral("20000"));
    QCOMPARE(text("Label25"), QStringLiteral("20000"));
    QCOMPARE(openDescriptors(), descriptors);
    // The focus sink takes Enter during a run and does nothing with it.
    QTest::keyClick(control("Command3"), Qt::Key_Return);
    QCOMPARE(text("Label18"), QStringLiteral("20"));
}

void TestForm1Run::upperCaseEchoFailsWithCheck1()
{
    QTest::mouseClick(control("Check1"), Qt::LeftButton);
    QVERIFY(control<QCheckBox>("Check1")->isChecked());
    clickRebounce();
    QCOMPARE(text("Label3"), QStringLiteral("FAIL"));
    QCOMPARE(control<QLabel>("Label3")->palette().color(QPalette::Window), QColor(0xFF, 0x00, 0x00));
    QCOMPARE(text("Label21"), QStringLiteral("1"));
    QCOMPARE(text("Label18"), QStringLiteral("0"));
}

void TestForm1Run::openFailureMessages_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("message");
    // On Linux the message names the device that "2" means.
    QTest::newRow("missing port") << "2" << "9600" << "/nonexistent/rebounce-test-port does not exist!    ";
    QTest::newRow("rate too low") << "1" << "44" << "Baud rate too low !    \n\nThe minimum baud rate is 45.";
}

void TestForm1Run::openFailureMessages()
{
    QFETCH(QString, port);
    QFETCH(QString, rate);
    QFETCH(QString, message);
    pick("Combo1", port);
    typeRate(rate);
    clickRebounce();
    QCOMPARE(messages, QStringList{message});
    QCOMPARE(icons.value(0), QMessageBox::Warning);
    QCOMPARE(text("Label15"), QStringLiteral("CLOSE"));
    QVERIFY(control("Command1")->isEnabled());
}

void TestForm1Run::abortAtLowRate()
{
    setRate(QStringLiteral("300"));
    bool hourglassSeen = false;
    QTimer::singleShot(400, this, [&] {
        QTest::mouseClick(control("Command2"), Qt::LeftButton);
        hourglassSeen = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    });
    clickRebounce();
    QVERIFY(hourglassSeen);
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(text("Label6"), QStringLiteral("----- ms"));
    QCOMPARE(text("Label14"), QStringLiteral("----- ms"));
    QCOMPARE(text("Label3"), QStringLiteral("-----"));
    QCOMPARE(text("Label1"), QStringLiteral("0/1000"));
    QCOMPARE(text("Label2"), QStringLiteral("0/1000"));
    QCOMPARE(control<QPlainTextEdit>("Text2")->toPlainText(),
             QStringLiteral("\n\n\n    THE REBOUNCE TEST WAS ABORTED BY THE USER!"));
    QCOMPARE(text("Label18") + text("Label21") + text("Label23") + text("Label25"), QStringLiteral("0000"));
    QCOMPARE(text("Label15"), QStringLiteral("CLOSE"));
    QVERIFY(!form->isTestRunning());
}

void TestForm1Run::pastedDecimalRateReadsAlikeInACommaLocale()
{
    support::CommaDecimalLocale comma;
    if (!comma.available())
        QSKIP("no comma-decimal locale on this machine (LOCPATH unset?)");
    QApplication::clipboard()->setText(QStringLiteral("9600.5"));
    auto *combo = control<QComboBox>("Combo2");
    focusFreshly(combo); // selects the whole text, which the paste replaces
    QTest::keyClick(combo, Qt::Key_Insert, Qt::ShiftModifier);
    QCOMPARE(combo->currentText(), QStringLiteral("9600.5"));
    QCOMPARE(text("Label12"), QStringLiteral("1042 ms"));

    // The run reads the rate as Label12 did: 9600 and more, not "too low".
    // The driver is then asked for 9600.5 baud and refuses it.
    clickRebounce();
    QCOMPARE(messages.size(), 1);
    // Messages name the device port 1 means (here the virtual plug).
    const QString expected = QStringLiteral("The baud rate 9600.5 is not supported by %1!")
                                 .arg(QString::fromStdString(plug->devicePath()));
    QVERIFY2(messages[0].startsWith(expected), qPrintable(messages[0]));
}

void TestForm1Run::closeDuringRunAbortsThenCloses()
{
    setRate(QStringLiteral("300"));
    bool closedDuringRun = true;
    QTimer::singleShot(300, this, [&] {
        form->close();
        closedDuringRun = !form->isVisible();
    });
    clickRebounce();
    QVERIFY(!closedDuringRun); // the first request only aborted the run
    QVERIFY(!form->isVisible()); // ... and the window closed when it ended
    QCOMPARE(text("Label15"), QStringLiteral("CLOSE"));
    // The first run of a fresh window: the reason is the one loading left.
    QCOMPARE(control<QPlainTextEdit>("Text2")->toPlainText(),
             QStringLiteral("\n\n\n    THE REBOUNCE TEST WAS ABORTED BECAUSE THE PROGRAM WINDOW WAS MINIMIZED!"));
    QCOMPARE(text("Label18") + text("Label21"), QStringLiteral("00"));
}

void TestForm1Run::thirdCloseClosesAtOnce()
{
    setRate(QStringLiteral("300"));
    QString statusAtClose;
    QTimer::singleShot(300, this, [&] {
        form->close();
        form->close();
        form->close();
        statusAtClose = text("Label15");
    });
    clickRebounce();
    QCOMPARE(statusAtClose, QStringLiteral("CLOSE"));
    QVERIFY(!form->isVisible());
    QVERIFY(!form->isTestRunning());
    QCOMPARE(form->comm().portRecord(1).IsOpen, int16_t{0}); // the port was released
}

void TestForm1Run::thirdCloseAfterAbortRestoresThePointer()
{
    setRate(QStringLiteral("300"));
    bool hourglassSeen = false;
    QTimer::singleShot(300, this, [&] {
        QTest::mouseClick(control("Command2"), Qt::LeftButton);
        hourglassSeen = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        form->close();
        form->close();
        form->close();
    });
    clickRebounce();
    QVERIFY(hourglassSeen);
    QVERIFY(!form->isVisible());
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(form->comm().portRecord(1).IsOpen, int16_t{0});
}

void TestForm1Run::minimiseDuringRunAborts()
{
    setRate(QStringLiteral("300"));
    QTimer::singleShot(300, this, [&] { form->setWindowState(Qt::WindowMinimized); });
    clickRebounce();
    QCOMPARE(control<QPlainTextEdit>("Text2")->toPlainText(),
             QStringLiteral("\n\n\n    THE REBOUNCE TEST WAS ABORTED BECAUSE THE PROGRAM WINDOW WAS MINIMIZED!"));
}

void TestForm1Run::windowMenuDuringRunShowsTheNotice()
{
    auto *notice = control("Text3");
    // Idle: Alt+Space is the window manager's business, no notice.
    QTest::keyClick(form.get(), Qt::Key_Space, Qt::AltModifier);
    QVERIFY(!notice->isVisible());

    setRate(QStringLiteral("300"));
    bool shownDuringRun = false;
    QTimer::singleShot(300, this, [&] {
        QTest::keyClick(form.get(), Qt::Key_Space, Qt::AltModifier);
        shownDuringRun = notice->isVisible();
        QTest::mouseClick(control("Command2"), Qt::LeftButton);
    });
    clickRebounce();
    QVERIFY(shownDuringRun);
    QVERIFY(form->findChild<QTimer *>(QStringLiteral("Timer3"))->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!notice->isVisible(), 5000); // Timer3 hides it
}

void TestForm1Run::countersClearOnlyWhenIdleAndAsked()
{
    clickRebounce();
    QCOMPARE(text("Label18"), QStringLiteral("1"));
    auto *counter = control<QLabel>("Label23");

    answer = QMessageBox::No;
    QTest::mouseDClick(counter, Qt::LeftButton);
    QCOMPARE(messages, QStringList{QStringLiteral("Do you want to clear the counters ?")});
    QCOMPARE(text("Label18"), QStringLiteral("1"));

    answer = QMessageBox::Yes;
    QTest::mouseDClick(counter, Qt::LeftButton);
    QCOMPARE(text("Label18") + text("Label21") + text("Label23") + text("Label25"), QStringLiteral("0000"));

    QTest::mouseMove(counter);
    QCOMPARE(counter->toolTip(), QStringLiteral(" Double-click here to clear the counters "));

    // During a run: no question, no tip.
    setRate(QStringLiteral("300"));
    messages.clear();
    QString tipDuringRun = QStringLiteral("unset");
    QTimer::singleShot(300, this, [&] {
        QTest::mouseDClick(counter, Qt::LeftButton);
        QTest::mouseMove(counter, QPoint(3, 3));
        tipDuringRun = counter->toolTip();
        QTest::mouseClick(control("Command2"), Qt::LeftButton);
    });
    clickRebounce();
    QVERIFY(messages.isEmpty());
    QCOMPARE(tipDuringRun, QString());
}

void TestForm1Run::closeWithHelpOpenClosesHelpOnly()
{
    QTest::mouseClick(control("Command4"), Qt::LeftButton);
    QVERIFY(control("T4")->isVisible());
    form->close();
    QVERIFY(form->isVisible());
    QVERIFY(!control("T4")->isVisible());
    QCOMPARE(form->runFlags().CloseAttempts, 0);
    QCOMPARE(QApplication::focusWidget(), control("Command4"));
}

void TestForm1Run::calculatorTakesTheSelectors()
{
    bool disabledWhileOpen = false;
    QTimer::singleShot(200, this, [&] {
        disabledWhileOpen = !control("Command1")->isEnabled() && !control("Combo1")->isEnabled()
            && !control("Combo2")->isEnabled();
        if (QWidget *calc = QApplication::activeModalWidget())
            calc->close();
    });
    QTest::mouseClick(control("Command6"), Qt::LeftButton);
    QVERIFY(disabledWhileOpen);
    QVERIFY(control("Command1")->isEnabled());
    QVERIFY(control("Combo1")->isEnabled());
    QVERIFY(control("Combo2")->isEnabled());
}

QTEST_MAIN(TestForm1Run)
#include "test_form1_run.moc"
