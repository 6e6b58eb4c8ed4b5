// The main window by keyboard: Tab in reading order, the ticked folder option
// and the arrow keys, underlined letters that do not clash, a menu bar that
// reaches every command, and a results list that shows where the focus is.
#include "AppTestSupport.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/WindowMenus.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

using namespace vc;
using namespace vc::test;

namespace {

// The letter after a single "&" of a caption, in upper case; none when it has none.
QChar mnemonic(const QString &caption)
{
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != QLatin1Char('&'))
            continue;
        if (caption[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return caption[i + 1].toUpper();
    }
    return QChar();
}

QStringList names(const QList<QWidget *> &widgets)
{
    QStringList out;
    for (QWidget *w : widgets)
        out << (w ? w->objectName() : QStringLiteral("<none>"));
    return out;
}

// Presses Tab (or Shift+Tab) `count` times and lists where the focus went.
QList<QWidget *> tabThrough(int count, bool backwards = false)
{
    QList<QWidget *> seen;
    for (int i = 0; i < count; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        seen << QApplication::focusWidget();
    }
    return seen;
}

void showActive(Window &w)
{
    w->Form_Load();
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
}

}  // namespace

class TestForm1Keyboard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { storeOnly({{QStringLiteral("StayConnected"), QStringLiteral("1")}}); }
    void cleanup()
    {
        Form2::destroyInstance();
        Form3::destroyInstance();
    }

    // Login frame, the ticked folder, parameter boxes, start commands and their
    // option, the results, the output commands, help; then round again.
    void tabFollowsTheReadingOrder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("Inbox ticked") << "Option3";
        QTest::newRow("Sent ticked") << "Option6";
    }
    void tabFollowsTheReadingOrder()
    {
        QFETCH(QString, folder);
        ScriptedDialogs d;
        Window w;
        showActive(w);
        w->findChild<QRadioButton *>(folder)->setChecked(true);
        w->results().appendRows({QStringLiteral("a"), QStringLiteral("b")});
        const QStringList expected{"Combo1",       "Text6",           "Check1",       "Check2",       "PushButton17",
                                   folder,         "Text1",           "Text2",        "Text5",        "PushButton13",
                                   "PushButton2",  "PushButton8",     "PushButton7",  "PushButton4",  "PushButton11",
                                   "Check3",       "keepWatchingBox", "ListView1",    "PushButton6",  "PushButton12",
                                   "PushButton9",  "PushButton1",     "PushButton3",  "PushButton14", "PushButton15",
                                   "PushButton10", "PushButton16",    "PushButton18", "Text7"};
        w->Text7->setFocus(Qt::OtherFocusReason);
        QCOMPARE(names(tabThrough(int(expected.size()))), expected);
        // Shift+Tab goes back the same way.
        QStringList back = expected.mid(0, expected.size() - 1);
        std::reverse(back.begin(), back.end());
        back << "Text7";
        QCOMPARE(names(tabThrough(int(back.size()), true)), back);
    }

    // The arrow keys move between the folder options and tick the one they reach.
    void arrowsMoveBetweenFolders()
    {
        ScriptedDialogs d;
        Window w;
        showActive(w);
        w->Option3->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w->Option3, Qt::Key_Right);
        QCOMPARE(QApplication::focusWidget(), w->Option5);
        QVERIFY(w->Option5->isChecked());
        QCOMPARE(fileValues().value(QStringLiteral("Option5")), QStringLiteral("True"));
        QTest::keyClick(w->Option5, Qt::Key_Right);
        QVERIFY(w->Option6->isChecked());
        QCOMPARE(w->folderName(), QStringLiteral("Sent"));
    }

    void underlinedLettersReachTheirControls()
    {
        ScriptedDialogs d;
        Window w;
        showActive(w);
        QTest::keyClick(w.form.get(), Qt::Key_P, Qt::AltModifier);
        QTRY_COMPARE(QApplication::focusWidget(), w->Text6);
        QTest::keyClick(w.form.get(), Qt::Key_L, Qt::AltModifier);
        QTRY_COMPARE(QApplication::focusWidget(), w->Text7);
        QTest::keyClick(w.form.get(), Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(w->Option6->isChecked());
        const bool wasTicked = w->Check3->isChecked();
        QTest::keyClick(w.form.get(), Qt::Key_U, Qt::AltModifier);
        QTRY_COMPARE(w->Check3->isChecked(), !wasTicked);
        // Alt and a menu's letter opens that menu.
        QTest::keyClick(w.form.get(), Qt::Key_X, Qt::AltModifier);
        QMenu *extract = w->menus()->menu(WindowMenus::Extract);
        QTRY_VERIFY(extract->isVisible());
        extract->close();
    }

    // No two controls of the window, no two menus and no two entries of a menu
    // share an underlined letter, and no control takes a menu's.
    void underlinedLettersDoNotClash()
    {
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QMap<QChar, QString> taken;
        auto take = [&](const QString &caption, const QString &owner) {
            const QChar c = mnemonic(caption);
            if (c.isNull())
                return;
            QVERIFY2(!taken.contains(c), qPrintable(owner + " and " + taken.value(c) + " both use " + c));
            taken.insert(c, owner);
        };
        for (QAction *menu : w->menus()->bar()->actions())
            take(menu->text(), menu->text());
        QCOMPARE(taken.size(), 5);
        for (QWidget *c : w->findChildren<QWidget *>()) {
            if (auto *l = qobject_cast<QLabel *>(c))
                take(l->text(), c->objectName());
            else if (auto *b = qobject_cast<QAbstractButton *>(c))
                take(b->text(), c->objectName());
            else if (auto *g = qobject_cast<QGroupBox *>(c))
                take(g->title(), c->objectName());
        }
        QVERIFY(taken.size() >= 5 + 10);

        w->menus()->refresh();
        for (QAction *menuAction : w->menus()->bar()->actions()) {
            QMap<QChar, QString> inMenu;
            for (QAction *a : menuAction->menu()->actions()) {
                if (a->isSeparator())
                    continue;
                const QChar c = mnemonic(a->text());
                QVERIFY2(!c.isNull(), qPrintable(a->text()));
                QVERIFY2(!inMenu.contains(c), qPrintable(a->text() + " and " + inMenu.value(c)));
                inMenu.insert(c, a->text());
            }
        }
    }

    // Every push button of the window has an entry in the menu bar that clicks it.
    void menuBarReachesEveryCommand()
    {
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        const QStringList menus{"fileMenu", "editMenu", "extractMenu", "viewMenu", "helpMenu"};
        for (int m = 0; m < menus.size(); ++m)
            QCOMPARE(w->menus()->menu(WindowMenus::Menu(m))->objectName(), menus[m]);
        QHash<QString, QAction *> entries;
        for (QAction *a : w->findChildren<QAction *>())
            if (a->property("button").isValid())
                entries.insert(a->property("button").toString(), a);
        const QList<QPushButton *> buttons = w->findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 17);
        for (QPushButton *b : buttons) {
            QAction *a = entries.value(b->objectName());
            QVERIFY2(a, qPrintable(b->objectName() + " has no menu entry"));
            QVERIFY(a->associatedObjects().size() >= 1);
            QSignalSpy clicks(b, &QPushButton::clicked);
            a->trigger();
            QCOMPARE(clicks.size(), 1);
        }
        // The commands ran: the rule windows are open, the boxes were shown.
        QVERIFY(Form2::instance()->isVisible());
        QVERIFY(Form3::instance()->isVisible());
        QVERIFY(d.count(QStringLiteral("Please connect first (Step 1) before using this feature.")) >= 4);
    }

    // A button entry's caption follows the button: Connect, then Disconnect.
    void entriesFollowTheirButtons()
    {
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        QAction *connect = w->findChild<QAction *>(QStringLiteral("connectAction"));
        QAction *between = w->findChild<QAction *>(QStringLiteral("betweenWindowAction"));
        w->menus()->refresh();
        QCOMPARE(connect->text(), QStringLiteral("1. &Connect"));
        QCOMPARE(between->text(), QStringLiteral("Extract Between &X and Y (Repeatedly)..."));
        w->Text7->setText(QStringLiteral("alice"));
        w->Combo1->setCurrentIndex(w->Combo1->findText(QStringLiteral("@live.com")));
        w->Text6->setText(QStringLiteral("secret"));
        connect->trigger();
        QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
        Q_EMIT w->menus()->menu(WindowMenus::File)->aboutToShow();
        QCOMPARE(connect->text(), QStringLiteral("&Disconnect"));
        w->PushButton13->setEnabled(false);
        w->menus()->refresh();
        QVERIFY(!w->findChild<QAction *>(QStringLiteral("allEmailDataAction"))->isEnabled());
    }

    // Other parts of the program add their commands to a menu, with a
    // shortcut that works anywhere in the window.
    void commandsCanBeAdded()
    {
        ScriptedDialogs d;
        Window w;
        showActive(w);
        int runs = 0;
        QAction *a = w->menus()->add(
            WindowMenus::View, "fieldsAction", QStringLiteral("&Fields..."), [&] { ++runs; },
            QKeySequence(Qt::CTRL | Qt::Key_F7));
        QCOMPARE(a->objectName(), QStringLiteral("fieldsAction"));
        QVERIFY(w->menus()->menu(WindowMenus::View)->actions().contains(a));
        w->Text1->setFocus();
        QTest::keyClick(w->Text1, Qt::Key_F7, Qt::ControlModifier);
        QCOMPARE(runs, 1);
        // Entries can also go before an existing one.
        QAction *first = w->menus()->menu(WindowMenus::File)->actions().first();
        QAction *b = w->menus()->add(WindowMenus::File, "chooseFolderAction", QStringLiteral("Choose F&older..."),
                                     nullptr, {}, first);
        QCOMPARE(w->menus()->menu(WindowMenus::File)->actions().first(), b);
    }

    // Tabbing to the results list (or Ctrl+L) shows a current row, and the
    // list draws a frame in the highlight colour while it has the focus.
    void focusOnTheListIsVisible()
    {
        ScriptedDialogs d;
        Window w;
        showActive(w);
        w->results().appendRows({QStringLiteral("first"), QStringLiteral("second")});
        QTreeView *list = w->ListView1;
        const QImage before = list->viewport()->grab().toImage();
        w->keepWatchingBox->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w->keepWatchingBox, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), list);
        QCOMPARE(list->currentIndex().row(), 0);
        const QImage focused = list->viewport()->grab().toImage();
        const QColor highlight = list->palette().color(QPalette::Highlight);
        const QPoint edge(focused.width() / 2, focused.height() - 2);
        QCOMPARE(focused.pixelColor(edge), highlight);
        QVERIFY(before.pixelColor(edge) != highlight);

        w->Text1->setFocus();
        QTest::keyClick(w->Text1, Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), list);
    }
};

QTEST_MAIN(TestForm1Keyboard)
#include "test_form1_keyboard.moc"
