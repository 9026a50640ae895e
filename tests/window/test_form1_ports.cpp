// Combo1 beyond "1" to "4": the devices a discovery finds (the fixture tree
// of the discovery tests, plus virtual echo plugs), short names in the box,
// full lines in the open list, the list read again on opening, the choice
// reaching the run, and a start with --device.
#include <QtTest>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <memory>

#include "window/form1.h"
#include "window/port_combo_box.h"
#include "serial/sysfs_ports.h"
#include "serial/virtual_echo_plug.h"

using echotest::Form1;
using echotest::PortComboBox;

class TestForm1Ports : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fixedEntriesThenDevicesWithHardware();
    void openListShowsFullLinesWiderThanTheBox();
    void listIsReadAgainWhenItOpens();
    void chosenDeviceReachesTheRun();
    void deviceGoneBeforeTheRunDoesNotExist();
    void deviceArgument_data();
    void deviceArgument();
    void startWithDeviceChoosesIt();

private:
    template <typename T = QWidget>
    T *control(const char *name)
    {
        T *w = form->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("control %s missing", name);
        return w;
    }
    PortComboBox *combo1() { return control<PortComboBox>("Combo1"); }
    QStringList texts();
    QString line(int row) { return combo1()->itemData(row, PortComboBox::LineRole).toString(); }
    void openAndCloseList();
    void pick(const QString &text);
    void makeForm();
    void addPlug();
    void clickRebounce() { QTest::mouseClick(control("Command1"), Qt::LeftButton); }

    std::vector<serial::SerialDevice> found; // what the fake discovery reports
    int discoveries = 0;
    std::unique_ptr<serial::VirtualEchoPlug> plug;
    std::unique_ptr<Form1> form;
    QStringList messages;
};

void TestForm1Ports::initTestCase()
{
    QApplication::setFont(QFont(QStringLiteral("Arial"), 8)); // as the program sets it
    Form1::beep = nullptr;
    Form1::messageBox = [this](const QString &text, QMessageBox::Icon, QMessageBox::StandardButtons,
                               QMessageBox::StandardButton) {
        messages << text;
        return QMessageBox::Ok;
    };
    Form1::discoverPorts = [this] {
        ++discoveries;
        return found;
    };
    // No entry may ever reach a real port here: "1" names a path that does
    // not exist, 2 to 4 the fixture tree's legacy ports (no such nodes in
    // /dev), where a real machine has its first legacy ports.
    qputenv("REBOUNCE_COM1", "/nonexistent/rebounce-test-port");
    qputenv("REBOUNCE_COM2", "/dev/ttyFX1");
    qputenv("REBOUNCE_COM3", "/dev/ttyFX2");
    qputenv("REBOUNCE_COM4", "/dev/ttyFX3");
}

void TestForm1Ports::init()
{
    messages.clear();
    discoveries = 0;
    found = serial::listSerialDevicesUnder(REBOUNCE_PORT_FIXTURES "/linux");
    QVERIFY(!found.empty());
}

void TestForm1Ports::cleanup()
{
    form.reset();
    plug.reset();
}

void TestForm1Ports::makeForm()
{
    form = std::make_unique<Form1>();
    form->show();
    QTRY_VERIFY_WITH_TIMEOUT(control("Command1")->isEnabled(), 10000);
    auto *combo2 = control<QComboBox>("Combo2");
    combo2->setCurrentIndex(combo2->findText(QStringLiteral("115200")));
    QMetaObject::invokeMethod(form.get(), "Combo2_Click");
}

void TestForm1Ports::addPlug()
{
    plug = std::make_unique<serial::VirtualEchoPlug>();
    QVERIFY2(plug->start(), plug->errorText().c_str());
    serial::SerialDevice device;
    device.path = plug->devicePath();
    device.product = "virtual echo plug";
    found.push_back(device);
}

QStringList TestForm1Ports::texts()
{
    QStringList result;
    for (int row = 0; row < combo1()->count(); ++row)
        result << combo1()->itemText(row);
    return result;
}

void TestForm1Ports::openAndCloseList()
{
    QTest::mouseClick(combo1(), Qt::LeftButton);
    QTRY_VERIFY(combo1()->view()->isVisible());
    combo1()->hidePopup();
}

// Picks an entry with the keyboard, as a user does in a closed list box.
void TestForm1Ports::pick(const QString &text)
{
    combo1()->setFocus();
    const int target = combo1()->findText(text);
    QVERIFY2(target >= 0, qPrintable(text));
    while (combo1()->currentIndex() < target)
        QTest::keyClick(combo1(), Qt::Key_Down);
    while (combo1()->currentIndex() > target)
        QTest::keyClick(combo1(), Qt::Key_Up);
    QCOMPARE(combo1()->currentText(), text);
}

void TestForm1Ports::fixedEntriesThenDevicesWithHardware()
{
    serial::SerialDevice third; // what "3" means, fitted with a UART
    third.path = "/dev/ttyFX2";
    third.uartFitted = serial::UartFitted::Yes;
    third.uartType = "16550A";
    found.push_back(third);
    makeForm();
    // The ports without a UART (ttyFX1, ttyFX10) are left out, and "3" is not
    // listed a second time.
    QCOMPARE(texts(), (QStringList{"1", "2", "3", "4", "ACM0", "FX0", "USB0"}));
    QCOMPARE(combo1()->currentText(), QStringLiteral("1"));
    QCOMPARE(line(0), QStringLiteral("1  /nonexistent/rebounce-test-port"));
    // "2" means /dev/ttyFX1, which the discovery found without a UART.
    QCOMPARE(line(1), QStringLiteral("2  /dev/ttyFX1  no UART"));
    QCOMPARE(line(2), QStringLiteral("3  /dev/ttyFX2  16550A UART"));
    QCOMPARE(line(3), QStringLiteral("4  /dev/ttyFX3"));
    QCOMPARE(line(4), QStringLiteral("/dev/ttyACM0  Arduino Uno  2341:0043"));
    QCOMPARE(line(5), QStringLiteral("/dev/ttyFX0  16550A UART  system console  in use by agetty"));
    QCOMPARE(line(6), QStringLiteral("/dev/ttyUSB0  FT232R USB UART  0403:6001  in use by minicom"));
    // The tooltip of each number names its device.
    QCOMPARE(combo1()->itemData(0, Qt::ToolTipRole).toString(), QStringLiteral(" /nonexistent/rebounce-test-port "));
    QCOMPARE(combo1()->itemData(3, Qt::ToolTipRole).toString(), QStringLiteral(" /dev/ttyFX3 "));
    QCOMPARE(form->selectedDevice(), std::string("/nonexistent/rebounce-test-port"));
}

void TestForm1Ports::openListShowsFullLinesWiderThanTheBox()
{
    makeForm();
    QTest::mouseClick(combo1(), Qt::LeftButton);
    QAbstractItemView *list = combo1()->view();
    QTRY_VERIFY(list->isVisible());
    const QString longest = line(6);
    QVERIFY2(list->width() > combo1()->width(), qPrintable(QString::number(list->width())));
    QVERIFY2(list->width() >= list->fontMetrics().horizontalAdvance(longest),
             qPrintable(QStringLiteral("%1 < %2").arg(list->width()).arg(list->fontMetrics().horizontalAdvance(longest))));
    // The list paints the line, not the short text.
    const QSize hint = list->itemDelegate()->sizeHint(QStyleOptionViewItem(), combo1()->model()->index(6, 0));
    QVERIFY(hint.width() >= list->fontMetrics().horizontalAdvance(longest));
    combo1()->hidePopup();
    // Closed, the box shows the short name, narrowed to fit beside the arrow.
    pick(QStringLiteral("USB0"));
    const int field = combo1()->labelRect().width();
    QVERIFY(field > 20);
    for (const QString name : {"USB0", "ACM0", "pts12", "COM7", "USB10"}) {
        const PortComboBox::FittedLabel label = PortComboBox::fitLabel(name, combo1()->font(), field);
        QCOMPARE(label.text, name);
        QVERIFY2(QFontMetrics(label.font).horizontalAdvance(label.text) <= field, qPrintable(name));
    }
    // A name no narrowing can fit keeps its start.
    const PortComboBox::FittedLabel longName =
        PortComboBox::fitLabel(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"), combo1()->font(), field);
    QVERIFY(longName.text.startsWith(QLatin1String("u")));
    QVERIFY(longName.text.endsWith(QChar(0x2026)));
    QVERIFY(QFontMetrics(longName.font).horizontalAdvance(longName.text) <= field);
}

void TestForm1Ports::listIsReadAgainWhenItOpens()
{
    makeForm();
    const int atStart = discoveries;
    pick(QStringLiteral("USB0"));
    serial::SerialDevice later;
    later.path = "/dev/ttyUSB1";
    later.product = "CP2102 USB to UART Bridge Controller";
    found.insert(found.begin(), later);
    openAndCloseList();
    QCOMPARE(discoveries, atStart + 1);
    QCOMPARE(texts(), (QStringList{"1", "2", "3", "4", "USB1", "ACM0", "FX0", "USB0"}));
    // The chosen device stays chosen wherever it moved.
    QCOMPARE(form->selectedDevice(), std::string("/dev/ttyUSB0"));

    // Unplugged: it stays listed and chosen, and says it was not found.
    std::erase_if(found, [](const serial::SerialDevice &d) { return d.path == "/dev/ttyUSB0"; });
    openAndCloseList();
    QCOMPARE(combo1()->currentText(), QStringLiteral("USB0"));
    if (!QFile::exists(QStringLiteral("/dev/ttyUSB0")))
        QCOMPARE(line(combo1()->currentIndex()), QStringLiteral("/dev/ttyUSB0  (not found)"));
    QCOMPARE(form->selectedDevice(), std::string("/dev/ttyUSB0"));

    // A fixed entry stays the fixed entry.
    pick(QStringLiteral("3"));
    openAndCloseList();
    QCOMPARE(combo1()->currentText(), QStringLiteral("3"));
    QCOMPARE(form->selectedDevice(), std::string("/dev/ttyFX2"));
}

void TestForm1Ports::chosenDeviceReachesTheRun()
{
    addPlug();
    makeForm();
    const QString shortName = QString::fromStdString(serial::shortDeviceName(plug->devicePath()));
    pick(shortName);
    clickRebounce();
    QCOMPARE(messages, QStringList());
    QCOMPARE(control<QLabel>("Label3")->text(), QStringLiteral("PASS"));
    QCOMPARE(control<QLabel>("Label25")->text(), QStringLiteral("1000"));
    QVERIFY(plug->bytesReceived() >= 1000);
    // Picking "1" again goes back to COM1's device.
    pick(QStringLiteral("1"));
    clickRebounce();
    QCOMPARE(messages, QStringList{"/nonexistent/rebounce-test-port does not exist!    "});
}

void TestForm1Ports::deviceGoneBeforeTheRunDoesNotExist()
{
    addPlug();
    makeForm();
    const std::string path = plug->devicePath();
    pick(QString::fromStdString(serial::shortDeviceName(path)));
    plug.reset(); // the pseudo-terminal goes with its master
    clickRebounce();
    QCOMPARE(messages, QStringList{QString::fromStdString(path) + " does not exist!    "});
    QCOMPARE(control<QLabel>("Label15")->text(), QStringLiteral("CLOSE"));
    QVERIFY(control("Command1")->isEnabled());
    QVERIFY(combo1()->isEnabled());
}

void TestForm1Ports::deviceArgument_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("device");
    QTest::newRow("none") << QStringList{"rebounce"} << "";
    QTest::newRow("separate") << QStringList{"rebounce", "--device", "/dev/ttyUSB0"} << "/dev/ttyUSB0";
    QTest::newRow("joined") << QStringList{"rebounce", "--device=/dev/serial/by-id/usb-FTDI x"}
                            << "/dev/serial/by-id/usb-FTDI x";
    QTest::newRow("among others") << QStringList{"rebounce", "--version-x", "--device", "COM7", "file"} << "COM7";
}

void TestForm1Ports::deviceArgument()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, device);
    QCOMPARE(QString::fromStdString(Form1::deviceArgument(arguments)), device);
}

void TestForm1Ports::startWithDeviceChoosesIt()
{
    // A device nobody listed (a virtual plug) is added and chosen, and a run
    // passes on it.
    addPlug();
    found.pop_back();
    makeForm();
    form->chooseDevice(plug->devicePath());
    QCOMPARE(combo1()->currentText(), QString::fromStdString(serial::shortDeviceName(plug->devicePath())));
    QCOMPARE(combo1()->count(), 8);
    QCOMPARE(line(7), QString::fromStdString(plug->devicePath())); // there, though nobody listed it
    QCOMPARE(form->selectedDevice(), plug->devicePath());
    clickRebounce();
    QCOMPARE(messages, QStringList());
    QCOMPARE(control<QLabel>("Label3")->text(), QStringLiteral("PASS"));

    // A stable name chooses the device it stands for.
    form->chooseDevice("/dev/serial/by-id/usb-Arduino__www.arduino.cc__Arduino_Uno_85735313233351F0E1A1-if00");
    QCOMPARE(combo1()->currentText(), QStringLiteral("ACM0"));
    QCOMPARE(form->selectedDevice(), std::string("/dev/ttyACM0"));
    QCOMPARE(combo1()->count(), 7); // no second entry for the same board
    // A fixed entry's device chooses the fixed entry.
    form->chooseDevice("/dev/ttyFX3");
    QCOMPARE(combo1()->currentText(), QStringLiteral("4"));
    QCOMPARE(combo1()->count(), 7);
    // A port without a UART is listed when it is asked for, and only then.
    form->chooseDevice("/dev/ttyFX10");
    QCOMPARE(combo1()->currentText(), QStringLiteral("FX10"));
    QCOMPARE(line(combo1()->currentIndex()), QStringLiteral("/dev/ttyFX10  no UART"));
    QCOMPARE(form->selectedDevice(), std::string("/dev/ttyFX10"));
    form->chooseDevice("/dev/ttyFX2");
    QCOMPARE(combo1()->currentText(), QStringLiteral("3"));
    QCOMPARE(combo1()->findText(QStringLiteral("FX10")), -1);
}

QTEST_MAIN(TestForm1Ports)
#include "test_form1_ports.moc"
