#include "calculator/baudcalc.h"
#include "ui_baudcalc.h"

#include "calculator/catalogues.h"
#include "calculator/number_text.h"
#include "calculator/ubrr.h"
#include "winsvc/qt_entry_keys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QStringList>

#include <cmath>

namespace calculator {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidth = 7110 / kTwipsPerPixel;  // 474
constexpr int kClientHeight = 6705 / kTwipsPerPixel; // 447
constexpr int kFocusSinkTop = 15000 / kTwipsPerPixel; // below the client area
// The fixed single border the layout was drawn for: a 3-pixel frame on each
// side, so the window is 7200 twips wide outside.
constexpr int kFixedFrameTwips = 3 * kTwipsPerPixel;
constexpr int kOuterWidthTwips = 7110 + 2 * kFixedFrameTwips;
constexpr int kFrequencyMaxLength = 8;
constexpr int kBaudMaxLength = 7;
constexpr int kNormalMode = 0; // U2Xn = 0: list line 2n
constexpr int kDoubleMode = 1; // U2Xn = 1: list line 2n + 1

const QColor kGrey(0xC0, 0xC0, 0xC0);
const QColor kNavy(0x00, 0x00, 0x80);
const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kBlack(0x00, 0x00, 0x00);
const QColor kDarkGrey(0x40, 0x40, 0x40);

const char *const kListHeading = "All the possible baud rates with the oscillator frequency = ";
const char *const kLocateTip = " Click here to locate this value in the list below ";
const char *const kPleaseWait = " Please wait....";

QString fromCore(const std::string &text) { return QString::fromStdString(text); }

// A figure with decimals as the user reads numbers: the arithmetic writes
// "." (as rebounce-cli and its JSON keep it), the window shows the decimal
// separator of the user's locale.  Signs and digits stay as they are.
QString inUserLocale(QString text)
{
    const QString point = QLocale().decimalPoint();
    if (point != QLatin1String("."))
        text.replace(u'.', point);
    return text;
}

QString figure(const std::string &text) { return inUserLocale(fromCore(text)); }

// Calculate is centred on the window's outer width, in single precision,
// and the result taken as a Left in the client area: half the outer width
// minus half the button, 3052.5 twips for the 1095-twip button.  That puts
// it a little right of the client's centre, where the layout has it.  The
// frame is the layout's, not the window system's: the button keeps its
// place whatever the window manager draws around it.
int calculateButtonLeft(int buttonWidth)
{
    const float left = static_cast<float>(kOuterWidthTwips) / 2.0f
        - static_cast<float>(buttonWidth * kTwipsPerPixel) / 2.0f;
    return static_cast<int>(std::lround(left / static_cast<float>(kTwipsPerPixel)));
}

void setTextColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

} // namespace

baudcalc::baudcalc(QWidget *parent, CalculatorOwner *owner)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                         | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                         | Qt::MSWindowsFixedSizeDialogHint),
      m_ui(std::make_unique<Ui::baudcalc>()),
      m_beep([] { QApplication::beep(); })
{
    m_owner = owner;
    m_ui->setupUi(this);
    setFixedSize(kClientWidth, kClientHeight);
    setWindowIcon(parent ? parent->windowIcon() : QApplication::windowIcon());
    QFont dialogFont(QStringLiteral("Arial"), 8); // fontconfig: Liberation Sans, metric-compatible
    dialogFont.setStyleHint(QFont::SansSerif);
    setFont(dialogFont);
    applyColours();

    // Entries are checked by our own rules; Qt's inline completion would
    // type digits for the user.
    m_ui->Combo1->setCompleter(nullptr);
    m_ui->Combo2->setCompleter(nullptr);
    m_ui->List1->setUniformItemSizes(true);
    m_ui->List1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ui->Text3->hide();
    m_ui->Text3->setReadOnly(true);
    m_ui->Label6->setMouseTracking(true);
    m_ui->Label12->setMouseTracking(true);

    connectControls();
    load();
}

baudcalc::~baudcalc()
{
    setWaitCursor(false);
}

void baudcalc::setBeepHandler(BeepHandler handler) { m_beep = std::move(handler); }
void baudcalc::setMessageHandler(MessageHandler handler) { m_message = std::move(handler); }

void baudcalc::applyColours()
{
    setAutoFillBackground(true);
    setTextColour(this, QPalette::Window, kGrey);
    setTextColour(this, QPalette::WindowText, kBlack);

    // Labels drawn over the navy bar, the bottom bar or each other are
    // transparent; all others paint their grey background.
    const QList<QLabel *> transparent = {m_ui->Label25, m_ui->Label28, m_ui->Label33,
                                         m_ui->Label34, m_ui->Label35, m_ui->Label36,
                                         m_ui->Label37, m_ui->Label38};
    for (QLabel *label : findChildren<QLabel *>())
        label->setAutoFillBackground(!transparent.contains(label));

    setTextColour(m_ui->Label39, QPalette::Window, kNavy);
    setTextColour(m_ui->Label25, QPalette::WindowText, kWhite);
    setTextColour(m_ui->Label28, QPalette::WindowText, kWhite);
    setTextColour(m_ui->Label18, QPalette::WindowText, kDarkGrey);
    for (QWidget *box : {static_cast<QWidget *>(m_ui->List1), static_cast<QWidget *>(m_ui->Text3)}) {
        setTextColour(box, QPalette::Base, kWhite);
        setTextColour(box, QPalette::Text, kBlack);
    }
}

void baudcalc::connectControls()
{
    for (QComboBox *box : {m_ui->Combo1, m_ui->Combo2})
        box->installEventFilter(this);
    m_ui->Label6->installEventFilter(this);
    m_ui->Label12->installEventFilter(this);
    m_ui->List1->installEventFilter(this);

    connect(m_ui->Combo1->lineEdit(), &QLineEdit::textEdited, this, &baudcalc::frequencyEdited);
    connect(m_ui->Combo2->lineEdit(), &QLineEdit::textEdited, this, &baudcalc::baudEdited);
    connect(m_ui->Combo1, &QComboBox::activated, this, &baudcalc::frequencyChosen);
    connect(m_ui->Combo2, &QComboBox::activated, this, &baudcalc::baudChosen);
    connect(m_ui->Check1, &QCheckBox::clicked, this, &baudcalc::switchCatalogue);
    connect(m_ui->Command1, &QPushButton::clicked, this, &baudcalc::calculate);
    connect(m_ui->Command3, &QPushButton::clicked, this, &baudcalc::showDoubleSpeedNote);
    connect(m_ui->List1, &QListWidget::currentRowChanged, this, &baudcalc::showDetails);
    connect(m_ui->List1, &QListWidget::clicked, this, &baudcalc::showDetails);
    // Only user actions on the scroll bar: a program scroll keeps the details.
    connect(m_ui->List1->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            &baudcalc::clearDetails);
}

void baudcalc::load()
{
    m_resultsValid = false;
    m_listHooked = false;
    m_ui->Command2->move(m_ui->Command2->x(), kFocusSinkTop);
    m_ui->Label28->hide();
    m_ui->Command1->move(calculateButtonLeft(m_ui->Command1->width()), m_ui->Command1->y());
    setResultPlaceholders();

    fillFrequencyCatalogue(false);
    for (std::string_view rate : baudRates())
        m_ui->Combo2->addItem(QString::fromLatin1(rate.data(), static_cast<qsizetype>(rate.size())));
    m_ui->Combo1->setCurrentIndex(kStandardFrequencyDefault);
    frequencyChosen();
    m_ui->Combo2->setCurrentIndex(kBaudRateDefault);
    baudChosen();
}

void baudcalc::fillFrequencyCatalogue(bool extended)
{
    m_ui->Combo1->clear();
    for (std::string_view entry : extended ? extendedFrequencies() : standardFrequencies())
        m_ui->Combo1->addItem(QString::fromLatin1(entry.data(), static_cast<qsizetype>(entry.size())));
}

// ---- entries -------------------------------------------------------------

bool baudcalc::filterEntryKey(QKeyEvent *key)
{
    // The main window's baud box follows the same rule.
    switch (winsvc::filterDigitKey(winsvc::keyStrokeOf(*key))) {
    case winsvc::DigitKey::Edit:
    case winsvc::DigitKey::Pass:
        return false;
    case winsvc::DigitKey::Enter:
        calculate();
        return true;
    case winsvc::DigitKey::Refuse:
        beep();
        return true;
    }
    return true;
}

void baudcalc::repairEntry(QComboBox *box, int maxLength, void (baudcalc::*change)())
{
    // Setting the text raises the box's change handling again; like the
    // original event order, that nested run finishes before we go on.
    QLineEdit *edit = box->lineEdit();
    if (!isNumeric(edit->text().toStdString())) {
        edit->setText(QStringLiteral("0"));
        (this->*change)();
        edit->setSelection(0, static_cast<int>(edit->text().size()));
    }
    if (edit->text().size() > maxLength) {
        edit->setText(edit->text().left(maxLength));
        (this->*change)();
        edit->setCursorPosition(maxLength);
        beep();
    }
}

void baudcalc::frequencyEdited()
{
    repairEntry(m_ui->Combo1, kFrequencyMaxLength, &baudcalc::frequencyEdited);
    clearResults();
    updateFrequencyCaption();
}

void baudcalc::baudEdited()
{
    repairEntry(m_ui->Combo2, kBaudMaxLength, &baudcalc::baudEdited);
    clearResults();
}

void baudcalc::frequencyChosen()
{
    // Choosing the value that was calculated keeps the results.
    if (m_ui->Combo1->currentText() != m_lastFrequencyText)
        clearResults();
    updateFrequencyCaption();
}

void baudcalc::baudChosen()
{
    if (m_ui->Combo2->currentText() != m_lastBaudText)
        clearResults();
}

void baudcalc::updateFrequencyCaption()
{
    const QString caption = figure(frequencyCaption(m_ui->Combo1->currentText().toStdString()));
    m_ui->Label26->setText(caption);
    m_ui->Label25->setText(QLatin1String(kListHeading) + caption);
}

void baudcalc::switchCatalogue()
{
    if (m_ui->Check1->isChecked()) {
        fillFrequencyCatalogue(true);
        m_ui->Combo1->setCurrentIndex(kExtendedFrequencyDefault);
        frequencyChosen();
    }
    if (!m_ui->Check1->isChecked()) {
        fillFrequencyCatalogue(false);
        m_ui->Combo1->setCurrentIndex(kStandardFrequencyDefault);
        frequencyChosen();
    }
    clearResults();
}

// ---- results --------------------------------------------------------------

void baudcalc::setResultPlaceholders()
{
    const QString placeholder = QLatin1String(kPlaceholder);
    for (QLabel *label : {m_ui->Label12, m_ui->Label13, m_ui->Label14, m_ui->Label21, m_ui->Label22,
                          m_ui->Label6, m_ui->Label7, m_ui->Label8, m_ui->Label17, m_ui->Label18})
        label->setText(placeholder);
}

void baudcalc::clearResults()
{
    m_ui->List1->clear();
    clearDetails();
    m_ui->Label28->hide();
    m_resultsValid = false;
    m_ui->Label6->setToolTip(QString());
    m_ui->Label12->setToolTip(QString());
    setResultPlaceholders();
}

void baudcalc::calculate()
{
    m_resultsValid = false;
    m_ui->Label6->setToolTip(QString());
    m_ui->Label12->setToolTip(QString());
    clearResults();
    m_ui->List1->setEnabled(false);

    const QString frequencyText = m_ui->Combo1->currentText();
    const QString baudText = m_ui->Combo2->currentText();
    const CalcResult result = calculator::calculate(frequencyText.toStdString(), baudText.toStdString());
    if (result.status == CalcStatus::NoFrequency) {
        message(QMessageBox::Warning, QLatin1String(kApplicationTitle), QLatin1String(kNoFrequencyMessage));
        m_ui->Combo1->setFocus();
        return;
    }
    if (result.status == CalcStatus::NoBaud) {
        message(QMessageBox::Warning, QLatin1String(kApplicationTitle), QLatin1String(kNoBaudMessage));
        m_ui->Combo2->setFocus();
        return;
    }

    m_ui->Command2->setFocus();
    for (QWidget *control : {static_cast<QWidget *>(m_ui->Command1), static_cast<QWidget *>(m_ui->Command3),
                             static_cast<QWidget *>(m_ui->Check1), static_cast<QWidget *>(m_ui->Combo1),
                             static_cast<QWidget *>(m_ui->Combo2)})
        control->setEnabled(false);
    m_lastFrequencyText = frequencyText;
    m_lastBaudText = baudText;

    if (result.status != CalcStatus::Ok) {
        failCalculation();
        return;
    }

    const auto show = [](const ModeResult &mode, QLabel *reg, QLabel *rate, QLabel *error,
                         QLabel *high, QLabel *low) {
        reg->setText(fromCore(mode.registerText));
        rate->setText(figure(mode.rateText));
        error->setText(figure(mode.errorText));
        high->setText(fromCore(mode.highText));
        low->setText(fromCore(mode.lowText));
    };
    show(result.normal, m_ui->Label6, m_ui->Label7, m_ui->Label8, m_ui->Label17, m_ui->Label18);
    show(result.doubleSpeed, m_ui->Label12, m_ui->Label13, m_ui->Label14, m_ui->Label21, m_ui->Label22);

    QPointer<baudcalc> alive(this);
    fillList(result.frequency);
    if (!alive)
        return;

    m_ui->Text3->hide();
    m_ui->List1->setEnabled(true);
    m_ui->Label28->show();
    setWaitCursor(false);
    m_ui->Combo1->setEnabled(true);
    m_ui->Combo2->setEnabled(true);

    selectLine(result.selectedLine);

    m_ui->List1->setFocus();
    m_ui->Command1->setEnabled(true);
    m_ui->Command3->setEnabled(true);
    m_ui->Check1->setEnabled(true);
    m_resultsValid = true;
}

void baudcalc::fillList(float frequency)
{
    m_ui->List1->clear();
    m_ui->Text3->show();
    // One pass of the event loop, so that the notice is on screen while
    // the thread is busy; the inputs are disabled, nothing can start again.
    QCoreApplication::processEvents();
    setWaitCursor(true);
    m_ui->Text3->setText(QLatin1String(kPleaseWait));
    m_ui->Text3->repaint();

    const std::vector<std::string> lines = listLines(frequency);
    QStringList items;
    items.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string &line : lines)
        items.append(inUserLocale(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()))));
    m_ui->List1->addItems(items);
}

void baudcalc::failCalculation()
{
    setWaitCursor(false);
    m_ui->Text3->clear();
    m_ui->Text3->repaint();
    message(QMessageBox::Warning, QLatin1String(kApplicationTitle), QLatin1String(kUnexpectedErrorMessage));
    for (QWidget *control : {static_cast<QWidget *>(m_ui->Combo1), static_cast<QWidget *>(m_ui->Combo2),
                             static_cast<QWidget *>(m_ui->Check1), static_cast<QWidget *>(m_ui->Command1),
                             static_cast<QWidget *>(m_ui->Command3)})
        control->setEnabled(true);
    m_ui->Command1->setFocus();
}

void baudcalc::setWaitCursor(bool on)
{
    if (on == m_waitCursor)
        return;
    m_waitCursor = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

// ---- rate list ------------------------------------------------------------

void baudcalc::showDetails()
{
    const QListWidgetItem *item = m_ui->List1->currentItem();
    if (item == nullptr)
        return;
    const std::string registerText = registerTextOfLine(item->text().toStdString());
    const int value = QString::fromStdString(registerText).toInt();
    m_ui->Label34->setText(fromCore(registerText));
    m_ui->Label36->setText(QString::number(registerHigh(value)));
    m_ui->Label38->setText(QString::number(registerLow(value)));
}

void baudcalc::clearDetails()
{
    m_ui->Label34->clear();
    m_ui->Label36->clear();
    m_ui->Label38->clear();
}

void baudcalc::selectLine(int row)
{
    if (row < 0 || row >= m_ui->List1->count())
        return;
    m_ui->List1->setCurrentRow(row);
    m_ui->List1->scrollToItem(m_ui->List1->item(row));
    showDetails(); // also when the row was current already
}

void baudcalc::locate(QLabel *label, int mode)
{
    if (!m_resultsValid)
        return;
    // "Out of range" has no line to go to.
    bool isNumber = false;
    const int value = label->text().toInt(&isNumber);
    if (!isNumber || value < 0 || value > kRegisterMax)
        return;
    selectLine(2 * value + mode);
}

void baudcalc::showDoubleSpeedNote()
{
    QStringList lines;
    for (const char *line : kDoubleSpeedNote)
        lines.append(QLatin1String(line));
    message(QMessageBox::Information, QLatin1String(kDoubleSpeedNoteTitle), lines.join(u'\n'));
    m_ui->Command1->setFocus();
}

// ---- events ---------------------------------------------------------------

bool baudcalc::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == m_ui->Combo1 || watched == m_ui->Combo2) {
        if (type == QEvent::KeyPress)
            return filterEntryKey(static_cast<QKeyEvent *>(event));
        if (type == QEvent::KeyRelease && watched == m_ui->Combo1)
            updateFrequencyCaption();
        if (type == QEvent::FocusIn) {
            // Select the whole entry once the box has taken the focus, so
            // that typing replaces it.
            const bool handled = watched->event(event);
            static_cast<QComboBox *>(watched)->lineEdit()->selectAll();
            return handled;
        }
    } else if (watched == m_ui->Label6 || watched == m_ui->Label12) {
        auto *label = static_cast<QLabel *>(watched);
        if (type == QEvent::MouseMove && m_resultsValid)
            label->setToolTip(QLatin1String(kLocateTip));
        if (type == QEvent::MouseButtonRelease) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint()))
                locate(label, label == m_ui->Label6 ? kNormalMode : kDoubleMode);
        }
    } else if (watched == m_ui->List1) {
        if (type == QEvent::KeyRelease)
            showDetails();
    } else if (m_listHooked && watched == m_ui->List1->viewport()) {
        // The wheel is not consumed: the list scrolls, the selection stays,
        // only the details of the (maybe scrolled away) line are cleared.
        if (type == QEvent::Wheel)
            clearDetails();
    }
    return QDialog::eventFilter(watched, event);
}

bool baudcalc::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        hookList();
    else if (event->type() == QEvent::WindowDeactivate)
        unhookList();
    return QDialog::event(event);
}

void baudcalc::keyPressEvent(QKeyEvent *event)
{
    // The window has no cancel button; Escape does not close it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void baudcalc::done(int result)
{
    giveOwnerControlsBack();
    QDialog::done(result);
}

void baudcalc::hookList()
{
    if (m_listHooked)
        return; // never twice on the same list
    m_ui->List1->viewport()->installEventFilter(this);
    m_listHooked = true;
}

void baudcalc::unhookList()
{
    if (!m_listHooked)
        return;
    m_ui->List1->viewport()->removeEventFilter(this);
    m_listHooked = false;
}

void baudcalc::giveOwnerControlsBack()
{
    if (m_owner)
        m_owner->enableAfterCalculator();
}

void baudcalc::beep()
{
    if (m_beep)
        m_beep();
}

void baudcalc::message(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    if (m_message) {
        m_message(icon, title, text);
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, this);
    box.exec();
}

} // namespace calculator
