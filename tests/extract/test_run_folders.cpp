// A run over several folders against the in-memory component: which folders
// a run over all of them takes, one walk after another into the same host,
// and a folder the server does not have, said as such before anything is read.
#include "FakeImap.h"
#include "ScriptedDialogs.h"
#include "TestRunHost.h"

#include "extract/ExtractionRun.h"
#include "extract/FailureMessage.h"
#include "extract/RunFolders.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace vc;
using vc::test::FakeImap;
using vc::test::outcomeName;
using vc::test::TestRunHost;

namespace {

// A host that names several folders, or asks for all of them.
class FoldersHost : public TestRunHost {
public:
    using TestRunHost::TestRunHost;
    QStringList folderNames() override { return names; }
    bool allFolders() override { return all; }
    QStringList names;
    bool all = false;
};

MailboxInfo box(const QString &name, const QStringList &attributes = {})
{
    return MailboxInfo{name, QStringLiteral("/"), attributes};
}

}  // namespace

class RunFoldersTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    // Inbox (2), Sent (1), Deleted as \Trash (1), Spam as \Junk (1), Empty (0).
    static void fill(FakeImap &imap)
    {
        imap.folder(QStringLiteral("Inbox")).messages << FakeImap::message(QStringLiteral("in-1"))
                                                      << FakeImap::message(QStringLiteral("in-2"));
        imap.folder(QStringLiteral("Sent"), {QStringLiteral("\\Sent")}).messages
            << FakeImap::message(QStringLiteral("sent-1"));
        imap.folder(QStringLiteral("Deleted"), {QStringLiteral("\\Trash")}).messages
            << FakeImap::message(QStringLiteral("trash-1"));
        imap.folder(QStringLiteral("Spam"), {QStringLiteral("\\Junk")}).messages
            << FakeImap::message(QStringLiteral("junk-1"));
        imap.folder(QStringLiteral("Empty"));
    }

    std::unique_ptr<FoldersHost> host(FakeImap &imap)
    {
        auto h = std::make_unique<FoldersHost>(imap);
        h->errorLog = tmp.filePath(QStringLiteral("%1.log").arg(QTest::currentTestFunction()));
        return h;
    }

    // "folder:subject" of every record delivered, in order.
    static QStringList delivered(const TestRunHost &h)
    {
        QStringList out;
        for (const MailRecord &r : h.delivered)
            out << r.folder + QLatin1Char(':') + r.Subject;
        return out;
    }

private Q_SLOTS:
    void allFoldersLeaveTrashAndJunkOut_data()
    {
        QTest::addColumn<QList<MailboxInfo>>("boxes");
        QTest::addColumn<QStringList>("named");
        QTest::addColumn<QStringList>("walked");
        const QList<MailboxInfo> server{box("INBOX"),
                                        box("Archive", {"\\HasChildren", "\\Noselect"}),
                                        box("Archive/2024"),
                                        box("Trash", {"\\Trash"}),
                                        box("Sent", {"\\Sent"}),
                                        box("Spam", {"\\junk"}),
                                        box("Gone", {"\\NonExistent"})};
        QTest::newRow("none named") << server << QStringList() << QStringList{"INBOX", "Archive/2024", "Sent"};
        QTest::newRow("trash named") << server << QStringList{"Trash"}
                                     << QStringList{"INBOX", "Archive/2024", "Trash", "Sent"};
        QTest::newRow("inbox in any case, once")
            << server << QStringList{"inbox", "Spam"} << QStringList{"INBOX", "Archive/2024", "Sent", "Spam"};
        QTest::newRow("named but not listed, last")
            << server << QStringList{"Later"} << QStringList{"INBOX", "Archive/2024", "Sent", "Later"};
        QTest::newRow("no folders") << QList<MailboxInfo>() << QStringList() << QStringList();
        QTest::newRow("listed twice") << QList<MailboxInfo>{box("A"), box("A")} << QStringList() << QStringList{"A"};
    }

    void allFoldersLeaveTrashAndJunkOut()
    {
        QFETCH(QList<MailboxInfo>, boxes);
        QFETCH(QStringList, named);
        QFETCH(QStringList, walked);
        QCOMPARE(allFoldersToWalk(boxes, named), walked);
    }

    // Folders walked one after another, in the order named, into one host;
    // an empty folder is passed over, the run's counts add up.
    void namedFoldersWalkInTurn()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap);
        auto h = host(imap);
        h->names = QStringList{"Sent", "Empty", "Inbox"};
        const RunOutcome o = ExtractEmail(*h);
        QCOMPARE(outcomeName(o), QStringLiteral("Completed"));
        QCOMPARE(delivered(*h), (QStringList{"Sent:sent-1", "Inbox:in-1", "Inbox:in-2"}));
        QCOMPARE(o.walk.asked, qint64(3));
        QCOMPARE(o.walk.read, qint64(3));
        QCOMPARE(h->delivered.last().position, qint64(2));  // positions count within each folder
        // One sign-in serves the run. Each walk selects its folder again: the
        // count selected the others after it.
        QCOMPARE(imap.count(QStringLiteral("login")), 1);
        QCOMPARE(imap.count(QStringLiteral("select Sent")), 2);
        QCOMPARE(imap.count(QStringLiteral("select Inbox")), 2);
        QCOMPARE(imap.count(QStringLiteral("select Empty")), 1);

        // The folder counted last is walked right after its count when those
        // before it are empty: its select serves both.
        imap.calls.clear();
        auto last = host(imap);
        last->names = QStringList{"Empty", "Inbox"};
        QCOMPARE(outcomeName(ExtractEmail(*last)), QStringLiteral("Completed"));
        QCOMPARE(delivered(*last), (QStringList{"Inbox:in-1", "Inbox:in-2"}));
        QCOMPARE(imap.count(QStringLiteral("select Inbox")), 1);
        QCOMPARE(imap.count(QStringLiteral("login")), 1);
    }

    void allFoldersInServerOrder()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap);
        auto h = host(imap);
        h->all = true;
        QCOMPARE(outcomeName(ExtractEmail(*h)), QStringLiteral("Completed"));
        QCOMPARE(delivered(*h), (QStringList{"Inbox:in-1", "Inbox:in-2", "Sent:sent-1"}));

        auto named = host(imap);
        named->all = true;
        named->names = QStringList{"Spam"};
        QCOMPARE(outcomeName(ExtractEmail(*named)), QStringLiteral("Completed"));
        QCOMPARE(delivered(*named), (QStringList{"Inbox:in-1", "Inbox:in-2", "Sent:sent-1", "Spam:junk-1"}));
    }

    void onlyEmptyFoldersIsNoMail()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap);
        auto h = host(imap);
        h->names = QStringList{"Empty", "Empty"};
        const RunOutcome o = ExtractEmail(*h);
        QCOMPARE(outcomeName(o), QStringLiteral("NoMessages"));
        QVERIFY(!o.walked);
    }

    // One folder of several is missing: the run ends at the count, before
    // any folder is walked, and says which names the server has.
    void missingFolderEndsTheRunBeforeAnyWalk()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap);
        auto h = host(imap);
        h->names = QStringList{"Inbox", "Sentt"};
        const RunOutcome o = ExtractEmail(*h);
        QCOMPARE(outcomeName(o), QStringLiteral("Failed:Select"));
        QVERIFY(h->delivered.isEmpty());
        QVERIFY(o.failure);
        QCOMPARE(o.failure->missingFolder, QStringLiteral("Sentt"));
        QCOMPARE(
            failureText(*o.failure),
            QStringLiteral("There is no folder Sentt on this server; it has Sent, Inbox, Deleted, Spam and Empty."));
    }

    // Gmail's folder of all mail under its name in another country: found by \\All.
    void allMailByItsSpecialUse()
    {
        FakeImap imap;
        imap.folder(QStringLiteral("INBOX"));
        imap.folder(QStringLiteral("[Google Mail]/All Mail"), {QStringLiteral("\\All")}).messages
            << FakeImap::message(QStringLiteral("all-1"));
        QVERIFY(imap.Connect(QStringLiteral("host")));
        QVERIFY(imap.Login(QStringLiteral("user"), QStringLiteral("pw")));
        const ImapResult<MailboxStatus> selected = selectFolder(imap, QStringLiteral("[Gmail]/All Mail"));
        QVERIFY(selected);
        QCOMPARE(imap.calls.last(), QStringLiteral("select [Google Mail]/All Mail"));
    }

    // A folder that is there but will not be selected is not called missing.
    void refusedExistingFolderIsNotMissing()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap);
        imap.refuseSelect.insert(QStringLiteral("Inbox"));
        auto h = host(imap);
        h->names = QStringList{"Inbox"};
        const RunOutcome o = ExtractEmail(*h);
        QCOMPARE(outcomeName(o), QStringLiteral("Failed:Select"));
        QVERIFY(o.failure);
        QVERIFY(o.failure->missingFolder.isEmpty());
        QCOMPARE(failureText(*o.failure), kInvalidLoginMessage);
    }
};

QTEST_MAIN(RunFoldersTest)
#include "test_run_folders.moc"
