#pragma once
// Combo1's box: closed it shows an entry's short text ("USB0"); open, each
// entry's full line ("/dev/ttyUSB0  FT232R USB UART  0403:6001"), in a
// list as wide as its longest line.  It says when it is about to open, so
// that the window can read the devices again first.
#include <QComboBox>

namespace echotest {

class PortComboBox : public QComboBox {
    Q_OBJECT

public:
    static constexpr int DeviceRole = Qt::UserRole;    // the device a run opens
    static constexpr int LineRole = Qt::UserRole + 1;  // the open list's line

    explicit PortComboBox(QWidget *parent = nullptr);

    void showPopup() override;

    // The font and text that fit text into width: the font narrowed down
    // to kNarrowestStretch percent first, then the text cut with an
    // ellipsis.  Closed, the box is narrower than "USB0" in its font.
    struct FittedLabel {
        QFont font;
        QString text;
    };
    static constexpr int kNarrowestStretch = 70;
    static FittedLabel fitLabel(const QString &text, const QFont &font, int width);
    // Where the closed box writes its label.
    QRect labelRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

signals:
    void aboutToShowPopup();
};

} // namespace echotest
