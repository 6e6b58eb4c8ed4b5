// The main window's scope on the fake component: the settings window's
// choice of the local mail copy, "Forget Cached Mail..." without an account,
// and the folder box filled after Connect, in step with the folder options.
#include "AppTestSupport.h"
#include "app/FolderChooser.h"
#include "app/Form1Internal.h"
#include "app/SettingsStore.h"
#include "app/SettingsWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace vc;
using namespace vc::test;

namespace {

// A server that calls some of the five folders otherwise, and has others.
void serverFolders(FakeImap &f)
{
    f.folders.clear();
    f.folder(QStringLiteral("INBOX")).messages << FakeImap::message(QStringLiteral("in"), QStringLiteral("inbox body"));
    f.folder(QStringLiteral("Sent Items"), {QStringLiteral("\\Sent")});
    f.folder(QStringLiteral("[Gmail]"), {QStringLiteral("\\Noselect")});
    f.folder(QStringLiteral("Archive/2024")).messages
        << FakeImap::message(QStringLiteral("old"), QStringLiteral("archived body"));
    f.folder(QStringLiteral("Trash"), {QStringLiteral("\\Trash")});
    f.folder(QStringLiteral("Drafts"));
}

void prepare(Window &w, bool connect)
{
    w->Form_Load();
    w->Text7->setText(QStringLiteral("alice"));
    w->Combo1->setCurrentIndex(w->Combo1->findText(QStringLiteral("@live.com")));
    w->Text6->setText(QStringLiteral("secret"));
    if (connect)
        w->PushButton17->click();
}

// What a pick in the box's list does.
void choose(QComboBox *box, const QString &text)
{
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
    Q_EMIT box->activated(index);
}

QStringList items(const QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

QAction *action(Window &w, const char *name)
{
    auto *a = w->findChild<QAction *>(QLatin1String(name));
    if (!a)
        qFatal("no %s", name);
    return a;
}

}  // namespace

class TestForm1Scope : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { storeOnly({}); }
    void cleanup()
    {
        SettingsWindow::destroyInstance();
        FolderChooser::destroyInstance();
        qputenv("VC_NO_CACHE", "1");
    }

    void mailCacheChoiceIsStoredAndHandedToRuns()
    {
        ScriptedDialogs d;
        Window w;
        prepare(w, false);
        QVERIFY(!w->mailCacheSettings().on);  // VC_NO_CACHE=1 rules it out
        qunsetenv("VC_NO_CACHE");
        QVERIFY(w->mailCacheSettings().on);  // on by default
        action(w, "settingsAction")->trigger();
        SettingsWindow *s = SettingsWindow::instance();
        QVERIFY(s->isVisible());
        QCheckBox *box = s->findChild<QCheckBox *>(QStringLiteral("mailCacheBox"));
        QVERIFY(box && box->isChecked());
        box->click();
        QCOMPARE(fileValues().value(QStringLiteral("MailCache")), QStringLiteral("False"));
        QVERIFY(!w->mailCacheSettings().on);
        s->close();
        // Opened again, it shows what is stored.
        settings::saveFlag(settings::key::MailCache, true);
        action(w, "settingsAction")->trigger();
        QVERIFY(box->isChecked());
        QVERIFY(w->mailCacheSettings().on);
        QCOMPARE(d.texts(), QStringList());
    }

    void forgetAsksForAnAccountFirst()
    {
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        w->Text7->clear();
        d.answers = {BoxAnswer::Yes};
        action(w, "forgetCacheAction")->trigger();
        QCOMPARE(d.texts(),
                 QStringList{QStringLiteral("Please enter the account whose cached mail is to be forgotten.")});
        QCOMPARE(d.boxes.first().buttons, BoxButtons::Ok);
    }

    void folderBoxListsTheServersFoldersAfterConnect()
    {
        ScriptedDialogs d;
        Window w(serverFolders);
        prepare(w, false);
        QComboBox *box = w->findChild<QComboBox *>(QStringLiteral("folderBox"));
        QVERIFY(box);
        QVERIFY(!box->isEnabled());
        QCOMPARE(box->parentWidget(), w->Frame2);
        QVERIFY(box->geometry().left() > w->Option9->geometry().right());

        w->PushButton17->click();
        QVERIFY(box->isEnabled());
        QCOMPARE(items(box), (QStringList{"INBOX", "Sent Items", "Archive/2024", "Trash", "Drafts"}));
        QCOMPARE(box->currentText(), QStringLiteral("INBOX"));  // Inbox is ticked

        // Each option shows the folder it stands for: by name or by special use.
        const struct {
            QRadioButton *option;
            const char *shown;
        } cases[] = {{w->Option6, "Sent Items"},
                     {w->Option9, "Trash"},
                     {w->Option5, "Drafts"},
                     {w->Option7, ""},
                     {w->Option3, "INBOX"}};
        for (const auto &c : cases) {
            c.option->click();
            QCOMPARE(box->currentText(), QString::fromLatin1(c.shown));
        }

        // Another folder unticks the options; the run walks it.
        choose(box, QStringLiteral("Archive/2024"));
        for (QRadioButton *o : {w->Option3, w->Option5, w->Option6, w->Option7, w->Option9})
            QVERIFY(!o->isChecked());
        QCOMPARE(w->folderName(), QStringLiteral("Archive/2024"));
        QCOMPARE(fileValues().value(QStringLiteral("Folder")), QStringLiteral("Archive/2024"));
        QCOMPARE(fileValues().value(QStringLiteral("Option3")), QStringLiteral("False"));
        w->PushButton13->click();
        QVERIFY(w.fake->calls.contains(QStringLiteral("select Archive/2024")));
        QVERIFY(w->results().texts().contains(QStringLiteral("archived body")));
        QVERIFY(!w->results().texts().contains(QStringLiteral("inbox body")));

        // The folder an option stands for ticks that option.
        choose(box, QStringLiteral("Sent Items"));
        QVERIFY(w->Option6->isChecked());
        QCOMPARE(w->folderName(), QStringLiteral("Sent"));
        QVERIFY(!fileValues().contains(QStringLiteral("Folder")));
    }

    // The folder the box chose comes back at the next start, before Connect.
    void chosenFolderComesBack()
    {
        ScriptedDialogs d;
        {
            Window w(serverFolders);
            prepare(w, true);
            choose(w->findChild<QComboBox *>(QStringLiteral("folderBox")), QStringLiteral("Archive/2024"));
        }
        Window w(serverFolders);
        prepare(w, false);
        QCOMPARE(w->folderName(), QStringLiteral("Archive/2024"));
        QCOMPARE(w->folderBox->currentText(), QStringLiteral("Archive/2024"));
        w->PushButton17->click();
        QCOMPARE(w->folderBox->currentText(), QStringLiteral("Archive/2024"));
        QCOMPARE(w->folderBox->count(), 5);
    }

    // Ticks in the chooser set the main window's own choice aside; a pick
    // there clears them again.
    void chooserTicksAndTheMainWindowsChoice()
    {
        ScriptedDialogs d;
        Window w(serverFolders);
        prepare(w, true);
        action(w, "foldersAction")->trigger();
        FolderChooser *c = FolderChooser::existing();
        QVERIFY(c && c->isVisible());
        QCOMPARE(c->folders(), items(w->folderBox));
        QCOMPARE(c->tickedFolders(), QStringList());

        c->tick(QStringLiteral("Archive/2024"), true);
        c->tick(QStringLiteral("INBOX"), true);
        QCOMPARE(c->tickedFolders(), (QStringList{"INBOX", "Archive/2024"}));  // the list's order
        for (QRadioButton *o : {w->Option3, w->Option5, w->Option6, w->Option7, w->Option9})
            QVERIFY(!o->isChecked());
        QCOMPARE(w->folderBox->currentIndex(), -1);
        QCOMPARE(w->folderName(), QStringLiteral("INBOX"));
        QVERIFY(c->findChild<QLabel *>(QStringLiteral("scopeLabel"))
                    ->text()
                    .contains(QLatin1String("INBOX, Archive/2024")));

        w->Option6->click();
        QCOMPARE(c->tickedFolders(), QStringList());
        QCOMPARE(w->folderName(), QStringLiteral("Sent"));

        c->tick(QStringLiteral("Trash"), true);
        choose(w->folderBox, QStringLiteral("Archive/2024"));
        QCOMPARE(c->tickedFolders(), QStringList());
        QCOMPARE(w->folderName(), QStringLiteral("Archive/2024"));

        // Folders listed again keep their ticks.
        c->tick(QStringLiteral("Drafts"), true);
        action(w, "foldersAction")->trigger();
        QCOMPARE(c->tickedFolders(), QStringList{QStringLiteral("Drafts")});
    }

    void filterRowBecomesTheSearchFilter_data()
    {
        QTest::addColumn<QString>("since");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QDate>("sinceDay");
        QTest::addColumn<QDate>("beforeDay");
        QTest::addColumn<QString>("error");  // empty: the run goes
        QTest::newRow("empty") << ""
                               << "" << QDate() << QDate() << "";
        QTest::newRow("both forms") << "2024-02-01"
                                    << " 1-Mar-2024 " << QDate(2024, 2, 1) << QDate(2024, 3, 1) << "";
        QTest::newRow("bad since") << "31/02/2024"
                                   << "" << QDate() << QDate()
                                   << "\"31/02/2024\" in Since is not a date; please write it as 2024-02-01 or "
                                      "1-Feb-2024.";
        QTest::newRow("bad before") << ""
                                    << "2024-02-30" << QDate() << QDate()
                                    << "\"2024-02-30\" in Before is not a date; please write it as 2024-02-01 or "
                                       "1-Feb-2024.";
    }
    void filterRowBecomesTheSearchFilter()
    {
        QFETCH(QString, since);
        QFETCH(QString, before);
        QFETCH(QDate, sinceDay);
        QFETCH(QDate, beforeDay);
        QFETCH(QString, error);
        ScriptedDialogs d;
        Window w(serverFolders);
        prepare(w, true);
        QVERIFY(w->searchFilter().isEmpty());  // no chooser yet
        action(w, "foldersAction")->trigger();
        FolderChooser *c = FolderChooser::existing();
        c->sinceBox()->setText(since);
        c->beforeBox()->setText(before);
        c->fromBox()->setText(QStringLiteral(" ann "));
        c->subjectBox()->setText(QStringLiteral("order"));
        const SearchFilter f = w->searchFilter();
        QCOMPARE(f.since, sinceDay);
        QCOMPARE(f.before, beforeDay);
        QCOMPARE(f.from, error.isEmpty() ? QStringLiteral("ann") : QString());
        QCOMPARE(f.subject, error.isEmpty() ? QStringLiteral("order") : QString());

        d.clear();
        w.fake->calls.clear();
        w->PushButton13->click();
        if (error.isEmpty()) {
            QVERIFY(!d.texts().contains(error));
            QVERIFY(!w.fake->calls.filter(QStringLiteral("select ")).isEmpty());
        } else {
            QCOMPARE(d.texts(), QStringList{error});
            QCOMPARE(w.fake->calls.filter(QStringLiteral("select ")), QStringList());  // nothing was walked
        }
        QCOMPARE(w->PushButton13->text(), QStringLiteral("Extract All Email Data"));
    }
};

QTEST_MAIN(TestForm1Scope)
#include "test_form1_scope.moc"
