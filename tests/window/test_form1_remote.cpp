// The window against a port server that takes the connection and then says
// nothing: the open waits off the window's thread, so the window keeps
// painting and its timers fire, and the run ends with a message naming the
// server.
#include <QtTest>

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "window/form1.h"

using echotest::Form1;

class TestForm1Remote : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void aSilentServerLeavesTheWindowResponsive();

private:
    QStringList messages;
};

void TestForm1Remote::initTestCase()
{
    Form1::beep = nullptr;
    Form1::messageBox = [this](const QString &text, QMessageBox::Icon, QMessageBox::StandardButtons,
                               QMessageBox::StandardButton) {
        messages << text;
        return QMessageBox::Ok;
    };
    Form1::discoverPorts = [] { return std::vector<serial::SerialDevice>{}; };
}

void TestForm1Remote::aSilentServerLeavesTheWindowResponsive()
{
    // The kernel completes the connection on a listening socket; nobody
    // ever answers on it.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    QVERIFY(::listen(listener, 4) == 0);
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0);
    const QString server = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));

    Form1 form;
    form.show();
    auto *rebounce = form.findChild<QPushButton *>(QStringLiteral("Command1"));
    QTRY_VERIFY_WITH_TIMEOUT(rebounce->isEnabled(), 10000);
    form.chooseDevice("rfc2217://" + server.toStdString());

    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(20);
    connect(&ticker, &QTimer::timeout, this, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
        ++ticks;
    });
    clock.start();
    ticker.start();
    QTest::mouseClick(rebounce, Qt::LeftButton); // returns when the run has ended
    const qint64 took = clock.elapsed();
    ticker.stop();
    longestGap = std::max(longestGap, took - lastTick);
    ::close(listener);

    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains(QLatin1String("is not an RFC 2217 port server")), qPrintable(messages[0]));
    QVERIFY2(messages[0].contains(server), qPrintable(messages[0]));
    // The server's silence is bounded (3 s for the Telnet option).
    QVERIFY2(took < 10000, qPrintable(QString::number(took)));
    // Blocked, the window would see no tick for the whole wait.
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    QVERIFY2(longestGap < 1000, qPrintable(QStringLiteral("%1 ms without an event").arg(longestGap)));
    QCOMPARE(form.findChild<QLabel *>(QStringLiteral("Label15"))->text(), QStringLiteral("CLOSE"));
    QVERIFY(rebounce->isEnabled());
}

QTEST_MAIN(TestForm1Remote)
#include "test_form1_remote.moc"
