#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>

#include <functional>
#include <memory>

class QComboBox;
class QKeyEvent;
class QLabel;

namespace Ui {
class baudcalc;
}

namespace calculator {

// The AVR baud-rate calculator window, opened modally over the main window.
//
// Its controls keep fixed names (objectName, set in baudcalc.ui):
//   Combo1   oscillator frequency in Hz        Combo2   requested baud rate
//   Check1   extended crystal catalogue        Command1 "Calculate"
//   Command2 focus sink, parked off-screen     Command3 double-speed note
//   Label6, Label7, Label8, Label17, Label18   results for U2Xn = 0
//            (UBRRn, closest rate, error, UBRRnH, UBRRnL)
//   Label12, Label13, Label14, Label21, Label22  the same for U2Xn = 1
//   Label26  frequency in kHz/MHz               Label25  heading of the rate list
//   List1    all 8192 obtainable rates          Text3    busy notice over the list
//   Label34, Label36, Label38  UBRRn, UBRRnH, UBRRnL of the selected list line
//   Label28  key hint under the list            Label23, Label24, Label27, Label39 frames/bars
// The remaining labels are static captions.
//
// What the calculator asks of the window that opened it.
class CalculatorOwner
{
public:
    virtual ~CalculatorOwner() = default;
    // The calculator is closing: the owner's Combo1, Combo2 and Command1,
    // which it disabled on opening the calculator, are enabled again.
    virtual void enableAfterCalculator() = 0;
};

class baudcalc : public QDialog
{
    Q_OBJECT

public:
    explicit baudcalc(QWidget *parent, CalculatorOwner *owner = nullptr);
    ~baudcalc() override;

    // Seams for tests; by default QApplication::beep() and a modal QMessageBox.
    using BeepHandler = std::function<void()>;
    using MessageHandler =
        std::function<void(QMessageBox::Icon icon, const QString &title, const QString &text)>;
    void setBeepHandler(BeepHandler handler);
    void setMessageHandler(MessageHandler handler);

    // True only between a successful calculation and the next input change.
    bool resultsValid() const { return m_resultsValid; }
    // True while the wheel watcher sits on the rate list (window active).
    bool isListHooked() const { return m_listHooked; }

public slots:
    void calculate(); // Command1, or Enter in either entry box

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void done(int result) override;

private:
    void applyColours();
    void load();
    void connectControls();
    void fillFrequencyCatalogue(bool extended);

    bool filterEntryKey(QKeyEvent *key);
    void frequencyEdited(); // Combo1 Change
    void baudEdited();      // Combo2 Change
    void frequencyChosen(); // Combo1 Click
    void baudChosen();      // Combo2 Click
    void repairEntry(QComboBox *box, int maxLength, void (baudcalc::*change)());
    void updateFrequencyCaption();
    void switchCatalogue();

    void clearResults();
    void setResultPlaceholders();
    void fillList(float frequency);
    void failCalculation();
    void setWaitCursor(bool on);

    void showDetails();
    void clearDetails();
    void selectLine(int row);
    void locate(QLabel *label, int mode);
    void showDoubleSpeedNote();

    void hookList();
    void unhookList();
    void giveOwnerControlsBack();

    void beep();
    void message(QMessageBox::Icon icon, const QString &title, const QString &text);

    std::unique_ptr<Ui::baudcalc> m_ui;
    BeepHandler m_beep;
    MessageHandler m_message;
    bool m_resultsValid = false;
    CalculatorOwner *m_owner = nullptr;
    bool m_listHooked = false;
    bool m_waitCursor = false;
    QString m_lastFrequencyText; // Combo1 text of the last calculation
    QString m_lastBaudText;      // Combo2 text of the last calculation
};

} // namespace calculator
