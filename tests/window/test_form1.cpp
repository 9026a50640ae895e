// Drives the main window by its control names, as a user would: layout,
// selectors, key filter, start-up timers, tab order, pictures.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "window/form1.h"
#include "resources/artwork.h"

using echotest::Form1;

namespace {

int px(int twips) { return (twips + 7) / 15; }

QRect twipRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

QString text1Pattern()
{
    QString s;
    for (int i = 0; i < 100; ++i)
        s += QStringLiteral("ABCDEFGHIJ");
    return s;
}

// The visible text of any control kind the window uses.
QString shownText(const QWidget *w)
{
    if (auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (auto *edit = qobject_cast<const QLineEdit *>(w))
        return edit->text();
    if (auto *box = qobject_cast<const QPlainTextEdit *>(w))
        return box->toPlainText();
    if (auto *combo = qobject_cast<const QComboBox *>(w))
        return combo->currentText();
    return {};
}

bool hasColour(const QImage &image, const QRect &area, QRgb colour)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                return true;
    return false;
}

// Lets every queued focus move run, so that a test sees where the focus
// finally rests rather than where the handler left it.
void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controlsMatchLayout_data();
    void controlsMatchLayout();
    void coloursMatchLayout_data();
    void coloursMatchLayout();
    void windowIsFixedWithoutMaximise();
    void fontsAndBoxKinds();
    void timersAtCreation();
    void stackingOfOverlappingControls();
    void picturesShowTheirSubjects();

    void selectorsFilledWithDefaults();
    void typingIntoBaudRate_data();
    void typingIntoBaudRate();
    void deletingLastDigitLeavesSelectedZero();
    void pastedAndProgrammaticText_data();
    void pastedAndProgrammaticText();
    void pickingClearsResultsButNotCounters_data();
    void pickingClearsResultsButNotCounters();
    void focusSelectsWholeBaudText();

    void startUpTickEnablesMainButton();
    void noticeHiddenByTimer3();
    void tabCyclesWithoutFocusSink();

    void closingHelpLeavesFocusOnHelp_data();
    void closingHelpLeavesFocusOnHelp();
    void picture1HandsItsFocusToCloseHelp_data();
    void picture1HandsItsFocusToCloseHelp();
    void picture1SitsInTheTabOrder();

private:
    template <typename T = QWidget>
    T *control(const char *name)
    {
        T *w = form->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("control %s missing", name);
        return w;
    }
    QLineEdit *baudEdit() { return control<QComboBox>("Combo2")->lineEdit(); }
    void showAndActivate();
    void setBaudText(const QString &text, int caret);
    void openHelpByClick();

    std::unique_ptr<Form1> form;
    int beeps = 0;
};

void TestForm1::initTestCase()
{
    QApplication::setFont(QFont(QStringLiteral("Arial"), 8));
    // A click on Rebounce starts a real run: point every port at a device
    // that does not exist, and answer its message without a dialog.
    for (const char *name : {"REBOUNCE_COM1", "REBOUNCE_COM2", "REBOUNCE_COM3", "REBOUNCE_COM4"})
        qputenv(name, "/nonexistent/rebounce-test-port");
    Form1::messageBox = [](const QString &, QMessageBox::Icon, QMessageBox::StandardButtons,
                           QMessageBox::StandardButton) { return QMessageBox::Ok; };
    // A machine without serial devices: Combo1 holds "1" to "4" only.
    Form1::discoverPorts = [] { return std::vector<serial::SerialDevice>{}; };
}

void TestForm1::init()
{
    beeps = 0;
    Form1::beep = [this] { ++beeps; };
    form = std::make_unique<Form1>();
}

void TestForm1::cleanup()
{
    form.reset();
    Form1::beep = nullptr;
}

void TestForm1::showAndActivate()
{
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
}

void TestForm1::openHelpByClick()
{
    showAndActivate();
    QTRY_VERIFY_WITH_TIMEOUT(control("Command4")->isEnabled(), 10000);
    QTest::mouseClick(control("Command4"), Qt::LeftButton);
    QVERIFY(control("T4")->isVisible());
    QVERIFY(control("Command5")->isEnabled());
    settle();
}

void TestForm1::setBaudText(const QString &text, int caret)
{
    baudEdit()->setText(text);
    baudEdit()->setCursorPosition(caret);
    beeps = 0;
}

// ---- layout ----------------------------------------------------------------

void TestForm1::controlsMatchLayout_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("shown");

    auto row = [](const char *name, const char *kind, const QString &text, const QString &tip, QRect geo,
                  bool enabled = true, bool shown = true) {
        QTest::newRow(name) << QString::fromLatin1(kind) << text << tip << geo << enabled << shown;
    };
    const QString none;
    row("Label10", "QLabel", "COM port:", none, twipRect(240, 120, 1215, 255));
    row("Combo1", "QComboBox", "1", none, twipRect(1080, 60, 735, 315));
    row("Label8", "QLabel", "Bits per second:", " Baud rate ", twipRect(2280, 120, 1215, 255));
    row("Combo2", "QComboBox", "9600", " Select a baud rate or enter a custom baud rate ",
        twipRect(3600, 60, 1095, 315));
    row("Label9", "QLabel", "Data bits: 8       Parity: None       Stop bits: 1       Flow control: None", none,
        twipRect(5280, 140, 6495, 255));
    row("Text3", "QLineEdit",
        " Please wait until the test is over or press the button \" Abort Test \" first !", none,
        twipRect(120, 60, 5655, 320), true, false);
    row("Text1", "QPlainTextEdit", "", " Transmitted data (1000 bytes) ", twipRect(120, 420, 11655, 2415));
    row("Label11", "QLabel", "Calculated minimum transmission time:", none, twipRect(240, 2880, 3255, 255));
    row("Label12", "QLabel", "1042 ms", " Minimum time needed to send out 1000 bytes at the selected baud rate ",
        twipRect(3720, 2880, 1215, 255));
    row("Label4", "QLabel", "Bytes sent to the transmission buffer:", none, twipRect(240, 3240, 3255, 255));
    row("Label2", "QLabel", "0/1000", " Data bytes sent by the application to the Win32 Subsystem ",
        twipRect(3720, 3240, 1215, 255));
    row("Label5", "QLabel", "Sent to transmission buffer completed after:", none, twipRect(240, 3600, 3255, 255));
    row("Label6", "QLabel", "----- ms", " Time needed to send 1000 bytes to the Win32 Subsystem ",
        twipRect(3720, 3600, 1215, 255));
    row("Label13", "QLabel", "Reception buffer last time read after:", none, twipRect(240, 3960, 3255, 255));
    row("Label14", "QLabel", "----- ms",
        " Time when the thousandth byte was received, or time of the time-out if the bytes were < 1000 ",
        twipRect(3720, 3960, 1215, 255));
    row("Label7", "QLabel", "Bytes received back:", none, twipRect(240, 4320, 2775, 255));
    row("Label1", "QLabel", "0/1000", " Data bytes received back by the application from the Win32 Subsystem ",
        twipRect(3720, 4320, 1215, 255));
    row("Label16", "QLabel", "Transmitted data / Received data comparison:", none, twipRect(240, 4680, 3495, 255));
    row("Label3", "QLabel", "-----", " Received data is compared to the transmitted data ",
        twipRect(3720, 4680, 1215, 255));
    row("Label15", "QLabel", "CLOSE", " Serial port status ", twipRect(5520, 2880, 915, 255));
    row("Image1", "QLabel", "", none, twipRect(4920, 2820, 6795, 3030));
    row("Check1", "QCheckBox", "Pass if lower-case characters are received:",
        " The MCU converts upper-case to lower-case ", twipRect(240, 5040, 3675, 255));
    row("Command1", "QPushButton", "Rebounce ", " Hold down the Enter key to repeat ", twipRect(240, 5400, 1095, 345),
        false);
    row("Command2", "QPushButton", "Abort Test", none, twipRect(1440, 5400, 1095, 345), false);
    row("Command6", "QPushButton", "Calculator", " AVR baud rate calculator ", twipRect(2640, 5400, 1095, 345));
    row("Command4", "QPushButton", "Help", none, twipRect(3840, 5400, 1095, 345), false);
    // parked below the client area, still enabled and visible
    row("Command3", "QPushButton", "focus", none, twipRect(6600, 15640, 1095, 375));
    row("Text2", "QPlainTextEdit", "", " Received data ", twipRect(120, 5820, 11655, 2415));
    row("Label19", "QLabel", "Pass counter:", none, twipRect(120, 8260, 1215, 255));
    row("Label18", "QLabel", "0", none, twipRect(1200, 8235, 1215, 255));
    row("Label20", "QLabel", "Fail counter:", none, twipRect(3360, 8260, 975, 255));
    row("Label21", "QLabel", "0", none, twipRect(4320, 8235, 1215, 255));
    row("Label22", "QLabel", "Total bytes sent:", none, twipRect(6160, 8260, 1335, 255));
    row("Label23", "QLabel", "0", none, twipRect(7440, 8235, 1215, 255));
    row("Label24", "QLabel", "Total bytes received:", none, twipRect(9000, 8260, 1575, 255));
    row("Label25", "QLabel", "0", none, twipRect(10560, 8235, 1215, 255));
    row("Picture1", "QFrame", "", none, twipRect(10560, 6120, 1095, 1575), true, false);
    row("T4", "QPlainTextEdit", "", none, twipRect(0, 0, 735, 285));
    row("Label17", "QLabel", "", none, twipRect(120, 840, 975, 615));
    row("Command5", "QPushButton", "Close Help", none, twipRect(0, 360, 1335, 345));
}

void TestForm1::controlsMatchLayout()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    QFETCH(QRect, geometry);
    QFETCH(bool, enabled);
    QFETCH(bool, shown);

    const QByteArray name = QTest::currentDataTag();
    QWidget *w = control(name.constData());
    QVERIFY2(w->inherits(kind.toLatin1().constData()), w->metaObject()->className());
    QCOMPARE(shownText(w), text);
    QCOMPARE(w->toolTip(), toolTip);
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(w->isEnabled(), enabled);
    QCOMPARE(w->isVisibleTo(w->parentWidget()), shown);
    const bool inHelpView = name == "T4" || name == "Label17" || name == "Command5";
    QCOMPARE(w->parentWidget()->objectName(), inHelpView ? QStringLiteral("Picture1") : QStringLiteral("Form1"));
}

void TestForm1::coloursMatchLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("foreground");
    QTest::addColumn<bool>("boxed");

    const QColor grey(0xC0, 0xC0, 0xC0);
    const QColor black(Qt::black);
    auto row = [](const char *name, QColor bg, QColor fg, bool boxed) {
        QTest::newRow(name) << QString::fromLatin1(name) << bg << fg << boxed;
    };
    row("Label11", grey, black, false);
    row("Label12", grey, black, true);
    row("Label3", grey, black, true);
    row("Label15", black, QColor(Qt::white), true);
    row("Label19", grey, black, false);
    row("Label25", grey, black, true);
    row("Label17", QColor(0xE0, 0xE0, 0xE0), black, true);
    row("Text1", black, QColor(0x00, 0xFF, 0xFF), false);
    row("Text2", black, QColor(0x00, 0xFF, 0x00), false);
    row("Text3", QColor(0xFF, 0xFF, 0xC0), QColor(0x40, 0x40, 0x40), false);
    row("T4", QColor(0xE0, 0xE0, 0xE0), black, false);
    row("Combo2", QColor(Qt::white), black, false);
}

void TestForm1::coloursMatchLayout()
{
    QFETCH(QString, name);
    QFETCH(QColor, background);
    QFETCH(QColor, foreground);
    QFETCH(bool, boxed);

    QWidget *w = control(name.toLatin1().constData());
    const QPalette pal = w->palette();
    if (auto *label = qobject_cast<QLabel *>(w)) {
        QVERIFY(label->autoFillBackground()); // opaque
        QCOMPARE(pal.color(QPalette::Window), background);
        QCOMPARE(pal.color(QPalette::WindowText), foreground);
        QCOMPARE(label->frameShape() == QFrame::Box, boxed);
        if (boxed)
            QVERIFY(label->alignment() & Qt::AlignHCenter);
        else
            QVERIFY(label->alignment() & Qt::AlignLeft);
    } else {
        QCOMPARE(pal.color(QPalette::Base), background);
        QCOMPARE(pal.color(QPalette::Text), foreground);
    }
}

void TestForm1::windowIsFixedWithoutMaximise()
{
    QCOMPARE(form->objectName(), QStringLiteral("Form1"));
    QCOMPARE(form->windowTitle(), QStringLiteral(" Rebounce Test 1.0"));
    QCOMPARE(form->minimumSize(), QSize(800, 579));
    QCOMPARE(form->maximumSize(), QSize(800, 579));
    const Qt::WindowFlags flags = form->windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QCOMPARE(form->palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
}

void TestForm1::fontsAndBoxKinds()
{
    for (const char *name : {"Text1", "Text2", "T4"}) {
        auto *box = control<QPlainTextEdit>(name);
        QVERIFY2(box->isReadOnly(), name);
        QCOMPARE(box->font().family(), QStringLiteral("Courier New"));
        QCOMPARE(box->font().pointSizeF(), qstrcmp(name, "T4") == 0 ? 9.75 : 8.25);
        QCOMPARE(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(box->verticalScrollBarPolicy(),
                 qstrcmp(name, "T4") == 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    }
    QVERIFY(control<QLineEdit>("Text3")->isReadOnly());
    QVERIFY(!control<QComboBox>("Combo1")->isEditable());
    QVERIFY(control<QComboBox>("Combo2")->isEditable());
    QCOMPARE(control("Check1")->layoutDirection(), Qt::RightToLeft); // box right of the caption
    QVERIFY(!control<QCheckBox>("Check1")->isChecked());
    QCOMPARE(control("Command3")->focusPolicy(), Qt::ClickFocus);
}

void TestForm1::timersAtCreation()
{
    struct Expected {
        const char *name;
        int interval;
        bool active;
    };
    for (const Expected &e : {Expected{"Timer1", 50, false}, Expected{"Timer2", 500, true},
                              Expected{"Timer3", 2000, true}}) {
        auto *timer = form->findChild<QTimer *>(QLatin1String(e.name));
        QVERIFY2(timer, e.name);
        QCOMPARE(timer->interval(), e.interval);
        QCOMPARE(timer->isActive(), e.active);
    }
}

void TestForm1::stackingOfOverlappingControls()
{
    auto centreOf = [](QWidget *w) { return w->geometry().center(); };
    QCOMPARE(form->childAt(centreOf(control("Label15"))), control("Label15"));
    QCOMPARE(form->childAt(centreOf(control("Image1")) + QPoint(60, 0)), control("Image1"));
    // the overlapping end of a caption lies under its value box
    QCOMPARE(form->childAt(control("Label3")->geometry().topLeft() + QPoint(0, 5)), control("Label3"));

    auto *notice = control("Text3");
    notice->show();
    for (const char *covered : {"Label10", "Combo1", "Label8", "Combo2"}) {
        QWidget *under = form->childAt(centreOf(control(covered)));
        QVERIFY2(under == notice || notice->isAncestorOf(under), covered);
    }
}

void TestForm1::picturesShowTheirSubjects()
{
    const QImage diagram = control<QLabel>("Image1")->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(diagram.size(), QSize(453, 202));
    const QRgb grey = qRgb(0xC0, 0xC0, 0xC0);
    // the status label's corner stays empty
    QVERIFY(!hasColour(diagram, QRect(0, 0, 110, 26), qRgb(0, 0, 0)));
    QCOMPARE(diagram.pixel(0, 0) & 0xFFFFFF, grey & 0xFFFFFF);
    QVERIFY(hasColour(diagram, diagram.rect(), qRgb(0x00, 0xFF, 0xFF)));
    QVERIFY(hasColour(diagram, diagram.rect(), qRgb(0x00, 0xFF, 0x00)));
    QVERIFY(hasColour(diagram, diagram.rect(), qRgb(0xFF, 0xFF, 0x00)));

    for (int size : {16, 32}) {
        const QImage icon = resources::iconPixmap(size).toImage();
        QCOMPARE(icon.size(), QSize(size, size));
        QCOMPARE(icon.pixel(size / 2, size / 2) & 0xFFFFFF, 0u); // black in the middle of the loop
        const int q = size / 4;
        const QRgb cyan = qRgb(0x00, 0xFF, 0xFF);
        const QRgb green = qRgb(0x00, 0xFF, 0x00);
        // cyan head at the top left, green head at the bottom right, each
        // side joined in its own colour
        QVERIFY(hasColour(icon, QRect(0, 0, q, 2 * q), cyan));
        QVERIFY(hasColour(icon, QRect(3 * q, 2 * q, q, 2 * q), green));
        QVERIFY(!hasColour(icon, QRect(0, 0, q - 1, size), green));
        QVERIFY(!hasColour(icon, QRect(3 * q + 1, 0, q - 1, size), cyan));
    }
    const QIcon icon = resources::appIcon();
    QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
    QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
}

// ---- port and baud-rate selection -----------------------------------------

void TestForm1::selectorsFilledWithDefaults()
{
    auto *combo1 = control<QComboBox>("Combo1");
    auto *combo2 = control<QComboBox>("Combo2");
    QCOMPARE(combo1->count(), 4);
    QCOMPARE(combo1->itemText(3), QStringLiteral("4"));
    QCOMPARE(combo1->currentText(), QStringLiteral("1"));
    QCOMPARE(combo2->count(), 23);
    QCOMPARE(combo2->itemText(0), QStringLiteral("50"));
    QCOMPARE(combo2->itemText(22), QStringLiteral("921600"));
    QCOMPARE(combo2->currentIndex(), 15);
    QCOMPARE(combo2->currentText(), QStringLiteral("9600"));
    QCOMPARE(form->MinTransmitTime(), 1042);
    QCOMPARE(control<QLabel>("Label12")->text(), QStringLiteral("1042 ms"));
}

void TestForm1::typingIntoBaudRate_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QTestEventList>("keys");
    QTest::addColumn<bool>("throughCombo"); // as a user's keys arrive, or straight at the line edit
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("label12");
    QTest::addColumn<int>("expectedBeeps");

    auto typed = [](const char *text) {
        QTestEventList keys;
        keys.addKeyClicks(QString::fromLatin1(text));
        return keys;
    };
    auto key = [](Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTestEventList keys;
        keys.addKeyClick(k, mods);
        return keys;
    };
    for (bool combo : {false, true}) {
        const QByteArray via = combo ? " via combo" : " via edit";
        QTest::newRow("digits appended" + via) << "96" << 2 << typed("00") << combo << "9600" << "1042 ms" << 0;
        QTest::newRow("letter beeps" + via) << "9600" << 4 << typed("a") << combo << "9600" << "1042 ms" << 1;
        QTest::newRow("blank beeps" + via) << "9600" << 2 << typed(" ") << combo << "9600" << "1042 ms" << 1;
        QTest::newRow("minus beeps" + via) << "9600" << 0 << typed("-") << combo << "9600" << "1042 ms" << 1;
        QTest::newRow("enter silent" + via) << "9600" << 4 << key(Qt::Key_Return) << combo << "9600" << "1042 ms" << 0;
        QTest::newRow("escape beeps" + via) << "9600" << 4 << key(Qt::Key_Escape) << combo << "9600" << "1042 ms" << 1;
        QTest::newRow("ctrl+c beeps" + via)
            << "9600" << 4 << key(Qt::Key_C, Qt::ControlModifier) << combo << "9600" << "1042 ms" << 1;
        QTest::newRow("ctrl+v beeps, pastes nothing" + via)
            << "9600" << 4 << key(Qt::Key_V, Qt::ControlModifier) << combo << "9600" << "1042 ms" << 1;
        QTest::newRow("ctrl+z beeps, undoes nothing" + via)
            << "9600" << 4 << key(Qt::Key_Z, Qt::ControlModifier) << combo << "9600" << "1042 ms" << 1;
        QTest::newRow("ctrl+backspace beeps, deletes nothing" + via)
            << "9600" << 4 << key(Qt::Key_Backspace, Qt::ControlModifier) << combo << "9600" << "1042 ms" << 1;
        QTest::newRow("alt+5 beeps, types nothing" + via)
            << "9600" << 4 << key(Qt::Key_5, Qt::AltModifier) << combo << "9600" << "1042 ms" << 1;
        QTest::newRow("eighth digit in the middle" + via)
            << "1234567" << 3 << typed("9") << combo << "1239456" << "8 ms" << 1;
        QTest::newRow("backspace passes" + via)
            << "19200" << 5 << key(Qt::Key_Backspace) << combo << "1920" << "5208 ms" << 0;
        QTest::newRow("delete edits silently" + via)
            << "19200" << 0 << key(Qt::Key_Delete) << combo << "9200" << "1087 ms" << 0;
        QTest::newRow("zeros only" + via) << "" << 0 << typed("000") << combo << "000" << "----- ms" << 0;
    }
}

void TestForm1::typingIntoBaudRate()
{
    QFETCH(QString, start);
    QFETCH(int, caret);
    QFETCH(QTestEventList, keys);
    QFETCH(bool, throughCombo);
    QFETCH(QString, expected);
    QFETCH(QString, label12);
    QFETCH(int, expectedBeeps);

    QApplication::clipboard()->setText(QStringLiteral("12"));
    showAndActivate();
    auto *combo2 = control<QComboBox>("Combo2");
    combo2->setFocus();
    if (start.isEmpty()) {
        baudEdit()->clear(); // leaves a selected "0"
        baudEdit()->selectAll();
        beeps = 0;
    } else {
        setBaudText(start, caret);
    }
    if (throughCombo)
        keys.simulate(combo2);
    else
        keys.simulate(baudEdit());

    QCOMPARE(baudEdit()->text(), expected);
    QCOMPARE(control<QLabel>("Label12")->text(), label12);
    QCOMPARE(beeps, expectedBeeps);
    if (expectedBeeps == 1 && expected.size() == 7 && start.size() == 7)
        QCOMPARE(baudEdit()->cursorPosition(), 7);
}

void TestForm1::deletingLastDigitLeavesSelectedZero()
{
    showAndActivate();
    setBaudText(QStringLiteral("5"), 1);
    QTest::keyClick(control<QComboBox>("Combo2"), Qt::Key_Backspace);
    QCOMPARE(baudEdit()->text(), QStringLiteral("0"));
    QCOMPARE(baudEdit()->selectedText(), QStringLiteral("0"));
    QCOMPARE(control<QLabel>("Label12")->text(), QStringLiteral("----- ms"));
    QCOMPARE(form->MinTransmitTime(), 0);
    QCOMPARE(beeps, 0);

    // the next digit replaces the zero
    QTest::keyClicks(control<QComboBox>("Combo2"), QStringLiteral("3"));
    QCOMPARE(baudEdit()->text(), QStringLiteral("3"));
    QCOMPARE(control<QLabel>("Label12")->text(), QStringLiteral("3333333 ms"));
    QCOMPARE(form->MinTransmitTime(), 3333333);
}

void TestForm1::pastedAndProgrammaticText_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("minTime");
    QTest::addColumn<int>("expectedBeeps");

    for (const char *how : {"clipboard", "shift+insert", "insert", "setEditText"}) {
        const QByteArray tag = QByteArray(" by ") + how;
        QTest::newRow("digits and a letter" + tag) << how << "12a" << "0" << 0 << 0;
        QTest::newRow("negative" + tag) << how << "-5" << "-5" << 0 << 0;
        QTest::newRow("decimal" + tag) << how << "800000." << "800000." << 12 << 0;
        QTest::newRow("too long" + tag) << how << "400000000" << "4000000" << 2 << 1;
        QTest::newRow("tiny fraction" + tag) << how << "0.00001" << "0.00001" << 0 << 0;
        QTest::newRow("one baud" + tag) << how << "1" << "1" << 10000000 << 0;
    }
}

void TestForm1::pastedAndProgrammaticText()
{
    QFETCH(QString, how);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(int, minTime);
    QFETCH(int, expectedBeeps);

    showAndActivate();
    auto *combo2 = control<QComboBox>("Combo2");
    combo2->setFocus();
    baudEdit()->selectAll();
    beeps = 0;
    if (how == "clipboard") {
        QApplication::clipboard()->setText(text);
        baudEdit()->paste();
    } else if (how == "shift+insert") {
        QApplication::clipboard()->setText(text);
        QTest::keyClick(combo2, Qt::Key_Insert, Qt::ShiftModifier);
    } else if (how == "insert") {
        baudEdit()->insert(text);
    } else {
        combo2->setEditText(text);
    }
    QCOMPARE(combo2->currentText(), expected);
    QCOMPARE(form->MinTransmitTime(), minTime);
    QCOMPARE(control<QLabel>("Label12")->text(),
             minTime ? QStringLiteral("%1 ms").arg(minTime) : QStringLiteral("----- ms"));
    QCOMPARE(beeps, expectedBeeps);
}

void TestForm1::pickingClearsResultsButNotCounters_data()
{
    QTest::addColumn<QString>("selector");
    QTest::addColumn<QString>("label12");
    QTest::newRow("port") << "Combo1"
                          << "1042 ms";
    QTest::newRow("rate") << "Combo2"
                          << "521 ms";
}

void TestForm1::pickingClearsResultsButNotCounters()
{
    QFETCH(QString, selector);
    QFETCH(QString, label12);

    showAndActivate();
    // the figures a finished run leaves behind
    control<QLabel>("Label6")->setText(QStringLiteral("1100 ms"));
    control<QLabel>("Label14")->setText(QStringLiteral("1200 ms"));
    control<QLabel>("Label1")->setText(QStringLiteral("1000/1000"));
    control<QLabel>("Label2")->setText(QStringLiteral("1000/1000"));
    auto *verdict = control<QLabel>("Label3");
    verdict->setText(QStringLiteral("PASS"));
    Form1::setLabelColours(verdict, Qt::green, Qt::black);
    for (const char *counter : {"Label18", "Label21", "Label23", "Label25"})
        control<QLabel>(counter)->setText(QStringLiteral("7"));

    auto *combo = control<QComboBox>(selector.toLatin1().constData());
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down); // picks the next list item

    QCOMPARE(combo->currentIndex(), selector == "Combo1" ? 1 : 16);
    QCOMPARE(control<QLabel>("Label12")->text(), label12);
    QCOMPARE(control<QLabel>("Label6")->text(), QStringLiteral("----- ms"));
    QCOMPARE(control<QLabel>("Label14")->text(), QStringLiteral("----- ms"));
    QCOMPARE(control<QLabel>("Label1")->text(), QStringLiteral("0/1000"));
    QCOMPARE(control<QLabel>("Label2")->text(), QStringLiteral("0/1000"));
    QCOMPARE(verdict->text(), QStringLiteral("-----"));
    QCOMPARE(verdict->palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
    QCOMPARE(verdict->palette().color(QPalette::WindowText), QColor(Qt::black));
    for (const char *counter : {"Label18", "Label21", "Label23", "Label25"})
        QCOMPARE(control<QLabel>(counter)->text(), QStringLiteral("7"));
    QCOMPARE(beeps, 0);
}

void TestForm1::focusSelectsWholeBaudText()
{
    showAndActivate();
    control("Command6")->setFocus();
    baudEdit()->deselect();
    control("Combo2")->setFocus(Qt::OtherFocusReason);
    QCOMPARE(baudEdit()->selectedText(), QStringLiteral("9600"));
    QTest::keyClicks(control("Combo2"), QStringLiteral("300"));
    QCOMPARE(baudEdit()->text(), QStringLiteral("300"));
    QCOMPARE(form->MinTransmitTime(), 33333);
}

// ---- timers and focus ------------------------------------------------------

void TestForm1::startUpTickEnablesMainButton()
{
    showAndActivate();
    auto *command1 = control<QPushButton>("Command1");
    QSignalSpy clicks(command1, &QPushButton::clicked);
    if (command1->isEnabled())
        QSKIP("the machine was too slow to look before the start-up tick");
    QTest::mouseClick(command1, Qt::LeftButton);
    QCOMPARE(clicks.count(), 0);
    QCOMPARE(control<QPlainTextEdit>("Text1")->toPlainText(), QString());

    QTRY_VERIFY_WITH_TIMEOUT(command1->isEnabled(), 10000);
    QCOMPARE(control<QPlainTextEdit>("Text1")->toPlainText(), text1Pattern());
    QVERIFY(control("Command4")->isEnabled());
    QVERIFY(!control("Command2")->isEnabled());
    QVERIFY(!form->findChild<QTimer *>(QStringLiteral("Timer2"))->isActive());
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(command1));
    QTest::mouseClick(command1, Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);
}

void TestForm1::noticeHiddenByTimer3()
{
    auto *timer3 = form->findChild<QTimer *>(QStringLiteral("Timer3"));
    control("Text3")->show();
    QTRY_VERIFY_WITH_TIMEOUT(!timer3->isActive(), 15000);
    QVERIFY(!control("Text3")->isVisibleTo(form.get()));
}

void TestForm1::tabCyclesWithoutFocusSink()
{
    showAndActivate();
    QTRY_VERIFY_WITH_TIMEOUT(control("Command1")->isEnabled(), 10000);
    control("Command1")->setFocus(Qt::TabFocusReason);
    QStringList visited;
    for (int i = 0; i < 7; ++i) {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus);
        visited << focus->objectName();
        QTest::keyClick(focus, Qt::Key_Tab);
        QTest::qWait(0); // the data boxes pass the focus on from the event loop
        QCoreApplication::processEvents();
    }
    // Command2 is disabled, Text3 and the help view are hidden, Command3 is
    // no tab stop, and the data boxes pass the focus along
    QCOMPARE(visited, QStringList({"Command1", "Command6", "Command4", "Combo1", "Combo2", "Check1", "Command1"}));
    control("Command2")->setEnabled(true);
    control("Command1")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(control("Command1"), Qt::Key_Tab);
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command2"));
    // the focus sink still takes the focus when code gives it
    control("Command3")->setFocus();
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command3"));
}

// ---- help view on the window ----------------------------------------------

void TestForm1::closingHelpLeavesFocusOnHelp_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("click on Close Help") << "click";
    QTest::newRow("space on Close Help") << "space";
    QTest::newRow("enter on Close Help") << "enter";
    QTest::newRow("Close Help reached by Tab") << "tab then space";
    QTest::newRow("close request of the window") << "close";
}

void TestForm1::closingHelpLeavesFocusOnHelp()
{
    QFETCH(QString, how);
    openHelpByClick();
    auto *close = control("Command5");
    if (how == "click") {
        QTest::mouseClick(close, Qt::LeftButton);
    } else if (how == "close") {
        form->close();
    } else {
        if (how.startsWith("tab")) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            settle();
            QCOMPARE(QApplication::focusWidget(), close);
        } else {
            close->setFocus(Qt::OtherFocusReason);
        }
        QTest::keyClick(close, how == "enter" ? Qt::Key_Return : Qt::Key_Space);
    }
    settle();
    QVERIFY(form->isVisible());
    QVERIFY(!control("T4")->isVisible());
    QCOMPARE(QApplication::focusWidget(), control("Command4"));

    // The focus stays there: Enter opens the help again.
    QTest::keyClick(control("Command4"), Qt::Key_Return);
    QVERIFY(control("T4")->isVisible());
}

void TestForm1::picture1HandsItsFocusToCloseHelp_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("click on the margin") << "click";
    QTest::newRow("tab from Close Help") << "tab";
    QTest::newRow("backtab from the document") << "backtab";
}

void TestForm1::picture1HandsItsFocusToCloseHelp()
{
    QFETCH(QString, how);
    openHelpByClick();
    auto *picture = control("Picture1");
    auto *t4 = control("T4");
    auto *close = control("Command5");
    QCOMPARE(QApplication::focusWidget(), t4);

    if (how == "click") {
        // The strip beside Close Help belongs to Picture1 alone.
        const QPoint margin(close->geometry().left() - 20, close->geometry().center().y());
        QCOMPARE(picture->childAt(margin), nullptr);
        QTest::mouseClick(picture, Qt::LeftButton, {}, margin);
    } else if (how == "tab") {
        QTest::keyClick(t4, Qt::Key_Tab);
        settle();
        QCOMPARE(QApplication::focusWidget(), close);
        QTest::keyClick(close, Qt::Key_Tab); // round the chain to Picture1
    } else {
        QTest::keyClick(t4, Qt::Key_Backtab);
    }
    settle();
    QCOMPARE(QApplication::focusWidget(), close);
    QCOMPARE(qobject_cast<QPlainTextEdit *>(t4)->cursorWidth(), 0);

    // Shift+Tab still reaches the document.
    QTest::keyClick(close, Qt::Key_Backtab);
    settle();
    QCOMPARE(QApplication::focusWidget(), t4);
}

void TestForm1::picture1SitsInTheTabOrder()
{
    // In the focus chain, Picture1 follows the notice Text3 and precedes the
    // document and its button.
    auto *picture = control("Picture1");
    QCOMPARE(picture->focusPolicy(), Qt::StrongFocus);
    QStringList chain;
    QWidget *w = control("Text3");
    for (int i = 0; i < 3; ++i) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        chain << w->objectName();
    }
    QCOMPARE(chain, QStringList({"Picture1", "T4", "Command5"}));

    // In the normal view the hidden container takes no part.
    showAndActivate();
    control("Check1")->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(control("Check1"), Qt::Key_Tab);
    settle();
    QVERIFY(QApplication::focusWidget() != picture);
}

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
