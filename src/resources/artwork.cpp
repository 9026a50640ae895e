#include "resources/artwork.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace resources {

namespace {

const QColor kWindowGrey(0xC0, 0xC0, 0xC0);
const QColor kSentCyan(0x00, 0xFF, 0xFF);     // colour of the transmitted data
const QColor kReceivedGreen(0x00, 0xFF, 0x00); // colour of the received data
const QColor kEchoYellow(0xFF, 0xFF, 0x00);
const QColor kChipFill(0x50, 0x50, 0x50);

// Diagram lanes (y of the wire) and columns (x), chosen so that the
// top-left 110 x 26 pixels stay free for the port status label.
constexpr int kSendLane = 72;     // PC TXD -> MCU RXD
constexpr int kReceiveLane = 104; // MCU TXD -> PC RXD
constexpr int kGroundLane = 150;
constexpr int kPinX = 30;        // wires start at the connector's pins
constexpr int kMcuLeft = 280;
constexpr int kMcuRight = 420;

void arrowHead(QPainter &p, QPoint tip, int direction, const QColor &colour)
{
    // direction +1 points right, -1 points left
    const int back = tip.x() - direction * 7;
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(QPolygon({tip, QPoint(back, tip.y() - 4), QPoint(back, tip.y() + 4)}));
}

// A dotted stretch beside a wire with an arrow head at its end.
void dataFlow(QPainter &p, int y, int fromX, int toX, const QColor &colour)
{
    QPen pen(colour, 2, Qt::DotLine);
    p.setPen(pen);
    p.drawLine(fromX, y, toX, y);
    arrowHead(p, QPoint(toX, y), toX > fromX ? 1 : -1, colour);
}

void lineDriver(QPainter &p, int leftX, int y, bool pointsRight)
{
    const int width = 36;
    const int half = 10;
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    QPoint tip;
    if (pointsRight) {
        tip = QPoint(leftX + width, y);
        p.drawPolygon(QPolygon({QPoint(leftX, y - half), QPoint(leftX, y + half), tip}));
        p.drawEllipse(QPoint(tip.x() + 4, y), 4, 4);
    } else {
        tip = QPoint(leftX, y);
        p.drawPolygon(QPolygon({QPoint(leftX + width, y - half), QPoint(leftX + width, y + half), tip}));
        p.drawEllipse(QPoint(tip.x() - 4, y), 4, 4);
    }
}

void connector(QPainter &p)
{
    // A female DB-9 seen from the mating side, standing on its end: five
    // pins in one column, four in the other.
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(0x90, 0x90, 0x90));
    p.drawPolygon(QPolygon({QPoint(18, 42), QPoint(56, 52), QPoint(56, 128), QPoint(18, 138)}));
    p.setBrush(Qt::black);
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPoint(kPinX, 56 + 16 * i), 3, 3);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPoint(44, 64 + 16 * i), 3, 3);
}

} // namespace

QPixmap iconPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::black);
    QPainter p(&pixmap);
    // Designed on a 32-unit grid; the 16 px form is the same drawing halved.
    p.scale(size / 32.0, size / 32.0);
    p.setPen(Qt::NoPen);

    // Each arrow's shaft stops where the other colour's joint begins, so
    // the loop reads as two arrows chasing each other.
    p.setBrush(kSentCyan);
    p.drawRect(9, 7, 16, 5);                                                // top shaft
    p.drawPolygon(QPolygon({QPoint(1, 9), QPoint(11, 2), QPoint(11, 17)})); // head, pointing left
    p.drawRect(2, 9, 5, 16);                                                // left joint

    p.setBrush(kReceivedGreen);
    p.drawRect(7, 20, 16, 5);                                                  // bottom shaft
    p.drawPolygon(QPolygon({QPoint(31, 22), QPoint(21, 15), QPoint(21, 30)})); // head, pointing right
    p.drawRect(25, 7, 5, 10);                                                  // right joint
    return pixmap;
}

QIcon appIcon()
{
    QIcon icon;
    icon.addPixmap(iconPixmap(16));
    icon.addPixmap(iconPixmap(32));
    return icon;
}

QPixmap connectionDiagram()
{
    QPixmap pixmap(kDiagramWidth, kDiagramHeight);
    pixmap.fill(kWindowGrey);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    p.setFont(font);

    // Title, right of the status label's corner.
    QFont titleFont = font;
    titleFont.setPixelSize(15);
    titleFont.setBold(true);
    p.setFont(titleFont);
    p.setPen(Qt::black);
    p.drawText(QRect(120, 2, 320, 24), Qt::AlignCenter, QStringLiteral("Rebounce Test"));
    p.setFont(font);

    // PC side: the serial connector.
    connector(p);
    p.setPen(Qt::black);
    p.drawText(QRect(0, 140, 76, 14), Qt::AlignCenter, QStringLiteral("RS-232"));

    // Transceiver: one driver towards the MCU, one back towards the PC.
    p.setPen(QPen(Qt::black, 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(122, 52, 80, 70);
    lineDriver(p, 134, kSendLane, true);
    lineDriver(p, 150, kReceiveLane, false);
    p.setPen(Qt::black);
    p.drawText(QRect(96, 124, 132, 14), Qt::AlignCenter, QStringLiteral("RS-232 Transceiver"));

    // Black signal wires.
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(kPinX, kSendLane, 134, kSendLane);
    p.drawLine(178, kSendLane, kMcuLeft, kSendLane);
    p.drawLine(kMcuLeft, kReceiveLane, 186, kReceiveLane);
    p.drawLine(142, kReceiveLane, kPinX, kReceiveLane);
    p.drawPolyline(QPolygon({QPoint(kPinX, 120), QPoint(90, 120), QPoint(90, kGroundLane),
                             QPoint(kMcuLeft, kGroundLane)}));

    // The MCU with its three pins.
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(kChipFill);
    p.drawRect(kMcuLeft, 46, kMcuRight - kMcuLeft, 120);
    p.setPen(Qt::white);
    const QRect pinLabel(kMcuLeft + 6, 0, 30, 14);
    p.drawText(pinLabel.translated(0, kSendLane - 7), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("RXD"));
    p.drawText(pinLabel.translated(0, kReceiveLane - 7), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("TXD"));
    p.drawText(pinLabel.translated(0, kGroundLane - 7), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("GND"));
    QFont chipFont = font;
    chipFont.setPixelSize(13);
    p.setFont(chipFont);
    p.drawText(QRect(350, 80, kMcuRight - 354, 40), Qt::AlignCenter, QStringLiteral("AVR MCU"));
    p.setFont(font);

    // The firmware's echo: what comes in on RXD goes out on TXD.
    p.setPen(QPen(kEchoYellow, 2, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygon({QPoint(316, kSendLane), QPoint(340, kSendLane), QPoint(340, kReceiveLane),
                             QPoint(322, kReceiveLane)}));
    arrowHead(p, QPoint(316, kReceiveLane), -1, kEchoYellow);

    // Direction of the data, in the colours of the two data boxes.
    dataFlow(p, kSendLane - 7, 62, 126, kSentCyan);
    dataFlow(p, kSendLane - 7, 190, 270, kSentCyan);
    dataFlow(p, kReceiveLane + 7, 270, 194, kReceivedGreen);
    dataFlow(p, kReceiveLane + 7, 140, 62, kReceivedGreen);

    p.setPen(Qt::black);
    p.drawText(QRect(0, 176, kDiagramWidth, 20), Qt::AlignCenter,
               QStringLiteral("10 bits per frame: <1 start bit><8 data bits><1 stop bit>"));
    return pixmap;
}

} // namespace resources
