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

// Controls that the help view disables while it is open, in the order the
// opening disables them.  Command5 is in the list because it must not react
// before the document is in place; step 11 of the opening enables it.
constexpr std::array kDisabledWhileOpen = {
    "Combo1", "Combo2", "Text1", "Text2", "Text3", "Command1", "Command2",
    "Command3", "Command6", "Command5", "Command4", "Check1",
};

// Controls that closing enables again.  Command2 ("Abort Test") is left
// out on purpose: it is enabled only while a test runs.
constexpr std::array kEnabledOnClose = {
    "Combo1", "Combo2", "Text1", "Text2", "Text3", "Command1", "Command3",
    "Command4", "Command6", "Check1",
};

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

QWidget *child(QWidget *form1, const char *name)
{
    return form1 ? form1->findChild<QWidget *>(QString::fromLatin1(name)) : nullptr;
}

QWidget *requireChild(QWidget *form1, const char *name)
{
    QWidget *widget = child(form1, name);
    if (!widget)
        throw std::runtime_error(std::string("help view: control missing: ") + name);
    return widget;
}

QPlainTextEdit *documentBox(QWidget *form1)
{
    return qobject_cast<QPlainTextEdit *>(child(form1, "T4"));
}

struct HelpControls
{
    QWidget *picture1;
    QPlainTextEdit *t4;
    QWidget *label17;
    QWidget *command5;
};

// Everything is looked up before anything is changed, so a window that
// lacks a control fails without being half switched.
HelpControls requireHelpControls(QWidget *form1)
{
    for (const char *name : kDisabledWhileOpen)
        requireChild(form1, name);
    HelpControls controls{requireChild(form1, "Picture1"), documentBox(form1),
                          requireChild(form1, "Label17"), requireChild(form1, "Command5")};
    if (!controls.t4)
        throw std::runtime_error("help view: T4 missing or not a plain-text box");
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

void showLoadError(QWidget *form1)
{
    QMessageBox box(QMessageBox::Warning, kTitle, kLoadError, QMessageBox::Ok, form1);
    box.exec();
}

class HelpViewFilter : public QObject
{
public:
    HelpViewFilter(QWidget *form1) : QObject(form1), form1_(form1) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QString name = watched->objectName();
        switch (event->type()) {
        case QEvent::FocusIn:
            if (name == QLatin1String("Picture1"))
                handOnPicture1Focus(form1_);
            else
                hideHelpCaret(form1_);
            break;
        case QEvent::FocusOut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
            hideHelpCaret(form1_);
            break;
        default:
            break;
        }
        return false;
    }

private:
    QWidget *form1_;
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

void openHelpView(QWidget *form1)
{
    QPointer<QWidget> window(form1);
    HelpControls c{};
    bool controlsFound = false;
    try {
        c = requireHelpControls(form1);
        controlsFound = true;

        for (const char *name : kDisabledWhileOpen)
            child(form1, name)->setEnabled(false);

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
        hideHelpCaret(form1);
    } catch (const std::exception &) {
        if (!window)
            return;
        // A window with every control disabled and no help to close would
        // leave the user stuck; go back to the normal view instead.
        if (controlsFound)
            closeHelpView(form1);
        showLoadError(form1);
    }
}

void closeHelpView(QWidget *form1)
{
    for (const char *name : kEnabledOnClose) {
        if (QWidget *widget = child(form1, name))
            widget->setEnabled(true);
    }
    for (const char *name : {"T4", "Command5", "Picture1", "Label17"}) {
        if (QWidget *widget = child(form1, name))
            widget->hide();
    }
    if (QPlainTextEdit *t4 = documentBox(form1))
        t4->clear();
    if (QWidget *help = child(form1, "Command4"))
        help->setFocus(Qt::OtherFocusReason);
}

bool isHelpViewOpen(QWidget *form1)
{
    const QWidget *t4 = child(form1, "T4");
    return t4 && t4->isVisible();
}

void hideHelpCaret(QWidget *form1)
{
    QPlainTextEdit *t4 = documentBox(form1);
    if (t4 && t4->isVisible())
        t4->setCursorWidth(0);
}

void handOnPicture1Focus(QWidget *form1)
{
    hideHelpCaret(form1);
    QWidget *command5 = child(form1, "Command5");
    if (command5 && command5->isEnabled() && command5->isVisible())
        command5->setFocus(Qt::OtherFocusReason);
}

void installHelpViewFilters(QWidget *form1)
{
    if (!form1 || form1->findChild<QObject *>(QLatin1String(kFilterName), Qt::FindDirectChildrenOnly))
        return;
    auto *filter = new HelpViewFilter(form1);
    filter->setObjectName(QLatin1String(kFilterName));
    for (const char *name : {"T4", "Picture1"}) {
        if (QWidget *widget = child(form1, name)) {
            widget->installEventFilter(filter);
            if (auto *box = qobject_cast<QPlainTextEdit *>(widget))
                box->viewport()->installEventFilter(filter);
        }
    }
}

} // namespace help
