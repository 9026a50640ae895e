// The main window inside the test guest: one run on the port that
// REBOUNCE_COM1 names (the 16550 in its internal loopback), driven by a
// click as a user would, offscreen.
#include <QtTest>

#include <QLabel>
#include <QPushButton>

#include <memory>

#include "window/form1.h"

using echotest::Form1;

class GuestWindowRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void oneRunPasses();

private:
    QString text(const char *label)
    {
        auto *w = form->findChild<QLabel *>(QLatin1String(label));
        return w ? w->text() : QStringLiteral("<%1 missing>").arg(QLatin1String(label));
    }

    std::unique_ptr<Form1> form;
    QStringList messages;
};

void GuestWindowRun::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("REBOUNCE_COM1"), "REBOUNCE_COM1 names the port under test");
    Form1::beep = nullptr;
    Form1::messageBox = [this](const QString &text, QMessageBox::Icon, QMessageBox::StandardButtons,
                               QMessageBox::StandardButton) {
        messages << text;
        return QMessageBox::Ok;
    };
}

void GuestWindowRun::oneRunPasses()
{
    form = std::make_unique<Form1>();
    form->show();
    auto *rebounce = form->findChild<QPushButton *>(QStringLiteral("Command1"));
    QVERIFY(rebounce);
    QTRY_VERIFY_WITH_TIMEOUT(rebounce->isEnabled(), 20000);
    QTest::mouseClick(rebounce, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(text("Label3"), QStringLiteral("PASS"), 10000);
    QCOMPARE(messages, QStringList{});
    QCOMPARE(text("Label1"), QStringLiteral("1000/1000"));
    QCOMPARE(text("Label2"), QStringLiteral("1000/1000"));
    QCOMPARE(text("Label15"), QStringLiteral("CLOSE"));
    QCOMPARE(text("Label18"), QStringLiteral("1"));
    form.reset();
}

QTEST_MAIN(GuestWindowRun)
#include "guest_window_run.moc"
