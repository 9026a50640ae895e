// Form1 and the test run: the window as the run's view, the Rebounce and
// Abort buttons, and the live display.
#include "echotest/form1.h"

#include <QApplication>
#include <QTimer>

#include "echotest/form1_run_view.h"

namespace echotest {

namespace {

// Below this rate a chunk takes long enough on the line that the run is
// slow to notice an abort; the hourglass says so.
constexpr int32_t kHourglassBelowBaud = 1200;

} // namespace

Form1::MessageBoxFunction Form1::messageBox = [](const QString &text, QMessageBox::Icon icon,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, QStringLiteral(" Rebounce Test"), text, buttons, QApplication::activeWindow());
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
};

void Form1::Command1_Click()
{
    if (running_)
        return; // the button is disabled during a run; a queued click must not nest
    running_ = true;
    engine_->run();
    running_ = false;
}

void Form1::Command2_Click()
{
    int32_t baud = 0;
    EchoTestRun::parseBaud(m_ui->Combo2->currentText().toStdString(), baud);
    if (baud < kHourglassBelowBaud && !hourglass_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        hourglass_ = true;
    }
    m_ui->Command3->setFocus();
    m_ui->Command2->setEnabled(false);
    engine_->requestAbort(kUserAbortMessage);
}

void Form1::Timer1_Timer()
{
    const std::string &received = engine_->receivedText();
    m_ui->Text2->setPlainText(fromBytes(received));
    if (!received.empty()) {
        m_ui->Label1->setText(QStringLiteral("%1/1000").arg(received.size()));
        m_ui->Label1->repaint();
    }
    m_ui->Label2->setText(QStringLiteral("%1/1000").arg(engine_->sentCount()));
    m_ui->Label2->repaint();
}

} // namespace echotest
