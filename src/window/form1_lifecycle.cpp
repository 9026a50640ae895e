// Form1's life apart from the run itself: loading, minimise and close
// requests, unloading, the counters, the focus rules of the display boxes,
// the help view and the calculator.
#include "window/form1.h"

#include "ui_form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QTimer>

#include "calculator/baudcalc.h"
#include "engine/timer_clock.h"
#include "help/help_view.h"
#include "winsvc/modCloseBtn.h"
#include "winsvc/module1.h"
#include "winsvc/qt_hooks.h"
#include "winsvc/qt_window_menu.h"

namespace echotest {

namespace {

const char *const kCounterTip = " Double-click here to clear the counters ";

} // namespace

bool Form1::Form_Initialize()
{
    winsvc::OsNotSupported = false;
    const std::string name = winsvc::GetWindowsVersionName();
    if (winsvc::OsNotSupported) {
        messageBox(QString::fromStdString(winsvc::notSupportedMessage(name)), QMessageBox::Information,
                   QMessageBox::Ok, QMessageBox::Ok);
        return false;
    }
    return true;
}

void Form1::Form_Load()
{
    RunView &view = *this; // the run sees the window through this face only
    engine_ = std::make_unique<EchoTestRun>(comm_, view, systemTimerClock());
    // The serial layer lets the window live between and during transfers.
    comm_.setYield([this] { yield(); });
    // The verdict goes by the check box as it is when the run judges.
    connect(ui_->Check1, &QCheckBox::toggled, this, [this](bool checked) { engine_->setLowerCase(checked); });

    winsvc::HookText1(ui_->Text1);
    winsvc::HookText2(ui_->Text2);
    winsvc::HookText3(ui_->Text3);
    winsvc::HookMainWindow(
        this, [this] { return engine_->isRunning(); }, [this] { showNotice(); });
    hooked_ = true;

    // Raises CloseBtnError if the window menu is not as expected; the
    // program reports it and ends (main).
    menuHandle_ = winsvc::windowMenuHandle(this);
    winsvc::EnableMaxButton(menuHandle_, false);

    // The display boxes hand the focus on; the counters offer to be cleared.
    for (QWidget *box : {static_cast<QWidget *>(ui_->Text1), static_cast<QWidget *>(ui_->Text2)})
        box->installEventFilter(this);
    for (QLabel *counter : {ui_->Label18, ui_->Label21, ui_->Label23, ui_->Label25}) {
        counter->setMouseTracking(true);
        counter->installEventFilter(this);
    }
    help::installHelpViewFilters(*this);

    // Loading sizes and shows the window, which counts as a restore: it
    // leaves the minimise reason behind, which is what a close during the
    // first run then shows (a close request gives no reason of its own).
    engine_->requestAbort(kMinimizeAbortMessage);
    engine_->flags().AbortRequested = false;
}

void Form1::Unload()
{
    if (!hooked_)
        return;
    hooked_ = false;
    winsvc::UnhookText1();
    winsvc::UnhookText2();
    winsvc::UnhookText3();
    winsvc::UnhookMainWindow();
}

void Form1::showNotice()
{
    ui_->Text3->show();
    ui_->Text3->raise();
    Timer3->start();
}

void Form1::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && engine_) {
        // Minimising or restoring stops a running test; an idle window
        // ignores the flag, and every test start clears it.
        engine_->requestAbort(kMinimizeAbortMessage);
    }
    QWidget::changeEvent(event);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (help::isHelpViewOpen(*this)) {
        Command5_Click();
        event->ignore();
        return;
    }
    const bool runWasActive = engine_->isActive();
    const bool closeNow = engine_->requestClose();
    if (runFlags().CloseAttempts > 2) {
        setLabelColours(ui_->Label15, QColor(0, 0, 0), QColor(0xFF, 0xFF, 0xFF));
        ui_->Label15->setText(QStringLiteral("CLOSE"));
    }
    if (!closeNow) {
        // The run stops at its next check and closes the window itself.
        event->ignore();
        return;
    }
    if (runWasActive) {
        // Closed at once in the middle of a run, which goes on to its end
        // without showing anything: what it would have put back on screen
        // is put back here.
        Timer1->stop();
        restoreCursor();
    }
    Unload();
    event->accept();
}

void Form1::counterDoubleClicked()
{
    if (engine_->isRunning())
        return;
    const auto answer = messageBox(QStringLiteral("Do you want to clear the counters ?"), QMessageBox::Question,
                                   QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    engine_->clearTally();
    showTally(engine_->tally());
}

void Form1::updateCounterTip(QLabel *counter)
{
    const bool idle = !engine_->isRunning();
    counter->setToolTip(idle ? QLatin1String(kCounterTip) : QString());
}

bool Form1::filterLifecycleEvent(QObject *watched, QEvent *event)
{
    if (watched == ui_->Text1 || watched == ui_->Text2) {
        if (event->type() == QEvent::FocusIn) {
            // The data boxes never keep the focus.  Reached by Tab, they
            // pass it along the chain; sending it back to Rebounce would
            // trap the Tab key between Rebounce and the received data.
            // Qt also moves the focus "by Tab" when it hides the focused
            // control (closing the help view does); the code that hid it
            // usually places the focus itself before the move is due, and
            // then the move must not take it away again.
            const auto reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) {
                auto *box = static_cast<QWidget *>(watched);
                QTimer::singleShot(0, this, [this, box, next = reason == Qt::TabFocusReason] {
                    if (box->hasFocus())
                        focusNextPrevChild(next);
                });
            } else if (ui_->Command1->isEnabled()) {
                ui_->Command1->setFocus();
            } else if (ui_->Command2->isEnabled()) {
                ui_->Command2->setFocus();
            }
        }
        return false;
    }
    for (QLabel *counter : {ui_->Label18, ui_->Label21, ui_->Label23, ui_->Label25}) {
        if (watched != counter)
            continue;
        switch (event->type()) {
        case QEvent::MouseButtonDblClick:
            counterDoubleClicked();
            return true;
        case QEvent::MouseMove:
        case QEvent::Enter:
        case QEvent::ToolTip:
            updateCounterTip(counter);
            return false;
        default:
            return false;
        }
    }
    return false;
}

void Form1::Command4_Click()
{
    help::openHelpView(*this);
}

void Form1::Command5_Click()
{
    help::closeHelpView(*this);
}

help::HelpControls Form1::helpControls()
{
    return {ui_->Picture1, ui_->T4, ui_->Label17, ui_->Command5};
}

void Form1::enableNormalView(bool enabled)
{
    // In this order: a control that loses the focus by being disabled
    // passes it along the ones not yet switched.
    if (!enabled) {
        for (QWidget *w : {static_cast<QWidget *>(ui_->Combo1), static_cast<QWidget *>(ui_->Combo2),
                           static_cast<QWidget *>(ui_->Text1), static_cast<QWidget *>(ui_->Text2),
                           static_cast<QWidget *>(ui_->Text3), static_cast<QWidget *>(ui_->Command1),
                           static_cast<QWidget *>(ui_->Command2), static_cast<QWidget *>(ui_->Command3),
                           static_cast<QWidget *>(ui_->Command6), static_cast<QWidget *>(ui_->Command5),
                           static_cast<QWidget *>(ui_->Command4), static_cast<QWidget *>(ui_->Check1)})
            w->setEnabled(false);
        return;
    }
    // "Abort Test" stays off: only a running test enables it.
    for (QWidget *w : {static_cast<QWidget *>(ui_->Combo1), static_cast<QWidget *>(ui_->Combo2),
                       static_cast<QWidget *>(ui_->Text1), static_cast<QWidget *>(ui_->Text2),
                       static_cast<QWidget *>(ui_->Text3), static_cast<QWidget *>(ui_->Command1),
                       static_cast<QWidget *>(ui_->Command3), static_cast<QWidget *>(ui_->Command4),
                       static_cast<QWidget *>(ui_->Command6), static_cast<QWidget *>(ui_->Check1)})
        w->setEnabled(true);
}

void Form1::focusHelpButton()
{
    ui_->Command4->setFocus(Qt::OtherFocusReason);
}

void Form1::Command6_Click()
{
    ui_->Command1->setEnabled(false);
    ui_->Combo1->setEnabled(false);
    ui_->Combo2->setEnabled(false);
    // The calculator gives the three back when it closes.
    calculator::baudcalc calc(this, this);
    calc.exec();
}

void Form1::enableAfterCalculator()
{
    ui_->Combo1->setEnabled(true);
    ui_->Combo2->setEnabled(true);
    ui_->Command1->setEnabled(true);
}

} // namespace echotest
