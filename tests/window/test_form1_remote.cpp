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
#include <memory>

#include "window/form1.h"

using echotest::Form1;

class TestForm1Remote : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void aSilentServerLeavesTheWindowResponsive();
    void closingDuringTheOpenClosesTheWindow();

private:
    QStringList messages;
    int listener = -1;
    QString server; // "127.0.0.1:PORT" of the silent server
    std::unique_ptr<Form1> form;
    QPushButton *rebounce = nullptr;
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

// The kernel completes the connection on a listening socket; nobody ever
// answers on it.
void TestForm1Remote::init()
{
    messages.clear();
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    QVERIFY(::listen(listener, 4) == 0);
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0);
    server = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));

    form = std::make_unique<Form1>();
    form->show();
    rebounce = form->findChild<QPushButton *>(QStringLiteral("Command1"));
    QTRY_VERIFY_WITH_TIMEOUT(rebounce->isEnabled(), 10000);
    form->chooseDevice("rfc2217://" + server.toStdString());
}

void TestForm1Remote::cleanup()
{
    form.reset();
    ::close(listener);
}

void TestForm1Remote::aSilentServerLeavesTheWindowResponsive()
{
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

    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains(QLatin1String("is not an RFC 2217 port server")), qPrintable(messages[0]));
    QVERIFY2(messages[0].contains(server), qPrintable(messages[0]));
    // The server's silence is bounded (3 s for the Telnet option).
    QVERIFY2(took < 10000, qPrintable(QString::number(took)));
    // Blocked, the window would see no tick for the whole wait.
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    QVERIFY2(longestGap < 1000, qPrintable(QStringLiteral("%1 ms without an event").arg(longestGap)));
    QCOMPARE(form->findChild<QLabel *>(QStringLiteral("Label15"))->text(), QStringLiteral("CLOSE"));
    QVERIFY(rebounce->isEnabled());
}

// The window can be closed while the open waits: it closes, and the run,
// detached from it, ends with the open without showing anything.
void TestForm1Remote::closingDuringTheOpenClosesTheWindow()
{
    QTimer::singleShot(200, form.get(), [this] { form->close(); });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(rebounce, Qt::LeftButton);
    QVERIFY(!form->isVisible());
    QVERIFY(messages.isEmpty());
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_MAIN(TestForm1Remote)
#include "test_form1_remote.moc"
