#include "calculator/baudcalc.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

namespace {

struct Shown
{
    QMessageBox::Icon icon;
    QString title;
    QString text;
};

} // namespace

// The calculator window driven as a user would: keys into the entry boxes,
// clicks on named controls, the wheel over the list.
class BaudcalcTest : public QObject
{
    Q_OBJECT

private:
    // The main window as the calculator sees it: three controls it gives back.
    class StandInOwner : public QWidget, public calculator::CalculatorOwner
    {
    public:
        void enableAfterCalculator() override
        {
            for (const char *name : {"Combo1", "Combo2", "Command1"})
                findChild<QWidget *>(QLatin1String(name), Qt::FindDirectChildrenOnly)->setEnabled(true);
        }
    };
    std::unique_ptr<StandInOwner> m_owner;
    calculator::baudcalc *m_calc = nullptr;
    int m_beeps = 0;
    QList<Shown> m_messages;

    template<typename T>
    T *get(const char *name)
    {
        T *widget = m_calc->findChild<T *>(QLatin1String(name));
        if (widget == nullptr)
            qFatal("no control %s", name);
        return widget;
    }
    QString text(const char *label) { return get<QLabel>(label)->text(); }
    QComboBox *combo(const char *name) { return get<QComboBox>(name); }
    QListWidget *list() { return get<QListWidget>("List1"); }

    void showActive()
    {
        m_calc->show();
        QApplication::setActiveWindow(m_calc);
        QVERIFY(QTest::qWaitForWindowActive(m_calc));
    }
    // Replaces the whole entry, as after Tab into the box.
    void type(const char *box, const QString &keys)
    {
        combo(box)->lineEdit()->selectAll();
        QTest::keyClicks(combo(box), keys);
    }
    // Shift+Insert pastes without typing a character (Ctrl+V types one,
    // which the key filter refuses).
    void paste(const char *box, const QString &clip)
    {
        QApplication::clipboard()->setText(clip);
        combo(box)->lineEdit()->selectAll();
        QTest::keyClick(combo(box), Qt::Key_Insert, Qt::ShiftModifier);
    }
    void calculateWith(const QString &frequency, const QString &baud)
    {
        type("Combo1", frequency);
        type("Combo2", baud);
        QTest::keyClick(combo("Combo2"), Qt::Key_Return);
    }
    // Picks a list item as a user does: opens the list, moves to the item
    // with the arrow keys and presses Enter (also on the item already
    // shown, which is a choice too).
    void choose(const char *box, int index)
    {
        QComboBox *target = combo(box);
        target->showPopup();
        QAbstractItemView *items = target->view();
        QTRY_VERIFY(items->isVisible());
        for (int steps = 0; items->currentIndex().row() != index && steps < target->count(); ++steps)
            QTest::keyClick(items, items->currentIndex().row() < index ? Qt::Key_Down : Qt::Key_Up);
        QTest::keyClick(items, Qt::Key_Return);
        QTRY_VERIFY(!items->isVisible());
        QCOMPARE(target->currentIndex(), index);
    }
    void verifyCleared()
    {
        QCOMPARE(list()->count(), 0);
        QCOMPARE(text("Label34"), QString());
        QVERIFY(get<QLabel>("Label28")->isHidden());
        QVERIFY(!m_calc->resultsValid());
        QCOMPARE(text("Label6"), QStringLiteral("---- "));
    }

private slots:
    void init()
    {
        m_owner = std::make_unique<StandInOwner>();
        for (const char *name : {"Combo1", "Combo2", "Command1"}) {
            auto *control = new QWidget(m_owner.get());
            control->setObjectName(QLatin1String(name));
            control->setEnabled(false); // as the main window leaves them
        }
        m_calc = new calculator::baudcalc(m_owner.get(), m_owner.get());
        m_beeps = 0;
        m_messages.clear();
        m_calc->setBeepHandler([this] { ++m_beeps; });
        m_calc->setMessageHandler([this](QMessageBox::Icon icon, const QString &title, const QString &body) {
            m_messages.append({icon, title, body});
        });
    }
    void cleanup() { m_owner.reset(); }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QRect>("geometry");
        // geometry: twips / 15
        QTest::newRow("Label1") << "Label1" << "Clock frequency in Herz :" << "" << QRect(16, 11, 129, 17);
        QTest::newRow("Label2") << "Label2" << "Requested baud rate : " << "" << QRect(16, 35, 137, 17);
        QTest::newRow("Combo1") << "Combo1" << "" << " Select a value or enter a custom value " << QRect(160, 8, 105, 21);
        QTest::newRow("Combo2") << "Combo2" << "" << " Select a value or enter a custom value " << QRect(160, 32, 105, 21);
        QTest::newRow("Check1") << "Check1" << "Show additional crystal frequencies" << " You can also enter custom values " << QRect(272, 8, 201, 17);
        QTest::newRow("Label23") << "Label23" << "" << "" << QRect(8, 56, 457, 81);
        QTest::newRow("Label4") << "Label4" << "Baud rate closest match :" << "" << QRect(16, 88, 137, 17);
        QTest::newRow("Label16") << "Label16" << "UBRRnL value :" << "" << QRect(296, 88, 89, 17);
        QTest::newRow("Label29") << "Label29" << "U2Xn = 0" << "" << QRect(392, 112, 65, 19);
        QTest::newRow("Label14") << "Label14" << "---- " << "" << QRect(160, 200, 105, 19);
        QTest::newRow("Command3") << "Command3" << "Double Speed :" << "" << QRect(288, 200, 89, 19);
        QTest::newRow("Label30") << "Label30" << "U2Xn = 1" << "" << QRect(392, 200, 65, 19);
        QTest::newRow("Label39") << "Label39" << "" << "" << QRect(8, 232, 457, 22);
        QTest::newRow("Label25") << "Label25" << "All the possible baud rates with the oscillator frequency = 14.745600 MHz" << "" << QRect(16, 235, 425, 17);
        QTest::newRow("List1") << "List1" << "" << "" << QRect(8, 255, 457, 121);
        QTest::newRow("Text3") << "Text3" << "Please wait ....." << "" << QRect(16, 259, 201, 19);
        QTest::newRow("Label27") << "Label27" << "" << "" << QRect(8, 377, 457, 22);
        QTest::newRow("Label36") << "Label36" << "" << "" << QRect(153, 380, 25, 19);
        QTest::newRow("Label28") << "Label28" << "Ctrl+End, Ctrl+Home, PgDn, PgUp." << "" << QRect(292, 380, 193, 17);
        // centred on the outer width, 7110 + 2 x 45 twips of frame:
        // 7200 / 2 - 1095 / 2 = 3052.5 twips, 203.5 pixels, rounded
        QTest::newRow("Command1") << "Command1" << "Calculate" << "" << QRect(204, 416, 73, 23);
        QTest::newRow("Command2") << "Command2" << "focus" << "" << QRect(304, 1000, 81, 25);
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, toolTip);
        QFETCH(QRect, geometry);
        auto *widget = m_calc->findChild<QWidget *>(name);
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->geometry(), geometry);
        QCOMPARE(widget->toolTip(), toolTip);
        if (auto *label = qobject_cast<QLabel *>(widget))
            QCOMPARE(label->text(), caption);
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            QCOMPARE(button->text(), caption);
        else if (auto *edit = qobject_cast<QLineEdit *>(widget))
            QCOMPARE(edit->text(), caption);
    }

    void window()
    {
        QCOMPARE(m_calc->windowTitle(), QStringLiteral(" AVR baud rate calculator  (Asynchronous operation)"));
        QCOMPARE(m_calc->size(), QSize(474, 447));
        QCOMPARE(m_calc->minimumSize(), m_calc->maximumSize());
        QVERIFY(!(m_calc->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(m_calc->palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
        QCOMPARE(get<QLabel>("Label39")->palette().color(QPalette::Window), QColor(0x00, 0x00, 0x80));
        QCOMPARE(get<QLabel>("Label25")->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0xFF));
        QCOMPARE(get<QLabel>("Label18")->palette().color(QPalette::WindowText), QColor(0x40, 0x40, 0x40));
        QVERIFY(!get<QLabel>("Label25")->autoFillBackground());
        QVERIFY(!get<QLabel>("Label34")->autoFillBackground());
        QCOMPARE(get<QLabel>("Label6")->alignment(), Qt::AlignCenter);
        QCOMPARE(get<QLabel>("Label6")->frameShape(), QFrame::Box);
        QCOMPARE(m_calc->font().pointSize(), 8);
    }

    void stackingOrder_data()
    {
        QTest::addColumn<QString>("below");
        QTest::addColumn<QString>("above");
        QTest::newRow("heading over navy bar") << "Label39" << "Label25";
        QTest::newRow("hint over bottom bar") << "Label27" << "Label28";
        QTest::newRow("UBRRn over bottom bar") << "Label27" << "Label33";
        QTest::newRow("UBRRnL value over bottom bar") << "Label27" << "Label38";
        QTest::newRow("notice over list") << "List1" << "Text3";
        QTest::newRow("value over panel frame") << "Label23" << "Label6";
    }
    void stackingOrder()
    {
        QFETCH(QString, below);
        QFETCH(QString, above);
        const QObjectList &children = m_calc->children();
        QVERIFY(children.indexOf(m_calc->findChild<QWidget *>(below))
                < children.indexOf(m_calc->findChild<QWidget *>(above)));
    }

    void tabCyclesTheInputsOnly()
    {
        showActive();
        get<QPushButton>("Command1")->setFocus();
        const QStringList before = {"Combo1", "Combo2", "Check1", "Command1"};
        for (const QString &expected : before) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), expected);
        }
        QTest::mouseClick(get<QPushButton>("Command1"), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("List1"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command1"));
    }

    void loadState()
    {
        QCOMPARE(combo("Combo1")->currentText(), QStringLiteral("14745600"));
        QCOMPARE(combo("Combo1")->count(), 12);
        QCOMPARE(combo("Combo2")->currentText(), QStringLiteral("9600"));
        QCOMPARE(combo("Combo2")->count(), 32);
        for (const char *label : {"Label6", "Label7", "Label8", "Label17", "Label18", "Label12",
                                  "Label13", "Label14", "Label21", "Label22"})
            QCOMPARE(text(label), QStringLiteral("---- "));
        QCOMPARE(text("Label26"), QStringLiteral("14.745600 MHz"));
        QVERIFY(get<QLabel>("Label28")->isHidden());
        QVERIFY(get<QLineEdit>("Text3")->isHidden());
        QVERIFY(!list()->isEnabled());
        QCOMPARE(list()->count(), 0);
        QVERIFY(!get<QCheckBox>("Check1")->isChecked());
    }

    void refusedKeysBeep_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("key");
        for (const char *box : {"Combo1", "Combo2"})
            for (const char *key : {"a", ".", "-", " ", "e", "+"})
                QTest::newRow(qPrintable(QStringLiteral("%1 '%2'").arg(box, key))) << box << key;
    }
    void refusedKeysBeep()
    {
        QFETCH(QString, box);
        QFETCH(QString, key);
        const QByteArray name = box.toLatin1();
        type(name, QStringLiteral("12"));
        QTest::keyClicks(combo(name), key);
        QCOMPARE(combo(name)->currentText(), QStringLiteral("12"));
        QCOMPARE(m_beeps, 1);
    }

    void editingChordsBeepAndChangeNothing_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        for (const char *box : {"Combo1", "Combo2"}) {
            auto row = [box](const char *name, Qt::Key key, Qt::KeyboardModifiers modifiers) {
                QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(box, name)))
                    << box << int(key) << int(modifiers);
            };
            row("ctrl+v", Qt::Key_V, Qt::ControlModifier);
            row("ctrl+shift+v", Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
            row("ctrl+c", Qt::Key_C, Qt::ControlModifier);
            row("ctrl+x", Qt::Key_X, Qt::ControlModifier);
            row("ctrl+a", Qt::Key_A, Qt::ControlModifier);
            row("ctrl+z", Qt::Key_Z, Qt::ControlModifier);
            row("ctrl+backspace", Qt::Key_Backspace, Qt::ControlModifier);
            row("alt+5", Qt::Key_5, Qt::AltModifier);
        }
    }
    void editingChordsBeepAndChangeNothing()
    {
        QFETCH(QString, box);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        const QByteArray name = box.toLatin1();
        QLineEdit *edit = combo(name)->lineEdit();
        type(name, QStringLiteral("12"));
        QTest::keyClicks(combo(name), QStringLiteral("3")); // something to undo
        edit->setSelection(0, 2);                           // something to copy or cut
        QApplication::clipboard()->setText(QStringLiteral("45"));
        m_beeps = 0;

        QTest::keyClick(combo(name), Qt::Key(key), Qt::KeyboardModifiers(modifiers));

        QCOMPARE(combo(name)->currentText(), QStringLiteral("123"));
        QCOMPARE(edit->selectedText(), QStringLiteral("12"));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("45"));
        QCOMPARE(m_beeps, 1);
    }

    // The edit menu's Paste is no typed character: the text arrives and the
    // repair rules judge it.
    void contextMenuPasteIsRepaired_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<int>("beeps");
        QTest::newRow("Combo1 number") << "Combo1" << "16000000" << "16000000" << 0;
        QTest::newRow("Combo1 exponent") << "Combo1" << "1.6e7" << "1.6e7" << 0;
        QTest::newRow("Combo1 not a number") << "Combo1" << "12ab" << "0" << 0;
        QTest::newRow("Combo1 too long") << "Combo1" << "123456789" << "12345678" << 1;
        QTest::newRow("Combo2 not a number") << "Combo2" << "x" << "0" << 0;
        QTest::newRow("Combo2 too long") << "Combo2" << "12345678" << "1234567" << 1;
    }
    void contextMenuPasteIsRepaired()
    {
        QFETCH(QString, box);
        QFETCH(QString, clip);
        QFETCH(QString, kept);
        QFETCH(int, beeps);
        showActive();
        const QByteArray name = box.toLatin1();
        QLineEdit *edit = combo(name)->lineEdit();
        edit->setFocus();
        edit->selectAll();
        QApplication::clipboard()->setText(clip);
        m_beeps = 0;

        bool pasted = false;
        QTimer::singleShot(0, this, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (QAction *action : menu->actions()) {
                if (action->text().startsWith(QLatin1String("&Paste")) && action->isEnabled()) {
                    menu->setActiveAction(action);
                    QTest::keyClick(menu, Qt::Key_Return);
                    pasted = true;
                    return;
                }
            }
            menu->close();
        });
        const QPoint at = edit->rect().center();
        QContextMenuEvent request(QContextMenuEvent::Mouse, at, edit->mapToGlobal(at));
        QApplication::sendEvent(edit, &request);
        QTRY_VERIFY(pasted);
        QTRY_COMPARE(combo(name)->currentText(), kept);
        QCOMPARE(m_beeps, beeps);
        QVERIFY(!m_calc->resultsValid());
    }

    void typingUpdatesCaptionAndClearsResults_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("caption");
        QTest::newRow("6 digits in kHz") << "921600" << "921.600 kHz";
        QTest::newRow("7 digits in MHz") << "1843200" << "1.843200 MHz";
        QTest::newRow("watch crystal") << "32768" << "32.768 kHz";
        QTest::newRow("single precision") << "33333333" << "33.333332 MHz";
    }
    void typingUpdatesCaptionAndClearsResults()
    {
        QFETCH(QString, typed);
        QFETCH(QString, caption);
        type("Combo1", typed);
        QCOMPARE(combo("Combo1")->currentText(), typed);
        QCOMPARE(text("Label26"), caption);
        QCOMPARE(text("Label25"), "All the possible baud rates with the oscillator frequency = " + caption);
        QCOMPARE(m_beeps, 0);
    }

    void overLongEntryIsCut_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("ninth digit in Combo1") << "Combo1" << "123456789" << "12345678";
        QTest::newRow("eighth digit in Combo2") << "Combo2" << "12345678" << "1234567";
    }
    void overLongEntryIsCut()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        const QByteArray name = box.toLatin1();
        type(name, typed);
        QCOMPARE(combo(name)->currentText(), kept);
        QCOMPARE(combo(name)->lineEdit()->cursorPosition(), kept.size());
        QCOMPARE(m_beeps, 1);
    }

    void deletingTheLastDigitLeavesSelectedZero()
    {
        type("Combo1", QStringLiteral("5"));
        QTest::keyClick(combo("Combo1"), Qt::Key_Backspace);
        QCOMPARE(combo("Combo1")->currentText(), QStringLiteral("0"));
        QCOMPARE(combo("Combo1")->lineEdit()->selectedText(), QStringLiteral("0"));
        QCOMPARE(text("Label26"), QStringLiteral("0.000 kHz"));
        QTest::keyClicks(combo("Combo1"), QStringLiteral("7"));
        QCOMPARE(combo("Combo1")->currentText(), QStringLiteral("7"));
        QCOMPARE(m_beeps, 0);
    }

    void pastedText_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("caption");
        QTest::newRow("not a number") << "abc" << "0" << "0.000 kHz";
        QTest::newRow("inf") << "inf" << "0" << "0.000 kHz";
        QTest::newRow("nan") << "nan" << "0" << "0.000 kHz";
        QTest::newRow("exponent") << "1.6e7" << "1.6e7" << "16000.000 kHz";
        QTest::newRow("beyond single") << "1e40" << "1e40" << "Out of range";
        QTest::newRow("huge and long") << "1e4000000000" << "1e400000" << "Out of range";
        QTest::newRow("negative") << "-5" << "-5" << "-0.005 kHz";
    }
    void pastedText()
    {
        QFETCH(QString, clip);
        QFETCH(QString, kept);
        QFETCH(QString, caption);
        paste("Combo1", clip);
        QCOMPARE(combo("Combo1")->currentText(), kept);
        QCOMPARE(text("Label26"), caption);
    }

    void pastedNumbersNeverShowGarbage_data()
    {
        QTest::addColumn<QString>("frequency");
        QTest::addColumn<QString>("baud");
        QTest::newRow("frequency beyond single") << "1e40" << "9600";
        QTest::newRow("rate beyond single") << "16000000" << "1e39";
        QTest::newRow("negative frequency") << "-5" << "9600";
        QTest::newRow("negative rate") << "16000000" << "-9600";
        QTest::newRow("overflowing quotient") << "3e38" << "1e-30";
    }
    void pastedNumbersNeverShowGarbage()
    {
        QFETCH(QString, frequency);
        QFETCH(QString, baud);
        paste("Combo1", frequency);
        paste("Combo2", baud);
        QTest::keyClick(combo("Combo2"), Qt::Key_Return);
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].text, QStringLiteral("An unexpected error occurred! Please check entered values!"));
        QVERIFY(!m_calc->resultsValid());
        QCOMPARE(text("Label7"), QStringLiteral("---- "));
    }

    void enterCalculates_data()
    {
        QTest::addColumn<QString>("frequency");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QStringList>("normal");
        QTest::addColumn<QStringList>("doubleSpeed");
        QTest::addColumn<int>("line");
        QTest::addColumn<QStringList>("details");
        QTest::newRow("16 MHz 9600") << "16000000" << "9600"
                                     << QStringList{"103", "9615.38", "0.16 %", "0", "103"}
                                     << QStringList{"207", "9615.38", "0.16 %", "0", "207"} << 206
                                     << QStringList{"103", "0", "103"};
        QTest::newRow("14.7456 MHz 115200") << "14745600" << "115200"
                                            << QStringList{"7", "115200.00", "0.00 %", "0", "7"}
                                            << QStringList{"15", "115200.00", "0.00 %", "0", "15"} << 14
                                            << QStringList{"7", "0", "7"};
        QTest::newRow("16 MHz 2000000") << "16000000" << "2000000"
                                        << QStringList{"0", "1000000.00", "-50.00 %", "0", "0"}
                                        << QStringList{"0", "2000000.00", "0.00 %", "0", "0"} << 1
                                        << QStringList{"0", "0", "0"};
        QTest::newRow("16 MHz 50") << "16000000" << "50"
                                   << QStringList{"4095", "244.14", "388.28 %", "15", "255"}
                                   << QStringList{"4095", "488.28", "876.56 %", "15", "255"} << 8190
                                   << QStringList{"4095", "15", "255"};
    }
    void enterCalculates()
    {
        QFETCH(QString, frequency);
        QFETCH(QString, baud);
        QFETCH(QStringList, normal);
        QFETCH(QStringList, doubleSpeed);
        QFETCH(int, line);
        QFETCH(QStringList, details);
        calculateWith(frequency, baud);
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(combo("Combo2")->currentText(), baud); // Enter inserted nothing
        QCOMPARE((QStringList{text("Label6"), text("Label7"), text("Label8"), text("Label17"), text("Label18")}), normal);
        QCOMPARE((QStringList{text("Label12"), text("Label13"), text("Label14"), text("Label21"), text("Label22")}),
                 doubleSpeed);
        QCOMPARE(list()->count(), 8192);
        QCOMPARE(list()->currentRow(), line);
        QCOMPARE((QStringList{text("Label34"), text("Label36"), text("Label38")}), details);
        QVERIFY(list()->isEnabled());
        QVERIFY(get<QLabel>("Label28")->isVisibleTo(m_calc));
        QVERIFY(get<QLineEdit>("Text3")->isHidden());
        QVERIFY(m_calc->resultsValid());
        QVERIFY(get<QPushButton>("Command1")->isEnabled());
        QVERIFY(get<QCheckBox>("Check1")->isEnabled());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QCOMPARE(list()->item(0)->text(), QStringLiteral(" UBRRn value = 0          U2Xn = 0          Baud rate = ")
                                              + (frequency == "16000000" ? "1000000.00" : "921600.00"));
    }

    // Figures with decimals speak the user's locale; what is typed or
    // pasted reads as before ("." as the point), and the details of a line
    // still find its register value.
    void figuresUseTheLocalesDecimalSeparator()
    {
        const QLocale previous;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const auto restore = qScopeGuard([&] { QLocale::setDefault(previous); });
        paste("Combo1", QStringLiteral("1.6e7"));
        QCOMPARE(text("Label26"), QStringLiteral("16000,000 kHz"));
        calculateWith(QStringLiteral("16000000"), QStringLiteral("2000000"));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(text("Label26"), QStringLiteral("16,000000 MHz"));
        QCOMPARE(text("Label25"), QStringLiteral("All the possible baud rates with the oscillator frequency = 16,000000 MHz"));
        QCOMPARE((QStringList{text("Label6"), text("Label7"), text("Label8"), text("Label17"), text("Label18")}),
                 (QStringList{"0", "1000000,00", "-50,00 %", "0", "0"}));
        QCOMPARE(text("Label13"), QStringLiteral("2000000,00"));
        QCOMPARE(list()->item(206)->text(),
                 QStringLiteral(" UBRRn value = 103          U2Xn = 0          Baud rate = 9615,38"));
        list()->setCurrentRow(206);
        QCOMPARE((QStringList{text("Label34"), text("Label36"), text("Label38")}), (QStringList{"103", "0", "103"}));
    }

    void missingInputsAsk_data()
    {
        QTest::addColumn<QString>("frequency");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("focus");
        QTest::newRow("frequency 0") << "0" << "9600" << "Please enter first the AVR Oscillator frequency!" << "Combo1";
        QTest::newRow("frequency 0, rate 0") << "0" << "0" << "Please enter first the AVR Oscillator frequency!" << "Combo1";
        QTest::newRow("rate 0") << "16000000" << "0" << "Please enter first the requested baud rate!" << "Combo2";
    }
    void missingInputsAsk()
    {
        QFETCH(QString, frequency);
        QFETCH(QString, baud);
        QFETCH(QString, text);
        QFETCH(QString, focus);
        showActive();
        calculateWith(frequency, baud);
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].icon, QMessageBox::Warning);
        QCOMPARE(m_messages[0].title, QStringLiteral(" Rebounce Test"));
        QCOMPARE(m_messages[0].text, text);
        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
        QVERIFY(!list()->isEnabled());
        QVERIFY(get<QPushButton>("Command1")->isEnabled());
    }

    void registerMinusOneTakesTheErrorPath()
    {
        showActive();
        calculateWith(QStringLiteral("16000000"), QStringLiteral("9000000"));
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].title, QStringLiteral(" Rebounce Test"));
        QCOMPARE(m_messages[0].text, QStringLiteral("An unexpected error occurred! Please check entered values!"));
        QCOMPARE(text("Label6"), QStringLiteral("---- "));
        QCOMPARE(text("Label12"), QStringLiteral("---- "));
        QVERIFY(!list()->isEnabled());
        for (const char *name : {"Combo1", "Combo2", "Check1", "Command1", "Command3"})
            QVERIFY2(get<QWidget>(name)->isEnabled(), name);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command1"));
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void locateByClickingTheRegisterValue()
    {
        showActive();
        QTest::mouseClick(get<QLabel>("Label12"), Qt::LeftButton);
        QTest::mouseMove(get<QLabel>("Label12"));
        QCOMPARE(get<QLabel>("Label12")->toolTip(), QString());

        calculateWith(QStringLiteral("16000000"), QStringLiteral("9600"));
        QTest::mouseMove(get<QLabel>("Label12"), QPoint(5, 5));
        QTest::mouseMove(get<QLabel>("Label12"), QPoint(6, 6));
        QCOMPARE(get<QLabel>("Label12")->toolTip(), QStringLiteral(" Click here to locate this value in the list below "));
        QTest::mouseClick(get<QLabel>("Label12"), Qt::LeftButton);
        QCOMPARE(list()->currentRow(), 415);
        QCOMPARE((QStringList{text("Label34"), text("Label36"), text("Label38")}), (QStringList{"207", "0", "207"}));
        QTest::mouseClick(get<QLabel>("Label6"), Qt::LeftButton);
        QCOMPARE(list()->currentRow(), 206);

        // Any edit discards the results: the click does nothing any more.
        QTest::keyClicks(combo("Combo2"), QStringLiteral("0"));
        verifyCleared();
        QCOMPARE(get<QLabel>("Label12")->toolTip(), QString());
        QTest::mouseClick(get<QLabel>("Label12"), Qt::LeftButton);
        QCOMPARE(list()->currentRow(), -1);
        QTest::keyClick(list(), Qt::Key_Down); // the emptied list ignores keys
        QCOMPARE(text("Label34"), QString());
    }

    void outOfRangeCannotBeLocated()
    {
        paste("Combo1", QStringLiteral("1e12"));
        type("Combo2", QStringLiteral("1"));
        QTest::keyClick(combo("Combo2"), Qt::Key_Return);
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(text("Label6"), QStringLiteral("Out of range"));
        QCOMPARE(text("Label12"), QStringLiteral("Out of range"));
        QCOMPARE(text("Label7"), QStringLiteral("---- "));
        QCOMPARE(list()->currentRow(), 0);
        list()->setCurrentRow(10);
        QTest::mouseClick(get<QLabel>("Label6"), Qt::LeftButton);
        QCOMPARE(list()->currentRow(), 10);
    }

    void wheelClearsDetailsAndKeepsSelection()
    {
        showActive();
        QVERIFY(m_calc->isListHooked());
        calculateWith(QStringLiteral("16000000"), QStringLiteral("9600"));
        QCOMPARE(text("Label34"), QStringLiteral("103"));
        QWidget *viewport = list()->viewport();
        const QPoint at = viewport->rect().center();
        QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
        QCOMPARE(list()->currentRow(), 206);
        QCOMPARE((QStringList{text("Label34"), text("Label36"), text("Label38")}), (QStringList{"", "", ""}));
        QTest::keyClick(list(), Qt::Key_Down);
        QCOMPARE(list()->currentRow(), 207);
        QCOMPARE(text("Label34"), QStringLiteral("103"));

        list()->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(text("Label34"), QString());
        QCOMPARE(list()->currentRow(), 207);
    }

    void wheelWatcherFollowsActivation()
    {
        QVERIFY(!m_calc->isListHooked());
        showActive();
        QVERIFY(m_calc->isListHooked());
        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(!m_calc->isListHooked());
        QApplication::setActiveWindow(m_calc);
        QVERIFY(QTest::qWaitForWindowActive(m_calc));
        QVERIFY(m_calc->isListHooked());
    }

    void catalogueSwitch()
    {
        calculateWith(QStringLiteral("16000000"), QStringLiteral("9600"));
        type("Combo1", QStringLiteral("12345"));
        QTest::keyClick(combo("Combo1"), Qt::Key_Return);
        QVERIFY(m_calc->resultsValid());

        QTest::mouseClick(get<QCheckBox>("Check1"), Qt::LeftButton, {}, QPoint(5, 8));
        QVERIFY(get<QCheckBox>("Check1")->isChecked());
        QCOMPARE(combo("Combo1")->count(), 71);
        QCOMPARE(combo("Combo1")->currentIndex(), 50);
        QCOMPARE(combo("Combo1")->currentText(), QStringLiteral("14745600"));
        QCOMPARE(combo("Combo2")->currentText(), QStringLiteral("9600"));
        QCOMPARE(text("Label26"), QStringLiteral("14.745600 MHz"));
        verifyCleared();

        QTest::mouseClick(get<QCheckBox>("Check1"), Qt::LeftButton, {}, QPoint(5, 8));
        QCOMPARE(combo("Combo1")->count(), 12);
        QCOMPARE(combo("Combo1")->currentIndex(), 8);
        QCOMPARE(combo("Combo1")->currentText(), QStringLiteral("14745600"));
    }

    void choosingTheCalculatedValueKeepsResults()
    {
        QTest::keyClick(combo("Combo2"), Qt::Key_Return); // 14745600 / 9600 from the catalogues
        QVERIFY(m_calc->resultsValid());
        choose("Combo2", 15); // "9600" again
        choose("Combo1", 8);  // "14745600" again
        QVERIFY(m_calc->resultsValid());
        QCOMPARE(list()->count(), 8192);
        choose("Combo2", 16); // "14400"
        verifyCleared();
    }

    void arrowKeyInTheBoxIsAChoice()
    {
        QTest::keyClick(combo("Combo2"), Qt::Key_Return);
        QVERIFY(m_calc->resultsValid());
        QTest::keyClick(combo("Combo1"), Qt::Key_Down);
        QCOMPARE(combo("Combo1")->currentText(), QStringLiteral("16000000"));
        QCOMPARE(text("Label26"), QStringLiteral("16.000000 MHz"));
        verifyCleared();
    }

    void focusSelectsTheWholeEntry()
    {
        showActive();
        get<QPushButton>("Command1")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(combo("Combo1")->lineEdit()->selectedText(), QStringLiteral("14745600"));
        QTest::keyClicks(combo("Combo1"), QStringLiteral("8"));
        QCOMPARE(combo("Combo1")->currentText(), QStringLiteral("8"));
        QCOMPARE(text("Label26"), QStringLiteral("0.008 kHz"));
    }

    void doubleSpeedNote()
    {
        showActive();
        calculateWith(QStringLiteral("16000000"), QStringLiteral("9600"));
        QTest::mouseClick(get<QPushButton>("Command3"), Qt::LeftButton);
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].icon, QMessageBox::Information);
        QCOMPARE(m_messages[0].title, QStringLiteral(" AVR baud rate calculator "));
        const QStringList lines = m_messages[0].text.split(u'\n');
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines[0], QStringLiteral("Double Speed Operation    ( U2Xn = 1 )"));
        QCOMPARE(lines[1], QString());
        QCOMPARE(lines[8], QStringLiteral("there are no downsides. (See AVR datasheet)."));
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command1"));
        QVERIFY(m_calc->resultsValid());
    }

    void escapeDoesNotClose()
    {
        showActive();
        QTest::keyClick(list(), Qt::Key_Escape);
        QVERIFY(m_calc->isVisible());
    }

    void closingGivesTheOwnerItsControlsBack()
    {
        showActive();
        m_calc->close();
        for (const char *name : {"Combo1", "Combo2", "Command1"}) {
            const QList<QWidget *> named = m_owner->findChildren<QWidget *>(QLatin1String(name));
            for (QWidget *control : named) {
                if (control->parent() == m_owner.get())
                    QVERIFY2(control->isEnabled(), name);
            }
        }
    }
};

QTEST_MAIN(BaudcalcTest)
#include "baudcalc_test.moc"
