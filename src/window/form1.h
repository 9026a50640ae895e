#pragma once
// Form1, the main window of the echo test.
#include <QMessageBox>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

#include "calculator/baudcalc.h"
#include "engine/echo_engine.h"
#include "engine/port_entries.h"
#include "help/help_view.h"
#include "serial/modcomm.h"
#include "serial/port_discovery.h"
#include "window/window_comm_platform.h"
#include "winsvc/window_menu.h"

class QColor;
class QLabel;
class QTimer;

namespace Ui {
class Form1;
}

namespace echotest {

// The main window.  Its controls keep their historical names as Qt object
// names (form1.ui holds the layout one to one, 15 twips to a pixel):
//
//   Combo1    port selector, items "1" to "4" (COM1 to COM4), then the
//             serial devices found (short name closed, full line open)
//   Combo2    baud rate, one of 23 list items or typed/pasted digits
//   Label12   calculated minimum transmission time of 1000 bytes ("1042 ms")
//   Label2    bytes handed to the system so far ("n/1000")
//   Label6    time the 1000 bytes took to hand over ("----- ms")
//   Label14   time of the last read of the reception buffer ("----- ms")
//   Label1    bytes received back ("n/1000")
//   Label3    verdict, "PASS" / "FAIL" / "-----", coloured
//   Label15   port status, "CLOSE" / "OPEN", drawn above Image1
//   Label18   pass counter        Label21  fail counter
//   Label23   total bytes sent    Label25  total bytes received
//   Label4, 5, 7, 8, 9, 10, 11, 13, 16, 19, 20, 22, 24: plain captions
//   Text1     transmitted data (cyan on black)
//   Text2     received data (green on black)
//   Text3     "please wait" notice over the top row, hidden until needed
//   Image1    connection diagram
//   Check1    accept a lower-case echo
//   Command1  "Rebounce ", starts a test run
//   Command2  "Abort Test"
//   Command3  "focus", focus sink parked below the client area
//   Command4  "Help"      Command5  "Close Help" (inside Picture1)
//   Command6  "Calculator"
//   Picture1  help view container with T4 (help text) and Label17 (panel)
//   Timer1    50 ms, live progress during a run
//   Timer2    500 ms, start-up step, fires once
//   Timer3    2000 ms, hides Text3
//
// Handlers keep the control-and-event names (Combo2_Change) so that each
// rule of the window can be found by the control it belongs to.
class Form1 : public QWidget, private RunView, private help::HelpHost, private calculator::CalculatorOwner {
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // Calculated minimum transmission time of 1000 bytes at the selected
    // rate, in whole milliseconds; 0 when the rate text is not positive.
    int32_t MinTransmitTime() const { return plan_.lineTimeMs(); }

    // Sounds the system beep.  Tests replace it to count beeps; an empty
    // function silences it.
    static std::function<void()> beep;

    // Paints a label's background and text, the way the layout colours it.
    static void setLabelColours(QLabel *label, const QColor &background, const QColor &text);

    // Shows a modal message box with the application title and returns the
    // button chosen.  Tests replace it to read and answer the messages.
    using MessageBoxFunction = std::function<QMessageBox::StandardButton(
        const QString &text, QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton)>;
    static MessageBoxFunction messageBox;

    // Finds the machine's serial devices for Combo1, each time its list
    // opens.  Tests replace it with a fixed list.
    using PortDiscovery = std::function<std::vector<serial::SerialDevice>()>;
    static PortDiscovery discoverPorts;

    // The device the current Combo1 entry means: what a run opens and what
    // its messages name.  "COM1".."COM4" for "1".."4" on Windows, the device
    // they are mapped to on Linux; the device's path for the other entries.
    std::string selectedDevice() const;
    // Chooses device in Combo1, adding it when it was not found (a start
    // with --device).  Counts as the user's pick.
    void chooseDevice(const std::string &device);
    // The device a start names: "--device PATH" or "--device=PATH" among the
    // program's arguments; empty when none does.  Other arguments are left
    // to whoever else reads them.
    static std::string deviceArgument(const QStringList &arguments);

    // Runs before the window exists: names the system and refuses the
    // versions the program does not run on (with a message).  False: end.
    static bool Form_Initialize();

    // The state the run shares with the window's handlers (AbortRequested,
    // ClosePending, CloseAttempts, AbortMessage).
    const RunFlags &runFlags() const { return engine_->flags(); }
    // A test transfer is in progress (the window menu is refused meanwhile).
    bool isTestRunning() const { return engine_->isRunning(); }
    // The serial layer the window tests through.
    serial::modCOMM &comm() { return comm_; }

public slots:
    void Command1_Click(); // start a test run
    void Command2_Click(); // abort the running test
    void Command4_Click(); // open the help view
    void Command5_Click(); // close the help view
    void Command6_Click(); // open the calculator
    void Timer1_Timer();   // live progress of a run
    void Timer2_Timer();   // start-up: fill Text1, enable the buttons
    void Timer3_Timer();   // hide the notice Text3

    void Combo1_Click();  // a port was picked
    void Combo2_Click();  // a listed rate was picked
    void Combo2_Change(); // the rate text was typed, pasted or set
    void Combo2_GotFocus();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;  // QueryUnload
    void changeEvent(QEvent *event) override;      // Resize: minimise and restore

private:
    void applyLayoutLook();
    void fillSelectors();
    void fillCombo1(const std::string &keep);
    void refreshCombo1();
    void connectHandlers();
    void clearResultDisplays();
    void showBaudReading(const BaudReading &reading);
    bool filterCombo2Key(QEvent *event);
    RunSettings runSettings() const;
    void showTally(const RunTally &tally);
    void restoreCursor();

    // The window as the test run shows itself on it.
    void showCleared() override;
    void showMessage(const std::string &text, MessageIcon icon) override;
    void showStage(RunStage stage) override;
    void showTimes(const RunResult &result) override;
    void showResult(const RunResult &result, const RunTally &tally) override;
    void showAborted(const std::string &reason) override;
    void yield() override;
    void closeWindow() override;

    // The window as the help view switches it.
    QWidget *hostWindow() override { return this; }
    help::HelpControls helpControls() override;
    void enableNormalView(bool enabled) override;
    void focusHelpButton() override;

    // The window as the calculator gives it back.
    void enableAfterCalculator() override;

    void Form_Load();
    void Unload();
    void counterDoubleClicked();
    void updateCounterTip(QLabel *counter);
    bool filterLifecycleEvent(QObject *watched, QEvent *event);
    void showNotice();

    std::unique_ptr<Ui::Form1> ui_;
    QTimer *Timer1; // live display during a test run
    QTimer *Timer2; // one-shot start-up step
    QTimer *Timer3; // hides Text3
    TestPlan plan_;        // the classic test; its rate is Combo2's text, read once whenever it changes
    std::vector<serial::SerialDevice> foundPorts_; // as Combo1 was last filled
    std::vector<PortEntry> portEntries_;           // Combo1's entries, in order
    int combo2Index_ = -1; // Combo2's list index as last seen, to tell a pick from an edit
    bool inCombo2Change_ = false;

    WindowCommPlatform platform_;        // remote opens off the window's thread
    serial::modCOMM comm_{platform_};    // the serial layer, one port table per window
    std::unique_ptr<EchoTestRun> engine_; // the test run
    winsvc::WindowHandle menuHandle_ = 0; // this window for the window-menu service
    bool hourglass_ = false;              // the abort set the hourglass
    bool hooked_ = false;                 // the message hooks are installed
};

} // namespace echotest
