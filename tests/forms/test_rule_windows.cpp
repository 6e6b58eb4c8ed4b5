// The between window (Form2) and the text-set window (Form3): their design,
// the stored markers and text set, the list commands, item files, help boxes,
// closing, pointers and the hand-over of "Start Extracting".
#include "ScriptedDialogs.h"
#include "StoredSettings.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/SettingsStore.h"
#include "app/WindowHelpers.h"
#include "output/HelpTexts.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vc;
using test::ScriptedDialogs;

namespace {

// One control of a rule window: what the test expects of it.
struct Control {
    const char *name;
    const char *kind;    // Qt class the control must be
    const char *parent;  // object name of its container
    QString caption;     // button text, frame title; empty for boxes
    int l, t, w, h;      // twips
    int tab;             // tab index
};

const QList<Control> kForm2 = {
    {"PushButton11", "QPushButton", "Form2", "Help", 120, 120, 7800, 405, 4},
    {"Frame2", "QGroupBox", "Form2", "Start with (X)", 120, 570, 7800, 795, 5},
    {"Text3", "QLineEdit", "Frame2", "", 240, 300, 7320, 345, 0},
    {"Frame1", "QGroupBox", "Form2", "End with (Y)", 120, 1395, 7800, 795, 6},
    {"Text4", "QLineEdit", "Frame1", "", 240, 300, 7320, 345, 1},
    {"PushButton4", "QPushButton", "Form2", "Start Extracting", 120, 2295, 3840, 405, 2},
    {"PushButton1", "QPushButton", "Form2", "Close This Window", 4080, 2295, 3840, 405, 3},
};

const QList<Control> kForm3 = {
    {"PushButton11", "QPushButton", "Form3", "Help", 120, 120, 7800, 405, 6},
    {"Frame2", "QGroupBox", "Form3", "Containing Text", 120, 570, 7800, 800, 7},
    {"Combo1", "QComboBox", "Frame2", "", 240, 300, 7320, 345, -1},
    {"PushButton2", "QPushButton", "Form3", "Add Item", 120, 1485, 3840, 405, 2},
    {"PushButton1", "QPushButton", "Form3", "Remove Selected Item", 4080, 1485, 3840, 405, 3},
    {"PushButton5", "QPushButton", "Form3", "Clear All Items", 120, 1985, 3840, 405, 4},
    {"PushButton3", "QPushButton", "Form3", "Load Multiple Items From Text File", 4080, 1980, 3840, 405, 1},
    {"PushButton4", "QPushButton", "Form3", "Start Extracting", 120, 2485, 7800, 405, 5},
    {"itemsListFrame", "QGroupBox", "Form3", "Items", 120, 2985, 7800, 2415, 8},
    {"itemsList", "QListView", "itemsListFrame", "<0 rows>", 240, 300, 7320, 1995, 0},
};

// A caption as it reads on the screen (the underlined letter's "&" left out).
QString captionOf(QWidget *w)
{
    if (auto *b = qobject_cast<QPushButton *>(w))
        return QString(b->text()).remove(QLatin1Char('&'));
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return QString(g->title()).remove(QLatin1Char('&'));
    if (auto *v = qobject_cast<QAbstractItemView *>(w))
        return QStringLiteral("<%1 rows>").arg(v->model()->rowCount());
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->count() ? QStringLiteral("<%1 items>").arg(c->count()) : c->currentText();
    return QStringLiteral("<?>");
}

void checkDesign(QWidget *window, const QList<Control> &table)
{
    for (const Control &c : table) {
        auto *w = window->findChild<QWidget *>(QLatin1String(c.name));
        QVERIFY2(w, c.name);
        QVERIFY2(w->inherits(c.kind), c.name);
        QVERIFY2(w->parentWidget() && w->parentWidget()->objectName() == QLatin1String(c.parent), c.name);
        QVERIFY2(captionOf(w) == c.caption, qPrintable(QLatin1String(c.name) + ": " + captionOf(w)));
        QVERIFY2(w->geometry() == twipsRect(c.l, c.t, c.w, c.h), c.name);
        QVERIFY2(w->isEnabled() && !w->isHidden(), c.name);
        QFont f = w->font();
        QVERIFY2(f.family() == QLatin1String("Arial") && f.bold(), c.name);
        const double pt = qstrcmp(c.kind, "QPushButton") == 0 ? 11.25 : 9.0;
        QVERIFY2(qFuzzyCompare(f.pointSizeF(), pt),
                 qPrintable(QStringLiteral("%1: %2 pt").arg(c.name).arg(f.pointSizeF())));
    }

    // Focus moves in increasing tab index over the controls that take it.
    QList<Control> byTab = table;
    std::sort(byTab.begin(), byTab.end(), [](const Control &a, const Control &b) { return a.tab < b.tab; });
    QStringList expected;
    for (const Control &c : byTab)
        if (qstrcmp(c.kind, "QGroupBox") != 0)
            expected << QLatin1String(c.name);
    QStringList chain;
    QWidget *w = window->findChild<QWidget *>(expected.first());
    for (int guard = 0; w && guard < 100 && chain.size() < expected.size(); ++guard, w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->window() == window && !chain.contains(w->objectName()))
            chain << w->objectName();
    QCOMPARE(chain, expected);
}

// The window opens at its laid-out size, which is also its smallest; it can
// grow (Form2 only wider: it has nothing to show in more height).
void checkWindow(QWidget *window, const QString &caption, int widthTwips, int heightTwips, bool taller)
{
    QCOMPARE(window->windowTitle(), caption);
    const QSize size(twips(widthTwips), twips(heightTwips));
    QCOMPARE(window->size(), size);
    QCOMPARE(window->minimumSize(), size);
    QVERIFY(window->maximumWidth() > 2 * size.width());
    QCOMPARE(window->maximumHeight() > size.height(), taller);
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QCOMPARE(window->font().family(), QStringLiteral("Arial"));
    QVERIFY(window->font().bold());
    QCOMPARE(window->font().pointSizeF(), 9.0);
    QCOMPARE(window->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
    QVERIFY(!window->testAttribute(Qt::WA_QuitOnClose));
}

QColor background(QWidget *w)
{
    return w->palette().color(QPalette::Window);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QString stored(const settings::Key &key)
{
    return test::storedValue(key).value_or(QStringLiteral("<absent>"));
}

}  // namespace

class RuleWindowsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void form2Design();
    void form3Design();
    void loadGivesSystemColours();

    void markersStoredKeystrokeByKeystroke();
    void markersRestoredAtNextLoad();
    void form2HelpAndClose();
    void startExtractingHandsOverTheRule();
    void hoverPointers();

    void textSetSurvivesRestart();
    void storedValueWithoutSeparator();
    void addItem();
    void removeSelectedItem();
    void clearAllItems();
    void itemsFromFiles();
    void fileItemsNotStoredUntilNextChange();
    void missingAndUnreadableFiles();
    void textSetAndAccountComboKeptApart();
    void form3HelpAndClose();

    void widerWindowsWidenTheirBoxes();
    void itemsListShowsTheSet();
    void itemEditedInTheListIsStored();
    void escapeHidesTheWindow();

private:
    QTemporaryDir dir_;
};

void RuleWindowsTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    // The store must be a private one, never the user's.
    QVERIFY2(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"), "run through ctest");
}

void RuleWindowsTest::init()
{
    Form2::destroyInstance();
    Form3::destroyInstance();
    RuleWindow::setStartAction(nullptr);
    QFile::remove(settings::filePath());
    QCOMPARE(stored(settings::key::StartWith), QStringLiteral("<absent>"));
}

void RuleWindowsTest::cleanup()
{
    Form2::destroyInstance();
    Form3::destroyInstance();
}

// ---------------------------------------------------------------------------
// Design

void RuleWindowsTest::form2Design()
{
    Form2 w;  // as built, before its load
    checkWindow(&w, QStringLiteral("Extract Between X and Y (Repeatedly)"), 8040, 2745, false);
    checkDesign(&w, kForm2);
    QCOMPARE(background(&w), QColor(Qt::white));
    QCOMPARE(background(w.Frame1), QColor(Qt::white));
    QCOMPARE(background(w.Frame2), QColor(Qt::white));
}

void RuleWindowsTest::form3Design()
{
    Form3 w;
    checkWindow(&w, QStringLiteral("Extract Lines Containing These Text Sets"), 8040, 5520, true);
    checkDesign(&w, kForm3);
    QVERIFY(!w.Combo1->isEditable());  // a drop-down list: no typing
    QCOMPARE(w.Combo1->count(), 0);
    QCOMPARE(background(&w), QColor(Qt::white));
    QCOMPARE(background(w.Frame2), QColor(Qt::white));
}

void RuleWindowsTest::loadGivesSystemColours()
{
    const QColor face = QApplication::palette().color(QPalette::Button);
    QVERIFY(face != QColor(Qt::white));
    Form2 *f2 = Form2::instance();
    QCOMPARE(background(f2), face);
    QCOMPARE(background(f2->Frame2), face);
    QCOMPARE(background(f2->Frame1), face);
    Form3 *f3 = Form3::instance();
    QCOMPARE(background(f3), face);
    QCOMPARE(background(f3->Frame2), face);
}

// ---------------------------------------------------------------------------
// Form2

void RuleWindowsTest::markersStoredKeystrokeByKeystroke()
{
    Form2 *w = Form2::instance();
    QStringList seen;
    for (QChar c : QStringLiteral("<B>"))
        QTest::keyClicks(w->Text3, QString(c)), seen << stored(settings::key::StartWith);
    QCOMPARE(seen, (QStringList{"<", "<B", "<B>"}));
    QTest::keyClicks(w->Text4, QStringLiteral("</B>"));
    QCOMPARE(stored(settings::key::EndWith), QStringLiteral("</B>"));
    QTest::keyClick(w->Text4, Qt::Key_Backspace);
    QCOMPARE(stored(settings::key::EndWith), QStringLiteral("</B"));
    // Erasing a box stores the empty text.
    w->Text3->clear();
    QCOMPARE(stored(settings::key::StartWith), QString());
    QCOMPARE(w->startMarker(), QString());
    QCOMPARE(w->endMarker(), QStringLiteral("</B"));
}

void RuleWindowsTest::markersRestoredAtNextLoad()
{
    // Nothing stored: both boxes empty, and loading writes nothing.
    Form2 *w = Form2::instance();
    QCOMPARE(w->startMarker(), QString());
    QCOMPARE(w->endMarker(), QString());
    QCOMPARE(stored(settings::key::StartWith), QStringLiteral("<absent>"));

    w->Text3->setText(QStringLiteral("remove="));
    w->Text4->setText(QStringLiteral(" target"));
    Form2::destroyInstance();
    w = Form2::instance();
    QCOMPARE(w->Text3->text(), QStringLiteral("remove="));
    QCOMPARE(w->Text4->text(), QStringLiteral(" target"));
    QCOMPARE(w->startMarker(), QStringLiteral("remove="));
    QCOMPARE(w->endMarker(), QStringLiteral(" target"));
}

void RuleWindowsTest::form2HelpAndClose()
{
    ScriptedDialogs d;
    Form2 *w = Form2::instance();
    w->Text3->setText(QStringLiteral("p"));
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));

    QTest::mouseClick(w->PushButton11, Qt::LeftButton);
    QCOMPARE(d.boxes.size(), 1);
    QCOMPARE(d.boxes[0].text, help::betweenHelp());
    QCOMPARE(d.boxes[0].title, QString());  // the application's title
    QCOMPARE(d.boxes[0].buttons, BoxButtons::Ok);
    QCOMPARE(d.boxes[0].icon, BoxIcon::None);

    // "Close This Window" hides; the window and its text stay.
    QTest::mouseClick(w->PushButton1, Qt::LeftButton);
    QVERIFY(w->isHidden());
    QCOMPARE(Form2::instance(), w);
    QCOMPARE(w->startMarker(), QStringLiteral("p"));

    // So does the close box.
    w->show();
    QVERIFY(w->close());
    QVERIFY(w->isHidden());
    QCOMPARE(Form2::instance(), w);
    QCOMPARE(w->startMarker(), QStringLiteral("p"));
    QCOMPARE(d.boxes.size(), 1);  // no error box on the way
}

void RuleWindowsTest::startExtractingHandsOverTheRule()
{
    struct Call {
        QPushButton *button;
        QString caption;
        QWidget *window;
        Rule rule;
        QString location;
    };
    QList<Call> calls;
    auto hook = [&](QPushButton *b, const QString &c, QWidget *w, Rule r, const QString &l) {
        calls.append({b, c, w, r, l});
    };
    RuleWindow::setStartAction(hook);
    Form2 *f2 = Form2::instance();
    Form3 *f3 = Form3::instance();

    QTest::mouseClick(f2->PushButton4, Qt::LeftButton);
    QTest::mouseClick(f3->PushButton4, Qt::LeftButton);
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].button, f2->PushButton4);
    QCOMPARE(calls[0].caption, QStringLiteral("Start Extracting"));
    QCOMPARE(calls[0].window, static_cast<QWidget *>(f2));
    QVERIFY(calls[0].rule == Rule::Between);
    QCOMPARE(calls[0].location, QStringLiteral("Vellumcast.Form2.PushButton4_Click"));
    QCOMPARE(calls[1].button, f3->PushButton4);
    QCOMPARE(calls[1].window, static_cast<QWidget *>(f3));
    QVERIFY(calls[1].rule == Rule::ContainingList);
    QCOMPARE(calls[1].location, QStringLiteral("Vellumcast.Form3.PushButton4_Click"));
    // The window that shows the hourglass can be told to by whoever runs the command.
    QCOMPARE(calls[0].window->findChild<WindowPointer *>(), f2->pointer());
}

void RuleWindowsTest::hoverPointers()
{
    auto enter = [](QWidget *w) {
        QEvent e(QEvent::Enter);
        QCoreApplication::sendEvent(w, &e);
    };
    Form2 *f2 = Form2::instance();
    Form3 *f3 = Form3::instance();
    for (QWidget *b : QList<QWidget *>{f2->PushButton11, f2->PushButton4, f2->PushButton1}) {
        f2->pointer()->setMousePointer(pointer::Default);
        enter(b);
        QCOMPARE(f2->pointer()->MousePointer(), pointer::Custom);
        enter(f2->Frame1);
        QCOMPARE(f2->pointer()->MousePointer(), pointer::Default);
        f2->pointer()->setMousePointer(pointer::Custom);
        enter(f2->Frame2);
        QCOMPARE(f2->pointer()->MousePointer(), pointer::Default);
    }
    for (QWidget *b : QList<QWidget *>{f3->PushButton11, f3->PushButton2, f3->PushButton1, f3->PushButton5,
                                       f3->PushButton3, f3->PushButton4}) {
        f3->pointer()->setMousePointer(pointer::Default);
        enter(b);
        QCOMPARE(f3->pointer()->MousePointer(), pointer::Custom);
        enter(f3);
        QCOMPARE(f3->pointer()->MousePointer(), pointer::Default);
    }
    // While a command works, the hourglass stays wherever the mouse goes.
    f2->pointer()->setMousePointer(pointer::Hourglass);
    enter(f2->PushButton4);
    enter(f2->Frame2);
    QCOMPARE(f2->pointer()->MousePointer(), pointer::Hourglass);
    f3->pointer()->setMousePointer(pointer::Hourglass);
    enter(f3->PushButton2);
    enter(f3->Frame2);
    QCOMPARE(f3->pointer()->MousePointer(), pointer::Hourglass);
}

// ---------------------------------------------------------------------------
// Form3

void RuleWindowsTest::textSetSurvivesRestart()
{
    ScriptedDialogs d;
    d.inputs = {QStringLiteral("alpha"), QStringLiteral("beta gamma"), QStringLiteral("alpha")};
    Form3 *w = Form3::instance();
    QCOMPARE(w->items(), QStringList());
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(w->PushButton2, Qt::LeftButton);
    const QStringList three = {"alpha", "beta gamma", "alpha"};
    QCOMPARE(w->items(), three);
    QCOMPARE(stored(settings::key::TextSet), QStringLiteral("alpha!!!MORVA!!!beta gamma!!!MORVA!!!alpha"));

    Form3::destroyInstance();
    QCOMPARE(Form3::instance()->items(), three);
}

void RuleWindowsTest::storedValueWithoutSeparator()
{
    settings::save(settings::key::TextSet, QStringLiteral("just one, no separator"));
    QCOMPARE(Form3::instance()->items(), QStringList{"just one, no separator"});
    Form3::destroyInstance();

    // Empty pieces between separators come back as empty items, in place.
    settings::save(settings::key::TextSet, QStringLiteral("a!!!MORVA!!!!!!MORVA!!!b"));
    QCOMPARE(Form3::instance()->items(), (QStringList{"a", "", "b"}));
    Form3::destroyInstance();

    settings::save(settings::key::TextSet, QString());
    QCOMPARE(Form3::instance()->items(), QStringList());
}

void RuleWindowsTest::addItem()
{
    ScriptedDialogs d;
    Form3 *w = Form3::instance();
    d.inputs = {QStringLiteral("  padded  ")};
    QTest::mouseClick(w->PushButton2, Qt::LeftButton);
    QCOMPARE(d.boxes.size(), 1);
    QCOMPARE(d.boxes[0].kind, ScriptedDialogs::Box::Input);
    QCOMPARE(d.boxes[0].text, QStringLiteral("Enter text:"));
    QCOMPARE(d.boxes[0].title, QStringLiteral("Vellumcast"));
    QCOMPARE(w->items(), QStringList{"  padded  "});  // exactly as typed
    QCOMPARE(w->Combo1->currentIndex(), -1);          // a fresh item is not selected

    // Cancel (the empty answer) adds nothing but stores the list again.
    settings::save(settings::key::TextSet, QStringLiteral("stale"));
    QTest::mouseClick(w->PushButton2, Qt::LeftButton);
    QCOMPARE(w->items(), QStringList{"  padded  "});
    QCOMPARE(stored(settings::key::TextSet), QStringLiteral("  padded  "));
}

void RuleWindowsTest::removeSelectedItem()
{
    settings::save(settings::key::TextSet, QStringLiteral("a!!!MORVA!!!b!!!MORVA!!!c"));
    Form3 *w = Form3::instance();
    QCOMPARE(w->Combo1->currentIndex(), -1);

    // Nothing selected: the list stays and is stored as it is.
    settings::save(settings::key::TextSet, QStringLiteral("stale"));
    QTest::mouseClick(w->PushButton1, Qt::LeftButton);
    QCOMPARE(w->items(), (QStringList{"a", "b", "c"}));
    QCOMPARE(stored(settings::key::TextSet), QStringLiteral("a!!!MORVA!!!b!!!MORVA!!!c"));

    w->Combo1->setCurrentIndex(1);
    QTest::mouseClick(w->PushButton1, Qt::LeftButton);
    QCOMPARE(w->items(), (QStringList{"a", "c"}));
    QCOMPARE(stored(settings::key::TextSet), QStringLiteral("a!!!MORVA!!!c"));
    // The removed item took the selection with it: a second click removes nothing.
    QTest::mouseClick(w->PushButton1, Qt::LeftButton);
    QCOMPARE(w->items(), (QStringList{"a", "c"}));

    w->Combo1->setCurrentIndex(1);
    QTest::mouseClick(w->PushButton1, Qt::LeftButton);
    w->Combo1->setCurrentIndex(0);
    QTest::mouseClick(w->PushButton1, Qt::LeftButton);
    QCOMPARE(w->items(), QStringList());
    QCOMPARE(stored(settings::key::TextSet), QString());
}

void RuleWindowsTest::clearAllItems()
{
    settings::save(settings::key::TextSet, QStringLiteral("a!!!MORVA!!!b"));
    Form3 *w = Form3::instance();
    w->Combo1->setCurrentIndex(0);
    QTest::mouseClick(w->PushButton5, Qt::LeftButton);
    QCOMPARE(w->items(), QStringList());
    QCOMPARE(stored(settings::key::TextSet), QString());
    Form3::destroyInstance();
    QCOMPARE(Form3::instance()->items(), QStringList());
}

void RuleWindowsTest::itemsFromFiles()
{
    ScriptedDialogs d;
    const QString lf = dir_.filePath(QStringLiteral("lf.txt"));
    const QString crlf = dir_.filePath(QStringLiteral("crlf.txt"));
    const QString cr = dir_.filePath(QStringLiteral("cr.txt"));
    writeFile(lf, "one\ntwo\nthree\n");
    writeFile(crlf, "x\r\n\r\n  y  \r\nx\r\n");
    writeFile(cr, "p\rq");
    Form3 *w = Form3::instance();
    d.inputs = {QStringLiteral("typed")};
    QTest::mouseClick(w->PushButton2, Qt::LeftButton);

    d.openNames = {QStringList{lf, crlf, cr}};
    QTest::mouseClick(w->PushButton3, Qt::LeftButton);
    const ScriptedDialogs::Box &open = d.boxes.last();
    QCOMPARE(open.kind, ScriptedDialogs::Box::OpenFiles);
    QCOMPARE(open.title, QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
    QCOMPARE(open.text, QStringLiteral("All Files (*.*)|*.*|"));
    // Appended after what was there, file by file in the order chosen; every
    // line an item, empty and equal ones included, nothing trimmed.
    QCOMPARE(w->items(), (QStringList{"typed", "one", "two", "three", "x", "", "  y  ", "x", "p", "q"}));
    QCOMPARE(d.texts(), QStringList());  // no box besides the dialogs

    // Cancelling the dialog changes nothing.
    QTest::mouseClick(w->PushButton3, Qt::LeftButton);
    QCOMPARE(w->items().size(), 10);
}

void RuleWindowsTest::fileItemsNotStoredUntilNextChange()
{
    ScriptedDialogs d;
    const QString file = dir_.filePath(QStringLiteral("set.txt"));
    writeFile(file, "red\ngreen\n");
    settings::save(settings::key::TextSet, QStringLiteral("kept"));
    Form3 *w = Form3::instance();
    d.openNames = {QStringList{file}};
    QTest::mouseClick(w->PushButton3, Qt::LeftButton);
    QCOMPARE(w->items(), (QStringList{"kept", "red", "green"}));
    QCOMPARE(stored(settings::key::TextSet), QStringLiteral("kept"));

    // Closing and reopening keeps them on screen, still unstored.
    w->show();
    w->close();
    QCOMPARE(Form3::instance()->items(), (QStringList{"kept", "red", "green"}));
    QCOMPARE(stored(settings::key::TextSet), QStringLiteral("kept"));

    // A restart without add, remove or clear: the loaded items are gone.
    Form3::destroyInstance();
    w = Form3::instance();
    QCOMPARE(w->items(), QStringList{"kept"});

    // Loaded again and followed by an add (here a cancelled one): stored.
    d.openNames = {QStringList{file}};
    QTest::mouseClick(w->PushButton3, Qt::LeftButton);
    QTest::mouseClick(w->PushButton2, Qt::LeftButton);
    QCOMPARE(stored(settings::key::TextSet), QStringLiteral("kept!!!MORVA!!!red!!!MORVA!!!green"));
    Form3::destroyInstance();
    QCOMPARE(Form3::instance()->items(), (QStringList{"kept", "red", "green"}));
}

void RuleWindowsTest::missingAndUnreadableFiles()
{
    ScriptedDialogs d;
    const QString good = dir_.filePath(QStringLiteral("good.txt"));
    writeFile(good, "fine\n");
    const QString missing = dir_.filePath(QStringLiteral("no-such-file.txt"));
    const QString folder = dir_.filePath(QStringLiteral("a-folder"));  // has a date stamp, cannot be read
    QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("a-folder")));

    Form3 *w = Form3::instance();
    d.openNames = {QStringList{missing, folder, good}};
    QTest::mouseClick(w->PushButton3, Qt::LeftButton);
    const QStringList texts = d.texts();
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts[0], QStringLiteral("File not found"));
    QCOMPARE(d.boxes[1].title, QString());
    QCOMPARE(d.boxes[1].icon, BoxIcon::None);
    // The unreadable one is reported in the error box of the command, and the
    // next chosen file is still read.
    QVERIFY2(texts[1].contains(QStringLiteral("in Tarnwick2/19/2015.Form3.PushButton3_Click at line ")),
             qPrintable(texts[1]));
    QCOMPARE(d.boxes[2].title, QStringLiteral("Application Error"));
    QCOMPARE(d.boxes[2].icon, BoxIcon::Warning);
    QCOMPARE(w->items(), QStringList{"fine"});
}

void RuleWindowsTest::textSetAndAccountComboKeptApart()
{
    ScriptedDialogs d;
    settings::saveNumber(settings::key::Combo1, 2);
    settings::save(settings::key::TextSet, QStringLiteral("set item"));
    QVERIFY(settings::key::TextSet.name != settings::key::Combo1.name);

    Form3 *w = Form3::instance();
    QCOMPARE(w->items(), QStringList{"set item"});
    d.inputs = {QStringLiteral("more")};
    QTest::mouseClick(w->PushButton2, Qt::LeftButton);
    w->Combo1->setCurrentIndex(0);
    QTest::mouseClick(w->PushButton1, Qt::LeftButton);
    QTest::mouseClick(w->PushButton5, Qt::LeftButton);
    QCOMPARE(stored(settings::key::Combo1), QStringLiteral("2"));

    // The main window storing its index leaves the text set alone.
    d.inputs = {QStringLiteral("after")};
    QTest::mouseClick(w->PushButton2, Qt::LeftButton);
    settings::saveNumber(settings::key::Combo1, 3);
    QCOMPARE(stored(settings::key::TextSet), QStringLiteral("after"));
    Form3::destroyInstance();
    QCOMPARE(Form3::instance()->items(), QStringList{"after"});
    QCOMPARE(stored(settings::key::Combo1), QStringLiteral("3"));
}

void RuleWindowsTest::form3HelpAndClose()
{
    ScriptedDialogs d;
    settings::save(settings::key::TextSet, QStringLiteral("a!!!MORVA!!!b"));
    Form3 *w = Form3::instance();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QTest::mouseClick(w->PushButton11, Qt::LeftButton);
    QCOMPARE(d.texts(), QStringList{help::textSetHelp()});
    QCOMPARE(d.boxes[0].title, QString());
    QCOMPARE(d.boxes[0].icon, BoxIcon::None);

    QVERIFY(w->close());
    QVERIFY(w->isHidden());
    QCOMPARE(Form3::instance(), w);
    QCOMPARE(w->items(), (QStringList{"a", "b"}));
    QCOMPARE(stored(settings::key::TextSet), QStringLiteral("a!!!MORVA!!!b"));
}

// Wider, the boxes, frames and commands share the width; Form3's list of items
// also takes the height.
void RuleWindowsTest::widerWindowsWidenTheirBoxes()
{
    Form2 *f2 = Form2::instance();
    f2->show();
    QVERIFY(QTest::qWaitForWindowExposed(f2));
    const QRect text3 = f2->Text3->geometry(), start = f2->PushButton4->geometry(), close = f2->PushButton1->geometry();
    f2->resize(f2->width() + 200, f2->height() + 100);
    QTRY_COMPARE(f2->width(), twips(8040) + 200);
    QCOMPARE(f2->height(), twips(2745));  // nothing to use more height for
    QCOMPARE(f2->Text3->geometry(), text3.adjusted(0, 0, 200, 0));
    QCOMPARE(f2->Text4->width(), text3.width() + 200);
    QCOMPARE(f2->PushButton4->geometry(), start.adjusted(0, 0, 100, 0));
    QCOMPARE(f2->PushButton1->geometry(), close.adjusted(100, 0, 200, 0));

    Form3 *f3 = Form3::instance();
    f3->show();
    QVERIFY(QTest::qWaitForWindowExposed(f3));
    const QRect list = f3->itemsList->geometry(), combo = f3->Combo1->geometry(), load = f3->PushButton3->geometry();
    f3->resize(f3->size() + QSize(120, 150));
    QTRY_COMPARE(f3->size(), QSize(twips(8040) + 120, twips(5520) + 150));
    QCOMPARE(f3->itemsList->geometry(), list.adjusted(0, 0, 120, 150));
    QCOMPARE(f3->Combo1->geometry(), combo.adjusted(0, 0, 120, 0));
    QCOMPARE(f3->PushButton3->geometry(), load.adjusted(60, 0, 120, 0));
}

// The list below the commands shows every item of the set; choosing a row
// there selects that item for "Remove Selected Item", and the other way round.
void RuleWindowsTest::itemsListShowsTheSet()
{
    ScriptedDialogs d;
    settings::save(settings::key::TextSet, QStringLiteral("alpha!!!MORVA!!!beta!!!MORVA!!!gamma"));
    Form3 *w = Form3::instance();
    QAbstractItemModel *m = w->itemsList->model();
    QCOMPARE(m->rowCount(), 3);
    QCOMPARE(m->index(2, 0).data().toString(), QStringLiteral("gamma"));
    QVERIFY(!w->itemsList->currentIndex().isValid());

    w->itemsList->setCurrentIndex(m->index(1, 0));
    QCOMPARE(w->Combo1->currentIndex(), 1);
    QTest::mouseClick(w->PushButton1, Qt::LeftButton);
    QCOMPARE(w->items(), (QStringList{"alpha", "gamma"}));
    QCOMPARE(m->rowCount(), 2);
    QVERIFY(w->itemsList->selectionModel()->selectedIndexes().isEmpty());

    w->Combo1->setCurrentIndex(1);
    QCOMPARE(w->itemsList->currentIndex().row(), 1);
    QVERIFY(w->itemsList->selectionModel()->isSelected(m->index(1, 0)));

    d.inputs = {QStringLiteral("delta")};
    QTest::mouseClick(w->PushButton2, Qt::LeftButton);
    QCOMPARE(m->rowCount(), 3);
    QCOMPARE(m->index(2, 0).data().toString(), QStringLiteral("delta"));
    QTest::mouseClick(w->PushButton5, Qt::LeftButton);
    QCOMPARE(m->rowCount(), 0);
}

void RuleWindowsTest::itemEditedInTheListIsStored()
{
    settings::save(settings::key::TextSet, QStringLiteral("alpha!!!MORVA!!!beta"));
    Form3 *w = Form3::instance();
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w));
    w->itemsList->setFocus();
    w->itemsList->setCurrentIndex(w->itemsList->model()->index(1, 0));
    QTest::keyClick(w->itemsList, Qt::Key_F2);
    auto *editor = w->itemsList->findChild<QLineEdit *>();
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("Tracking number"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(w->items(), (QStringList{"alpha", "Tracking number"}));
    QTRY_COMPARE(stored(settings::key::TextSet), QStringLiteral("alpha!!!MORVA!!!Tracking number"));
    Form3::destroyInstance();
    QCOMPARE(Form3::instance()->items(), (QStringList{"alpha", "Tracking number"}));
}

void RuleWindowsTest::escapeHidesTheWindow()
{
    for (RuleWindow *w : QList<RuleWindow *>{Form2::instance(), Form3::instance()}) {
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTest::keyClick(w, Qt::Key_Escape);
        QTRY_VERIFY(w->isHidden());
    }
    QCOMPARE(Form2::instance()->startMarker(), QString());
}

QTEST_MAIN(RuleWindowsTest)
#include "test_rule_windows.moc"
