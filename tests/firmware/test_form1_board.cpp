// The main window with COM1 mapped to the simulated ATmega328P running the
// polling firmware at 9600 baud: a run passes, is counted, and its last-read
// time follows the simulated line.
#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <memory>

#include "engine/echo_engine.h"
#include "window/form1.h"
#include "simulated_board.h"

using echotest::Form1;
using firmware::testing::SimulatedBoard;

class TestForm1Board : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void runPassesCountsAndFollowsTheLine();

private:
    template <typename T = QWidget>
    T *control(Form1 &form, const char *name)
    {
        T *w = form.findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("control %s missing", name);
        return w;
    }

    std::unique_ptr<SimulatedBoard> board;
    QStringList messages;
};

void TestForm1Board::initTestCase()
{
    Form1::beep = nullptr;
    Form1::messageBox = [this](const QString &text, QMessageBox::Icon, QMessageBox::StandardButtons,
                               QMessageBox::StandardButton) {
        messages << text;
        return QMessageBox::Ok;
    };
    board = std::make_unique<SimulatedBoard>(SimulatedBoard::Settings{
        FIRMWARE_DIR "/fw_polling_9600/fw_polling_9600.elf", "atmega328p"});
    QVERIFY2(board->start(), board->error().c_str());
    qputenv("REBOUNCE_COM1", QByteArray::fromStdString(board->path()));
}

void TestForm1Board::cleanupTestCase()
{
    board.reset();
}

void TestForm1Board::runPassesCountsAndFollowsTheLine()
{
    Form1 form;
    form.show();
    QTRY_VERIFY_WITH_TIMEOUT(control(form, "Command1")->isEnabled(), 10000);
    // The firmware's rate is the window's default; nothing to pick.
    QCOMPARE(control<QComboBox>(form, "Combo2")->currentText(), QStringLiteral("9600"));
    QCOMPARE(control<QLabel>(form, "Label12")->text(), QStringLiteral("1042 ms"));

    QTest::mouseClick(control(form, "Command1"), Qt::LeftButton);
    QCOMPARE(control<QLabel>(form, "Label3")->text(), QStringLiteral("PASS"));
    QCOMPARE(control<QLabel>(form, "Label18")->text(), QStringLiteral("1")); // passes
    QCOMPARE(control<QLabel>(form, "Label21")->text(), QStringLiteral("0")); // failures
    QCOMPARE(control<QLabel>(form, "Label25")->text(), QStringLiteral("1000")); // bytes received
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('|'))));

    const QString lastRead = control<QLabel>(form, "Label14")->text();
    QVERIFY2(lastRead.endsWith(QLatin1String(" ms")), qPrintable(lastRead));
    const double shown = lastRead.chopped(3).toDouble();
    const double line = firmware::testing::simulatedLineMs(9600);
    QVERIFY2(std::abs(shown - line) <= 0.15 * line,
             qPrintable(QStringLiteral("last read %1, simulated line %2 ms").arg(lastRead).arg(line)));
}

QTEST_MAIN(TestForm1Board)
#include "test_form1_board.moc"
