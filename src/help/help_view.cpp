#include "help/help_view.h"

#include "help/help_document.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QString>
#include <QTextCursor>

#include <array>
#include <stdexcept>
#include <string>

namespace help {
namespace {

const QString kTitle = QStringLiteral(" Rebounce Test");
const QString kLoadError = QStringLiteral("Error while loading help text!");

// T4's designed font.  9.75 pt is what the original 13-pixel font is at
// 96 dpi; the fixed-pitch hint keeps the boxes aligned where Courier New is
// not installed.
QFont helpFont()
{
    QFont font(QStringLiteral("Courier New"));
    font.setPointSizeF(9.75);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    return font;
}

// Everything is asked for before anything is changed, so a window that
// lacks a control fails without being half switched.
HelpControls requireHelpControls(HelpHost &host)
{
    const HelpControls controls = host.helpControls();
    if (!controls.picture1 || !controls.t4 || !controls.label17 || !controls.command5)
        throw std::runtime_error("help view: a control of the help view is missing");
    return controls;
}

// The hourglass must not outlive the opening, whichever way it ends.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { restore(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;

    void restore()
    {
        if (active_) {
            active_ = false;
            QApplication::restoreOverrideCursor();
        }
    }

private:
    bool active_ = true;
};

void showLoadError(QWidget *window)
{
    QMessageBox box(QMessageBox::Warning, kTitle, kLoadError, QMessageBox::Ok, window);
    box.exec();
}

class HelpViewFilter : public QObject
{
public:
    explicit HelpViewFilter(HelpHost &host) : QObject(host.hostWindow()), host_(host) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::FocusIn:
            if (watched == host_.helpControls().picture1)
                handOnPicture1Focus(host_);
            else
                hideHelpCaret(host_);
            break;
        case QEvent::FocusOut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
            hideHelpCaret(host_);
            break;
        default:
            break;
        }
        return false;
    }

private:
    HelpHost &host_;
};

constexpr const char *kFilterName = "helpViewFilter";

} // namespace

HelpViewGeometry helpViewGeometry(QSize clientArea)
{
    const int w = clientArea.width();
    const int h = clientArea.height();
    const int strip = kCloseButtonSize.height() + 2 * kHelpMargin;

    HelpViewGeometry g;
    g.picture1 = QRect(0, 0, w, h);
    g.label17 = QRect(kHelpMargin, kHelpMargin, w - 2 * kHelpMargin, h - kHelpMargin - strip);
    g.t4 = g.label17.adjusted(1, 1, -1, -1);
    g.command5 = QRect(QPoint((w - kCloseButtonSize.width()) / 2,
                              h - strip + kHelpMargin),
                       kCloseButtonSize);
    return g;
}

void openHelpView(HelpHost &host)
{
    QWidget *form1 = host.hostWindow();
    QPointer<QWidget> window(form1);
    HelpControls c{};
    bool controlsFound = false;
    try {
        c = requireHelpControls(host);
        controlsFound = true;

        host.enableNormalView(false);

        WaitCursor waitCursor;
        const QString text = QString::fromStdString(buildHelpDocument());

        const HelpViewGeometry g = helpViewGeometry(form1->size());
        c.picture1->setGeometry(g.picture1);
        c.t4->setGeometry(g.t4);
        c.label17->setGeometry(g.label17);
        c.command5->setGeometry(g.command5);

        c.picture1->show();
        c.picture1->raise();

        c.t4->setReadOnly(true);
        c.t4->setFrameShape(QFrame::NoFrame);
        c.t4->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        c.t4->setFont(helpFont());
        c.t4->setPlainText(text);

        c.label17->show();
        c.t4->show();
        c.t4->raise(); // the panel lies behind the box
        c.command5->raise();

        waitCursor.restore();
        QApplication::processEvents();
        // The event loop may have closed the help view (a close request of
        // the window) or the window itself in the meantime.
        if (!window || !c.t4->isVisible())
            return;

        c.t4->setFocus(Qt::OtherFocusReason);
        c.command5->show();
        c.command5->setEnabled(true);

        QTextCursor caret = c.t4->textCursor();
        caret.setPosition(static_cast<int>(
            viewPositionOfOffset(text.toStdString(), kInitialCaretOffset)));
        c.t4->setTextCursor(caret);
        c.t4->verticalScrollBar()->setValue(0);
        hideHelpCaret(host);
    } catch (const std::exception &) {
        if (!window)
            return;
        // A window with every control disabled and no help to close would
        // leave the user stuck; go back to the normal view instead.
        if (controlsFound)
            closeHelpView(host);
        showLoadError(form1);
    }
}

void closeHelpView(HelpHost &host)
{
    host.enableNormalView(true);
    const HelpControls c = host.helpControls();
    for (QWidget *widget : {static_cast<QWidget *>(c.t4), c.command5, c.picture1, c.label17}) {
        if (widget)
            widget->hide();
    }
    if (c.t4)
        c.t4->clear();
    host.focusHelpButton();
}

bool isHelpViewOpen(HelpHost &host)
{
    const QPlainTextEdit *t4 = host.helpControls().t4;
    return t4 && t4->isVisible();
}

void hideHelpCaret(HelpHost &host)
{
    QPlainTextEdit *t4 = host.helpControls().t4;
    if (t4 && t4->isVisible())
        t4->setCursorWidth(0);
}

void handOnPicture1Focus(HelpHost &host)
{
    hideHelpCaret(host);
    QWidget *command5 = host.helpControls().command5;
    if (command5 && command5->isEnabled() && command5->isVisible())
        command5->setFocus(Qt::OtherFocusReason);
}

void installHelpViewFilters(HelpHost &host)
{
    QWidget *window = host.hostWindow();
    if (!window || window->findChild<QObject *>(QLatin1String(kFilterName), Qt::FindDirectChildrenOnly))
        return;
    auto *filter = new HelpViewFilter(host);
    filter->setObjectName(QLatin1String(kFilterName));
    const HelpControls c = host.helpControls();
    if (c.t4) {
        c.t4->installEventFilter(filter);
        c.t4->viewport()->installEventFilter(filter);
    }
    if (c.picture1)
        c.picture1->installEventFilter(filter);
}

void removeHelpViewFilters(HelpHost &host)
{
    if (QWidget *window = host.hostWindow())
        delete window->findChild<QObject *>(QLatin1String(kFilterName), Qt::FindDirectChildrenOnly);
}

} // namespace help
