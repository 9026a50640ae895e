#pragma once
// Form1 as the test run sees it: the run's view over the window's widgets.
// Private to the window's sources.
#include <QApplication>
#include <QTimer>

#include "echotest/echo_engine.h"
#include "echotest/form1.h"
#include "ui_form1.h"
#include "winsvc/modCloseBtn.h"

namespace echotest {

// Received bytes as text, one character per byte.
inline QString fromBytes(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A message's CR LF line breaks as a message box shows them.
inline QString forDisplay(const std::string &text)
{
    QString shown = QString::fromStdString(text);
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

// The window's widgets as the test run addresses them.  Every change is
// painted at once: the run holds the thread between its steps.
class Form1::RunView final : public EchoTestView {
public:
    explicit RunView(Form1 &form) : form_(form), ui_(*form.m_ui) {}

    // The entries past "4" open their device through the first record of
    // the port table; the window opens one port at a time.
    std::string portText() override
    {
        return ui_.Combo1->currentIndex() < kFixedPortEntries ? ui_.Combo1->currentText().toStdString() : "1";
    }
    std::string deviceName(int16_t) override { return form_.selectedDevice(); }
    std::string baudText() override { return ui_.Combo2->currentText().toStdString(); }
    int check1Value() override { return ui_.Check1->isChecked() ? 1 : 0; }
    int32_t minTransmitTime() override { return form_.MinTransmitTime(); }

    std::string caption(RunLabel label) override { return labelOf(label)->text().toStdString(); }
    void setCaption(RunLabel label, const std::string &text) override
    {
        QLabel *target = labelOf(label);
        target->setText(QString::fromStdString(text));
        target->repaint();
    }
    void setColours(RunLabel label, uint32_t background, uint32_t text) override
    {
        QLabel *target = labelOf(label);
        setLabelColours(target, QColor::fromRgb(background), QColor::fromRgb(text));
        target->repaint();
    }
    void setReceivedText(const std::string &text) override
    {
        ui_.Text2->setPlainText(fromBytes(text));
        ui_.Text2->repaint();
    }
    void showMessage(const std::string &text, MessageIcon icon) override
    {
        messageBox(forDisplay(text), icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                   QMessageBox::Ok, QMessageBox::Ok);
    }
    void enterRunningState() override
    {
        ui_.Command2->setEnabled(true);
        ui_.Command3->setFocus();
        for (QWidget *w : {static_cast<QWidget *>(ui_.Command1), static_cast<QWidget *>(ui_.Combo1),
                           static_cast<QWidget *>(ui_.Combo2), static_cast<QWidget *>(ui_.Command4),
                           static_cast<QWidget *>(ui_.Command6)})
            w->setEnabled(false);
    }
    void leaveRunningState() override
    {
        ui_.Command1->setEnabled(true);
        ui_.Command1->setFocus();
        for (QWidget *w : {static_cast<QWidget *>(ui_.Combo1), static_cast<QWidget *>(ui_.Combo2),
                           static_cast<QWidget *>(ui_.Command4), static_cast<QWidget *>(ui_.Command6)})
            w->setEnabled(true);
    }
    void disableAbortButton() override { ui_.Command2->setEnabled(false); }
    void restoreCursor() override
    {
        if (form_.hourglass_) {
            QApplication::restoreOverrideCursor();
            form_.hourglass_ = false;
        }
    }
    void startLiveDisplay() override { form_.Timer1->start(); }
    void stopLiveDisplay() override { form_.Timer1->stop(); }
    void disableMove(bool restore) override { winsvc::FormDisableMove(form_.menuHandle_, restore); }
    void yield() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
    void unload() override { form_.close(); }

private:
    QLabel *labelOf(RunLabel label) const
    {
        switch (label) {
        case RunLabel::Label1: return ui_.Label1;
        case RunLabel::Label2: return ui_.Label2;
        case RunLabel::Label3: return ui_.Label3;
        case RunLabel::Label6: return ui_.Label6;
        case RunLabel::Label14: return ui_.Label14;
        case RunLabel::Label15: return ui_.Label15;
        case RunLabel::Label18: return ui_.Label18;
        case RunLabel::Label21: return ui_.Label21;
        case RunLabel::Label23: return ui_.Label23;
        case RunLabel::Label25: return ui_.Label25;
        }
        return ui_.Label3;
    }

    Form1 &form_;
    Ui::Form1 &ui_;
};

} // namespace echotest
