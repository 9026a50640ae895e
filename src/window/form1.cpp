#include "window/form1.h"
#include "help/help_view.h"

#include "ui_form1.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>

#include "engine/baud_selection.h"
#include "resources/artwork.h"
#include "winsvc/qt_entry_keys.h"

namespace echotest {

namespace {

const QColor kGrey(0xC0, 0xC0, 0xC0);
const QColor kPanelGrey(0xE0, 0xE0, 0xE0);
const QColor kBlack(0x00, 0x00, 0x00);
const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kSentCyan(0x00, 0xFF, 0xFF);
const QColor kReceivedGreen(0x00, 0xFF, 0x00);
const QColor kNoticeYellow(0xFF, 0xFF, 0xC0);
const QColor kNoticeText(0x40, 0x40, 0x40);

constexpr int kClientWidth = 800;  // 12000 twips
constexpr int kClientHeight = 579; // 8685 twips
constexpr int kFocusSinkTop = 1043; // 15640 twips: below the client area

constexpr int kTimer1Interval = 50;
constexpr int kTimer2Interval = 500;
constexpr int kTimer3Interval = 2000;


const char *const kResultCleared = "-----";

QFont courierNew(qreal pointSize)
{
    // fontconfig substitutes a metric-compatible face where Courier New is
    // not installed.
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(pointSize);
    return font;
}

// Colours of an enabled box; a disabled one keeps the style's greyed look,
// so that the selectors show when a run or the calculator has them.
void setTextBoxColours(QWidget *box, const QColor &background, const QColor &text)
{
    QPalette pal = box->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Base, background);
        pal.setColor(group, QPalette::Text, text);
    }
    box->setPalette(pal);
}

} // namespace

std::function<void()> Form1::beep = [] { QApplication::beep(); };
Form1::PortDiscovery Form1::discoverPorts = serial::listSerialDevices;

Form1::Form1(QWidget *parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::Form1>()),
      Timer1(new QTimer(this)),
      Timer2(new QTimer(this)),
      Timer3(new QTimer(this))
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    applyLayoutLook();

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimer1Interval);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(kTimer2Interval);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer3->setInterval(kTimer3Interval);

    fillSelectors();
    // Enter presses the focused button, as on Windows; a held Enter key
    // repeats the test run after run (the focus sink swallows the repeats
    // that arrive while a run holds the focus).
    for (QPushButton *button : findChildren<QPushButton *>())
        button->setAutoDefault(true);
    ui_->Command3->move(ui_->Command3->x(), kFocusSinkTop);
    connectHandlers();

    Timer2->start();
    Timer3->start();
    Form_Load();

    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
}

Form1::~Form1()
{
    Unload();
    help::removeHelpViewFilters(*this);
    // Destroying a focused combo makes it "finish editing" and re-emit its
    // selection; by then this object is no longer a Form1.
    for (QObject *source : {static_cast<QObject *>(ui_->Combo1), static_cast<QObject *>(ui_->Combo2),
                            static_cast<QObject *>(ui_->Combo2->lineEdit())}) {
        source->removeEventFilter(this);
        disconnect(source, nullptr, this, nullptr);
    }
}

void Form1::setLabelColours(QLabel *label, const QColor &background, const QColor &text)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, text);
    label->setPalette(pal);
    label->setAutoFillBackground(true);
}

void Form1::applyLayoutLook()
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kGrey);
    pal.setColor(QPalette::WindowText, kBlack);
    setPalette(pal);

    // Every label is opaque; all but the port status are black on grey.
    for (QLabel *label : findChildren<QLabel *>())
        setLabelColours(label, kGrey, kBlack);
    setLabelColours(ui_->Label15, kBlack, kWhite);
    setLabelColours(ui_->Label17, kPanelGrey, kBlack);
    ui_->Image1->setPixmap(resources::connectionDiagram());

    for (QWidget *combo : {static_cast<QWidget *>(ui_->Combo1), static_cast<QWidget *>(ui_->Combo2)})
        setTextBoxColours(combo, kWhite, kBlack);

    struct DataBox {
        QPlainTextEdit *box;
        QColor text;
    };
    for (const DataBox &d : {DataBox{ui_->Text1, kSentCyan}, DataBox{ui_->Text2, kReceivedGreen}}) {
        setTextBoxColours(d.box, kBlack, d.text);
        d.box->setFont(courierNew(8.25));
        // The pattern has no blanks; it has to break anywhere to fill the box.
        d.box->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        d.box->setTabChangesFocus(true);
        d.box->viewport()->setCursor(Qt::ArrowCursor);
    }

    setTextBoxColours(ui_->Text3, kNoticeYellow, kNoticeText);
    ui_->Text3->setCursor(Qt::ArrowCursor);
    ui_->Text3->hide();

    ui_->Picture1->setAutoFillBackground(true);
    QPalette picture = ui_->Picture1->palette();
    picture.setColor(QPalette::Window, kGrey);
    picture.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
    ui_->Picture1->setPalette(picture);
    setTextBoxColours(ui_->T4, kPanelGrey, kBlack);
    ui_->T4->setFont(courierNew(9.75));
    ui_->T4->setTabChangesFocus(true);
    ui_->T4->viewport()->setCursor(Qt::ArrowCursor);
    ui_->Label17->lower(); // a panel behind the help text
    ui_->Picture1->hide();

    // Stacking where controls overlap: the diagram lies underneath (the value
    // boxes reach one pixel into it), the port status sits on it and the
    // warning covers the top row.
    ui_->Image1->lower();
    ui_->Text3->raise();
    ui_->Label15->raise();
}

void Form1::fillSelectors()
{
    QComboBox *combo1 = ui_->Combo1;
    QComboBox *combo2 = ui_->Combo2;
    // Inline completion would rewrite what the user types into a list item.
    combo2->setCompleter(nullptr);
    combo2->lineEdit()->setContextMenuPolicy(Qt::DefaultContextMenu);

    const QSignalBlocker block1(combo1);
    const QSignalBlocker block2(combo2);
    combo2->setEditText(QStringLiteral("Combo2"));
    fillCombo1({});
    for (std::string_view item : kBaudRateItems)
        combo2->addItem(QString::fromLatin1(item.data(), static_cast<qsizetype>(item.size())));
    combo1->setCurrentIndex(kDefaultPortIndex);
    combo2->setCurrentIndex(kDefaultBaudIndex);
    combo2Index_ = kDefaultBaudIndex;

    // Selecting the defaults counts as picking them.
    Combo1_Click();
    Combo2_Click();
}

void Form1::connectHandlers()
{
    connect(ui_->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(ui_->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(ui_->Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(ui_->Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(ui_->Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);

    connect(ui_->Combo1, &QComboBox::activated, this, &Form1::Combo1_Click);
    connect(ui_->Combo1, &PortComboBox::aboutToShowPopup, this, &Form1::refreshCombo1);
    connect(ui_->Combo2, &QComboBox::activated, this, &Form1::Combo2_Click);
    // A pick from the list moves the current index before it rewrites the
    // text; that rewrite is part of the pick, not an edit.
    connect(ui_->Combo2, &QComboBox::editTextChanged, this, [this] {
        if (ui_->Combo2->currentIndex() != combo2Index_)
            return;
        Combo2_Change();
    });
    connect(ui_->Combo2, &QComboBox::currentIndexChanged, this, [this](int index) { combo2Index_ = index; });

    // Keys reach the combo first, which hands them on to its line edit by a
    // direct call; tests and input methods may address the line edit.
    ui_->Combo2->installEventFilter(this);
    ui_->Combo2->lineEdit()->installEventFilter(this);
}

void Form1::Timer2_Timer()
{
    QPlainTextEdit *text1 = ui_->Text1;
    text1->clear();
    text1->repaint();
    text1->setPlainText(QString::fromLatin1(plan_.pattern.bytes.data(), static_cast<qsizetype>(plan_.pattern.length())));
    Timer2->stop();
    text1->repaint();
    // Only now can a run start: the box it compares against is filled.
    ui_->Command4->setEnabled(true);
    ui_->Command1->setEnabled(true);
    ui_->Command1->setFocus();
}

void Form1::Timer3_Timer()
{
    Timer3->stop();
    ui_->Text3->hide();
}

void Form1::Combo1_Click()
{
    clearResultDisplays();
}

// Entries past "4" are the devices found when the list was last read.
void Form1::fillCombo1(const std::string &keep)
{
    PortComboBox *combo1 = ui_->Combo1;
    foundPorts_ = discoverPorts ? discoverPorts() : std::vector<serial::SerialDevice>{};
    portEntries_ = portEntries(foundPorts_, keep);
    const QSignalBlocker block(combo1);
    combo1->clear();
    for (const PortEntry &entry : portEntries_) {
        combo1->addItem(QString::fromStdString(entry.text));
        const int row = combo1->count() - 1;
        combo1->setItemData(row, QString::fromStdString(entry.device), PortComboBox::DeviceRole);
        combo1->setItemData(row, QString::fromStdString(entry.line), PortComboBox::LineRole);
        combo1->setItemData(row, QString::fromStdString(entry.tip), Qt::ToolTipRole);
    }
}

// The list is read again each time it opens; the chosen entry stays chosen,
// also when its device has gone meanwhile (the run then says so).
void Form1::refreshCombo1()
{
    PortComboBox *combo1 = ui_->Combo1;
    const int index = combo1->currentIndex();
    const std::string device = selectedDevice();
    const bool fixedEntry = index >= 0 && index < kFixedPortEntries;
    fillCombo1(fixedEntry ? std::string() : device);
    const QSignalBlocker block(combo1);
    combo1->setCurrentIndex(fixedEntry ? index : findPortEntry(portEntries_, foundPorts_, device));
}

std::string Form1::selectedDevice() const
{
    const QVariant device = ui_->Combo1->currentData(PortComboBox::DeviceRole);
    return device.isValid() ? device.toString().toStdString() : serial::comPortDevice(1);
}

void Form1::chooseDevice(const std::string &device)
{
    fillCombo1(device);
    {
        const QSignalBlocker block(ui_->Combo1);
        ui_->Combo1->setCurrentIndex(findPortEntry(portEntries_, foundPorts_, device));
    }
    Combo1_Click();
}

std::string Form1::deviceArgument(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption device(QStringLiteral("device"), QString(), QStringLiteral("PATH"));
    parser.addOption(device);
    (void)parser.parse(arguments); // unknown options are not ours to refuse
    return parser.value(device).toStdString();
}

void Form1::Combo2_Click()
{
    showBaudReading(readBaudText(ui_->Combo2->currentText().toStdString()));
    clearResultDisplays();
}

void Form1::Combo2_Change()
{
    // Our own correction of the text below raises this handler again; the
    // corrected text is handled once, here.
    if (inCombo2Change_)
        return;
    QLineEdit *edit = ui_->Combo2->lineEdit();
    const BaudTextCheck check = checkBaudText(edit->text().toStdString());
    if (check.replacedByZero || check.truncated) {
        inCombo2Change_ = true;
        edit->setText(QString::fromStdString(check.reading.text));
        inCombo2Change_ = false;
        if (check.replacedByZero)
            edit->setSelection(0, static_cast<int>(edit->text().size())); // the next digit replaces it
        else
            edit->setCursorPosition(static_cast<int>(kMaxBaudTextLength));
        if (check.truncated && beep)
            beep();
    }
    showBaudReading(check.reading);
    clearResultDisplays();
}

void Form1::Combo2_GotFocus()
{
    ui_->Combo2->lineEdit()->selectAll();
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    const bool isCombo2 = watched == ui_->Combo2 || watched == ui_->Combo2->lineEdit();
    if (isCombo2 && event->type() == QEvent::KeyPress)
        return filterCombo2Key(event);
    if (watched == ui_->Combo2 && event->type() == QEvent::FocusIn)
        Combo2_GotFocus();
    if (filterLifecycleEvent(watched, event))
        return true;
    return QWidget::eventFilter(watched, event);
}

bool Form1::filterCombo2Key(QEvent *event)
{
    switch (winsvc::filterDigitKey(winsvc::keyStrokeOf(*static_cast<QKeyEvent *>(event)))) {
    case winsvc::DigitKey::Edit:
    case winsvc::DigitKey::Pass:
        return false;
    case winsvc::DigitKey::Enter: // presses nothing here; the key is the button's
        return true;
    case winsvc::DigitKey::Refuse:
        if (beep)
            beep();
        return true;
    }
    return true;
}

// The one reading of the rate text that Label12, the abort's hourglass and
// the next run all go by.
void Form1::showBaudReading(const BaudReading &reading)
{
    plan_.baud = reading;
    ui_->Label12->setText(QString::fromStdString(minTransmitTimeCaption(plan_.lineTimeMs())));
}

void Form1::clearResultDisplays()
{
    // Each label is repainted at once so that the clearing shows even when
    // a long operation follows without returning to the event loop.
    ui_->Label6->setText(QString::fromLatin1(kNoTimeCaption.data(), static_cast<qsizetype>(kNoTimeCaption.size())));
    ui_->Label6->repaint();
    ui_->Label14->setText(QString::fromLatin1(kNoTimeCaption.data(), static_cast<qsizetype>(kNoTimeCaption.size())));
    ui_->Label14->repaint();
    setLabelColours(ui_->Label3, kGrey, kBlack);
    ui_->Label3->setText(QLatin1String(kResultCleared));
    ui_->Label3->repaint();
    const QString countCleared = QStringLiteral("0/%1").arg(plan_.patternLength());
    ui_->Label1->setText(countCleared);
    ui_->Label1->repaint();
    ui_->Label2->setText(countCleared);
    ui_->Label2->repaint();
}

} // namespace echotest
