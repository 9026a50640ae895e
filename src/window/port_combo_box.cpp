#include "window/port_combo_box.h"

#include <QAbstractItemView>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace echotest {

namespace {

// Paints an entry's line instead of its short text.
class LineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant line = index.data(PortComboBox::LineRole);
        if (line.isValid())
            option->text = line.toString();
    }
};

} // namespace

PortComboBox::PortComboBox(QWidget *parent) : QComboBox(parent)
{
    view()->setItemDelegate(new LineDelegate(view()));
}

void PortComboBox::showPopup()
{
    emit aboutToShowPopup();
    // The box is narrow; the list grows to its longest line.
    int widest = width();
    for (int row = 0; row < count(); ++row)
        widest = std::max(widest, view()->sizeHintForIndex(model()->index(row, modelColumn())).width());
    view()->setMinimumWidth(widest + view()->verticalScrollBar()->sizeHint().width());
    QComboBox::showPopup();
}

PortComboBox::FittedLabel PortComboBox::fitLabel(const QString &text, const QFont &font, int width)
{
    FittedLabel label{font, text};
    const int natural = QFontMetrics(font).horizontalAdvance(text);
    if (natural <= width || natural == 0)
        return label;
    label.font.setStretch(std::max(kNarrowestStretch, 100 * width / natural));
    label.text = QFontMetrics(label.font).elidedText(text, Qt::ElideRight, width);
    return label;
}

// QComboBox's own painting, with the label fitted between the frame and
// the arrow (the style's own label field keeps wider margins).
void PortComboBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QString text = option.currentText;
    option.currentText.clear();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const FittedLabel label = fitLabel(text, font(), labelRect().width());
    painter.setFont(label.font);
    style()->drawItemText(&painter, labelRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(), label.text);
}

QRect PortComboBox::labelRect() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const int frame = style()->pixelMetric(QStyle::PM_ComboBoxFrameWidth, &option, this);
    const QRect arrow = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, this);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    const int left = frame + 1;
    return QRect(left, field.top(), std::max(0, arrow.left() - 1 - left), field.height());
}

} // namespace echotest
