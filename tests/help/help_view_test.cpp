#include "help/help_document.h"
#include "help/help_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// Stand-in for the main window: the controls the help view works on, with
// the names, kinds and start states of the real layout, client area 800 x 579.
std::unique_ptr<QWidget> makeForm1(bool withT4 = true)
{
    auto form = std::make_unique<QWidget>();
    form->setObjectName("Form1");
    form->resize(800, 579);

    auto named = [](QWidget *w, const char *name, QRect geometry) {
        w->setObjectName(name);
        w->setGeometry(geometry);
        return w;
    };
    QWidget *f = form.get();
    named(new QComboBox(f), "Combo1", {72, 4, 49, 21});
    auto *combo2 = new QComboBox(f);
    combo2->setEditable(true);
    named(combo2, "Combo2", {240, 4, 73, 21});
    named(new QPlainTextEdit(f), "Text1", {8, 28, 777, 161});
    named(new QLineEdit(f), "Text3", {8, 4, 377, 21})->hide();
    named(new QPushButton("Rebounce ", f), "Command1", {16, 360, 73, 23});
    named(new QPushButton("Abort Test", f), "Command2", {96, 360, 73, 23})->setEnabled(false);
    named(new QPushButton("Calculator", f), "Command6", {176, 360, 73, 23});
    named(new QPushButton("Help", f), "Command4", {256, 360, 73, 23});
    auto *sink = new QPushButton("focus", f);
    sink->setFocusPolicy(Qt::ClickFocus);
    named(sink, "Command3", {440, 1042, 73, 25});
    named(new QCheckBox("Pass if lower-case characters are received:", f), "Check1", {16, 336, 245, 17});
    named(new QPlainTextEdit(f), "Text2", {8, 388, 777, 161});

    auto *picture = new QFrame(f);
    named(picture, "Picture1", {704, 408, 73, 105});
    if (withT4)
        named(new QPlainTextEdit(picture), "T4", {0, 0, 49, 19});
    named(new QLabel(picture), "Label17", {8, 56, 65, 41});
    named(new QPushButton("Close Help", picture), "Command5", {0, 24, 89, 23});
    picture->hide();
    return form;
}

// The stand-in as the help view asks for it, the way Form1 answers.
class StandInHost : public help::HelpHost
{
public:
    QWidget *form = nullptr;

    QWidget *hostWindow() override { return form; }
    help::HelpControls helpControls() override
    {
        return {named("Picture1"), qobject_cast<QPlainTextEdit *>(named("T4")), named("Label17"), named("Command5")};
    }
    void enableNormalView(bool enabled) override
    {
        const char *const off[] = {"Combo1", "Combo2", "Text1", "Text2", "Text3", "Command1",
                                   "Command2", "Command3", "Command6", "Command5", "Command4", "Check1"};
        const char *const on[] = {"Combo1", "Combo2", "Text1", "Text2", "Text3",
                                  "Command1", "Command3", "Command4", "Command6", "Check1"};
        if (enabled) {
            for (const char *name : on)
                named(name)->setEnabled(true);
        } else {
            for (const char *name : off)
                named(name)->setEnabled(false);
        }
    }
    void focusHelpButton() override { named("Command4")->setFocus(Qt::OtherFocusReason); }

private:
    QWidget *named(const char *name) { return form->findChild<QWidget *>(QLatin1String(name)); }
};

template <typename T = QWidget>
T *find(QWidget *form, const char *name)
{
    T *w = form->findChild<T *>(name);
    if (!w)
        qFatal("stand-in lacks %s", name);
    return w;
}

void showAndActivate(QWidget *form)
{
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    QVERIFY(QTest::qWaitForWindowActive(form));
}

} // namespace

class HelpViewTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void geometryFillsTheClientArea_data();
    void geometryFillsTheClientArea();

    void openShowsTheDocumentAtTheTop();
    void openDisablesTheMainControls_data();
    void openDisablesTheMainControls();
    void openRestoresTheMousePointer();
    void tabStaysInsideTheHelpView();
    void closeRestoresTheNormalView_data();
    void closeRestoresTheNormalView();
    void reopenShowsTheSameDocument();
    void missingControlReportsAndChangesNothing();
    void picture1HandsTheFocusOnToCloseHelp();
    void caretStaysHiddenInTheOpenView();

private:
    help::HelpHost &host()
    {
        host_.form = form_.get();
        return host_;
    }

    std::unique_ptr<QWidget> form_;
    StandInHost host_;
};

void HelpViewTest::cleanup()
{
    form_.reset();
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

void HelpViewTest::geometryFillsTheClientArea_data()
{
    QTest::addColumn<QSize>("client");
    QTest::newRow("main window") << QSize(800, 579);
    QTest::newRow("small") << QSize(320, 200);
    QTest::newRow("odd width") << QSize(801, 580);
}

void HelpViewTest::geometryFillsTheClientArea()
{
    QFETCH(QSize, client);
    const help::HelpViewGeometry g = help::helpViewGeometry(client);
    const QRect all(QPoint(0, 0), client);

    QCOMPARE(g.picture1, all);
    QVERIFY(all.contains(g.label17));
    QVERIFY(g.label17.contains(g.t4));
    QVERIFY(all.contains(g.command5));
    QCOMPARE(g.command5.size(), help::kCloseButtonSize);
    // The button sits below the panel, centred.
    QVERIFY(g.command5.top() > g.label17.bottom());
    QVERIFY(qAbs(g.command5.center().x() - all.center().x()) <= 1);
    // The box keeps most of the window for the text.
    QVERIFY(g.t4.width() >= client.width() - 2 * help::kHelpMargin - 2);
    QVERIFY(g.t4.height() >= client.height() - 60);
}

void HelpViewTest::openShowsTheDocumentAtTheTop()
{
    form_ = makeForm1();
    showAndActivate(form_.get());
    help::openHelpView(host());

    auto *t4 = find<QPlainTextEdit>(form_.get(), "T4");
    QVERIFY(t4->isVisible());
    QVERIFY(find(form_.get(), "Picture1")->isVisible());
    QVERIFY(find(form_.get(), "Label17")->isVisible());
    QVERIFY(t4->isReadOnly());
    QCOMPARE(find(form_.get(), "Picture1")->geometry(), QRect(0, 0, 800, 579));

    // One block per line plus the empty one that the leading CR LF makes.
    const std::vector<std::string> lines = help::helpLines();
    QTextDocument *doc = t4->document();
    QCOMPARE(doc->blockCount(), int(lines.size()) + 1);
    QCOMPARE(doc->findBlockByNumber(0).text(), QString());
    QCOMPARE(doc->findBlockByNumber(1).text(), QString::fromStdString(lines.front()));
    QCOMPARE(doc->findBlockByNumber(21).text(), QString::fromStdString(lines[20]));
    QCOMPARE(doc->findBlockByNumber(184).text().size(), 89);

    QCOMPARE(t4->verticalScrollBar()->value(), 0);
    QCOMPARE(t4->cursorForPosition(QPoint(0, 0)).blockNumber(), 0);
    const QTextCursor caret = t4->textCursor();
    QVERIFY(!caret.hasSelection());
    QCOMPARE(caret.position(), int(help::viewPositionOfOffset(help::buildHelpDocument(),
                                                              help::kInitialCaretOffset)));
    QVERIFY(caret.blockNumber() >= 20 && caret.blockNumber() <= 61);

    QVERIFY(QFontInfo(t4->font()).fixedPitch());
    QCOMPARE(t4->font().pointSizeF(), 9.75);

    auto *close = find(form_.get(), "Command5");
    QVERIFY(close->isVisible());
    QVERIFY(close->isEnabled());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(t4));
}

void HelpViewTest::openDisablesTheMainControls_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : {"Combo1", "Combo2", "Text1", "Text2", "Text3", "Command1", "Command2",
                             "Command3", "Command4", "Command6", "Check1"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void HelpViewTest::openDisablesTheMainControls()
{
    QFETCH(QString, name);
    form_ = makeForm1();
    showAndActivate(form_.get());
    help::openHelpView(host());
    QWidget *w = form_->findChild<QWidget *>(name);
    QVERIFY(w);
    QVERIFY(!w->isEnabled());
}

void HelpViewTest::openRestoresTheMousePointer()
{
    form_ = makeForm1();
    showAndActivate(form_.get());
    help::openHelpView(host());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    help::closeHelpView(host());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void HelpViewTest::tabStaysInsideTheHelpView()
{
    form_ = makeForm1();
    showAndActivate(form_.get());
    help::openHelpView(host());
    QWidget *t4 = find(form_.get(), "T4");
    QWidget *close = find(form_.get(), "Command5");

    bool reachedClose = false;
    for (int i = 0; i < 6; ++i) {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus);
        QTest::keyClick(focus, Qt::Key_Tab);
        focus = QApplication::focusWidget();
        QVERIFY2(focus == t4 || focus == close,
                 qPrintable(QStringLiteral("focus reached %1").arg(focus ? focus->objectName() : "nothing")));
        reachedClose = reachedClose || focus == close;
    }
    QVERIFY(reachedClose);
    // Tab never types into the read-only document.
    QCOMPARE(t4->property("plainText").toString().size(),
             QString::fromStdString(help::buildHelpDocument()).remove('\r').size());
}

void HelpViewTest::closeRestoresTheNormalView_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("enabled");
    for (const char *name : {"Combo1", "Combo2", "Text1", "Text2", "Text3", "Command1", "Command3",
                             "Command4", "Command6", "Check1"})
        QTest::newRow(name) << QString::fromLatin1(name) << true;
    QTest::newRow("Command2 stays disabled") << QStringLiteral("Command2") << false;
}

void HelpViewTest::closeRestoresTheNormalView()
{
    QFETCH(QString, name);
    QFETCH(bool, enabled);
    form_ = makeForm1();
    showAndActivate(form_.get());
    help::openHelpView(host());
    help::closeHelpView(host());

    QWidget *w = form_->findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->isEnabled(), enabled);

    auto *t4 = find<QPlainTextEdit>(form_.get(), "T4");
    QVERIFY(t4->toPlainText().isEmpty());
    for (const char *hidden : {"T4", "Command5", "Picture1", "Label17"})
        QVERIFY2(!find(form_.get(), hidden)->isVisible(), hidden);
    QVERIFY(!help::isHelpViewOpen(host()));
    QCOMPARE(QApplication::focusWidget(), find(form_.get(), "Command4"));
}

void HelpViewTest::reopenShowsTheSameDocument()
{
    form_ = makeForm1();
    showAndActivate(form_.get());
    auto *t4 = find<QPlainTextEdit>(form_.get(), "T4");

    help::openHelpView(host());
    const QString first = t4->toPlainText();
    const int firstCaret = t4->textCursor().position();
    t4->moveCursor(QTextCursor::End); // the reader scrolled away
    help::closeHelpView(host());
    help::openHelpView(host());

    QVERIFY(!first.isEmpty());
    QCOMPARE(t4->toPlainText(), first);
    QCOMPARE(t4->textCursor().position(), firstCaret);
    QCOMPARE(t4->verticalScrollBar()->value(), 0);
}

void HelpViewTest::missingControlReportsAndChangesNothing()
{
    form_ = makeForm1(/*withT4=*/false);
    showAndActivate(form_.get());

    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool cursorWasRestored = false;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        cursorWasRestored = QApplication::overrideCursor() == nullptr;
        box->button(QMessageBox::Ok)->click();
    });
    help::openHelpView(host());

    QCOMPARE(text, QStringLiteral("Error while loading help text!"));
    QCOMPARE(title, QStringLiteral(" Rebounce Test"));
    QCOMPARE(icon, QMessageBox::Warning);
    QVERIFY(cursorWasRestored);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(find(form_.get(), "Command1")->isEnabled());
    QVERIFY(find(form_.get(), "Command4")->isEnabled());
    QVERIFY(!find(form_.get(), "Picture1")->isVisible());
}

void HelpViewTest::picture1HandsTheFocusOnToCloseHelp()
{
    form_ = makeForm1();
    showAndActivate(form_.get());
    help::installHelpViewFilters(host());
    help::installHelpViewFilters(host()); // a second call adds nothing
    QCOMPARE(form_->findChildren<QObject *>("helpViewFilter", Qt::FindDirectChildrenOnly).size(), 1);

    help::openHelpView(host());
    auto *picture = find(form_.get(), "Picture1");
    auto *close = find(form_.get(), "Command5");
    picture->setFocusPolicy(Qt::StrongFocus);

    picture->setFocus();
    QCOMPARE(QApplication::focusWidget(), close);

    // With Close Help disabled the focus stays where it went.
    close->setEnabled(false);
    picture->setFocus();
    QCOMPARE(QApplication::focusWidget(), picture);
}

void HelpViewTest::caretStaysHiddenInTheOpenView()
{
    form_ = makeForm1();
    showAndActivate(form_.get());
    help::installHelpViewFilters(host());
    auto *t4 = find<QPlainTextEdit>(form_.get(), "T4");

    help::hideHelpCaret(host()); // closed view: nothing to hide
    QVERIFY(t4->cursorWidth() > 0);

    help::openHelpView(host());
    QCOMPARE(t4->cursorWidth(), 0);

    t4->setCursorWidth(1); // something showed it again
    QTest::mouseClick(t4->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QCOMPARE(t4->cursorWidth(), 0);
}

QTEST_MAIN(HelpViewTest)
#include "help_view_test.moc"
