// Form1 and the test run: the Rebounce and Abort buttons, the live display,
// and the window as the run shows itself on it.
#include "window/form1.h"

#include <QApplication>
#include <QTimer>

#include "ui_form1.h"
#include "winsvc/modCloseBtn.h"

namespace echotest {

namespace {

// Below this rate a chunk takes long enough on the line that the run is
// slow to notice an abort; the hourglass says so.
constexpr int32_t kHourglassBelowBaud = 1200;

// Received bytes as text, one character per byte.
QString fromBytes(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A message's CR LF line breaks as a message box shows them.
QString forDisplay(const std::string &text)
{
    QString shown = QString::fromStdString(text);
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

QString msCaption(int64_t ms)
{
    return QStringLiteral("%1 ms").arg(ms);
}

// "n/1000": a count of bytes out of the plan's.
QString ofPattern(int64_t count, int32_t length)
{
    return QStringLiteral("%1/%2").arg(count).arg(length);
}

// Every change is painted at once: the run holds the thread between its steps.
void showCaption(QLabel *label, const QString &text)
{
    label->setText(text);
    label->repaint();
}

void showColours(QLabel *label, uint32_t background, uint32_t text)
{
    Form1::setLabelColours(label, QColor::fromRgb(background), QColor::fromRgb(text));
    label->repaint();
}

} // namespace

Form1::MessageBoxFunction Form1::messageBox = [](const QString &text, QMessageBox::Icon icon,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, QStringLiteral(" Rebounce Test"), text, buttons, QApplication::activeWindow());
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
};

RunSettings Form1::runSettings() const
{
    RunSettings settings;
    // The entries past "4" open their device through the first record of
    // the port table; the window opens one port at a time.
    const int index = ui_->Combo1->currentIndex();
    settings.plan = plan_;
    PlanPort &port = settings.plan.sendPort;
    port.port = static_cast<int16_t>(index >= 0 && index < kFixedPortEntries ? index + 1 : 1);
    // Messages name the device the entry means: "/dev/ttyS2 does not
    // exist!" says where it looked; on Windows that is "COM3" itself.
    port.device = selectedDevice();
    port.portName = port.device;
    settings.lowerCase = ui_->Check1->isChecked();
    return settings;
}

void Form1::Command1_Click()
{
    engine_->run(runSettings()); // does nothing when a queued click arrives during a run
}

void Form1::Command2_Click()
{
    if (plan_.baud.wholeRate < kHourglassBelowBaud && !hourglass_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        hourglass_ = true;
    }
    ui_->Command3->setFocus();
    ui_->Command2->setEnabled(false);
    engine_->requestAbort(kUserAbortMessage);
}

void Form1::Timer1_Timer()
{
    const RunProgress &progress = engine_->progress();
    ui_->Text2->setPlainText(fromBytes(progress.receivedText));
    if (!progress.receivedText.empty())
        showCaption(ui_->Label1, ofPattern(static_cast<int64_t>(progress.receivedText.size()), plan_.patternLength()));
    showCaption(ui_->Label2, ofPattern(progress.sentCount, plan_.patternLength()));
}

void Form1::restoreCursor()
{
    if (hourglass_) {
        QApplication::restoreOverrideCursor();
        hourglass_ = false;
    }
}

void Form1::showTally(const RunTally &tally)
{
    showCaption(ui_->Label18, QString::number(tally.passes));
    showCaption(ui_->Label21, QString::number(tally.failures));
    showCaption(ui_->Label23, QString::number(tally.bytesSent));
    showCaption(ui_->Label25, QString::number(tally.bytesReceived));
}

void Form1::showCleared()
{
    ui_->Text2->setPlainText(QString());
    ui_->Text2->repaint();
    clearResultDisplays();
}

void Form1::showMessage(const std::string &text, MessageIcon icon)
{
    messageBox(forDisplay(text), icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
               QMessageBox::Ok, QMessageBox::Ok);
}

void Form1::showStage(RunStage stage)
{
    switch (stage) {
    case RunStage::Preparing:
        // The focus sink takes the repeats of a held Enter key meanwhile.
        ui_->Command2->setEnabled(true);
        ui_->Command3->setFocus();
        for (QWidget *w : {static_cast<QWidget *>(ui_->Command1), static_cast<QWidget *>(ui_->Combo1),
                           static_cast<QWidget *>(ui_->Combo2), static_cast<QWidget *>(ui_->Command4),
                           static_cast<QWidget *>(ui_->Command6)})
            w->setEnabled(false);
        break;
    case RunStage::Transferring:
        showColours(ui_->Label15, Green, Black);
        showCaption(ui_->Label15, QStringLiteral("OPEN"));
        winsvc::FormDisableMove(menuHandle_, false);
        Timer1->start();
        break;
    case RunStage::Collected:
        Timer1->stop();
        break;
    case RunStage::Closed:
        showColours(ui_->Label15, Black, White);
        showCaption(ui_->Label15, QStringLiteral("CLOSE"));
        ui_->Command1->setEnabled(true);
        ui_->Command1->setFocus();
        for (QWidget *w : {static_cast<QWidget *>(ui_->Combo1), static_cast<QWidget *>(ui_->Combo2),
                           static_cast<QWidget *>(ui_->Command4), static_cast<QWidget *>(ui_->Command6)})
            w->setEnabled(true);
        ui_->Command2->setEnabled(false);
        break;
    case RunStage::Finished:
        winsvc::FormDisableMove(menuHandle_, true);
        break;
    }
}

void Form1::showTimes(const RunResult &result)
{
    if (result.sendMs >= 0)
        showCaption(ui_->Label6, msCaption(result.sendMs));
    if (result.lastReadMs >= 0)
        showCaption(ui_->Label14, msCaption(result.lastReadMs));
}

void Form1::showResult(const RunResult &result, const RunTally &tally)
{
    // The bytes back as the live display last counted them, corrected to
    // the final figure; a run that never saw a byte keeps "0/1000".
    if (!engine_->progress().receivedText.empty())
        showCaption(ui_->Label1, ofPattern(result.received, result.expected));
    if (result.sent > 100)
        showCaption(ui_->Label2, ofPattern(result.sent, result.expected));
    showCaption(ui_->Label23, QString::number(tally.bytesSent));
    showCaption(ui_->Label25, QString::number(tally.bytesReceived));
    if (result.verdict == Verdict::Pass) {
        showColours(ui_->Label3, Green, Black);
        showCaption(ui_->Label3, QStringLiteral("PASS"));
        showCaption(ui_->Label18, QString::number(tally.passes));
    } else {
        setLabelColours(ui_->Label3, QColor::fromRgb(Red), QColor::fromRgb(White));
        ui_->Label3->setText(QStringLiteral("FAIL"));
        showCaption(ui_->Label21, QString::number(tally.failures));
        ui_->Label3->repaint();
    }
    ui_->Text2->setPlainText(fromBytes(result.receivedText));
    ui_->Text2->repaint();
}

void Form1::showAborted(const std::string &reason)
{
    restoreCursor();
    const QString noTime = QString::fromLatin1(kNoTimeCaption.data(), static_cast<qsizetype>(kNoTimeCaption.size()));
    showCaption(ui_->Label6, noTime);
    showCaption(ui_->Label14, noTime);
    showColours(ui_->Label3, Grey, Black);
    showCaption(ui_->Label3, QStringLiteral("-----"));
    showCaption(ui_->Label1, ofPattern(0, plan_.patternLength()));
    showCaption(ui_->Label2, ofPattern(0, plan_.patternLength()));
    ui_->Text2->setPlainText(fromBytes("\r\n\r\n\r\n" + reason));
    ui_->Text2->repaint();
}

void Form1::yield()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Form1::closeWindow()
{
    close();
}

} // namespace echotest
