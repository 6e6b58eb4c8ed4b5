// The run procedure (ExtractEmail) and the run wiring (connection set-up,
// delivery to the host, progress, stop requests) against the in-memory
// component: the outcome each run ends with. The engine itself shows nothing
// but the "Application Error" box of a failed step.
#include "FakeImap.h"
#include "ScriptedDialogs.h"
#include "TestRunHost.h"

#include "core/AppError.h"
#include "core/DateText.h"
#include "extract/ErrorLog.h"
#include "extract/ExtractionRun.h"
#include "extract/FailureMessage.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace vc;
using vc::test::FakeImap;
using vc::test::outcomeName;
using vc::test::TestRunHost;

class ExtractionRunTest : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    QString log;

    void fill(FakeImap &imap, const QString &folder, int n)
    {
        auto &f = imap.folder(folder);
        for (int i = 1; i <= n; ++i)
            f.messages << FakeImap::message(QStringLiteral("m%1").arg(i), QStringLiteral("body %1").arg(i));
    }

    // A host on `imap` whose fetch log goes to this test's file.
    std::unique_ptr<TestRunHost> host(FakeImap &imap, Rule rule = Rule::AllEmailData)
    {
        auto h = std::make_unique<TestRunHost>(imap, rule);
        h->errorLog = log;
        return h;
    }

private Q_SLOTS:
    void init() { log = tmp.filePath(QStringLiteral("%1.log").arg(QTest::currentTestFunction())); }

    void runWithoutConnectionSetsUpLogsInOnceAndSaysDone()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 3);
        auto h = host(imap);
        h->results.append(QStringLiteral("left over"));

        const RunOutcome o = ExtractEmail(*h);
        QCOMPARE(outcomeName(o), QStringLiteral("Completed"));
        QVERIFY(o.walked);
        QCOMPARE(o.walk.read, qint64(3));
        QCOMPARE(o.walk.asked, qint64(3));
        QCOMPARE(o.walk.logPath, log);
        QCOMPARE(h->uids, (QList<int>{1, 2, 3}));
        QVERIFY(!h->results.contains(QStringLiteral("left over")));
        QVERIFY2(boxes.boxes.isEmpty(), qPrintable(boxes.texts().join(u'|')));
        QVERIFY(!h->conn);  // the run drops its object
        QCOMPARE(h->events, (QStringList{"busy", "setup", "set", "drop", "progress reset", "idle"}));
        // The run's one sign-in and select serve the count and the walk.
        QCOMPARE(imap.logins.size(), 1);
        QCOMPARE(imap.count(QStringLiteral("connect")), 1);
        QCOMPARE(imap.count(QStringLiteral("select Inbox")), 1);
    }

    // One record per message reaches the host's rule: the rows of the
    // all-e-mail-data rule for the three messages, in order.
    void deliveredMessagesAreListedByTheHostsRule()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 2);
        auto h = host(imap, Rule::Containing);
        h->rule.containing = QStringLiteral("BODY");
        QCOMPARE(outcomeName(ExtractEmail(*h)), QStringLiteral("Completed"));
        QCOMPARE(h->results.texts(), (QStringList{"body 1", "body 2"}));
        // Each record says where it came from and where it stands in the walk.
        QCOMPARE(h->delivered.size(), 2);
        QCOMPARE(h->delivered[1].folder, QStringLiteral("Inbox"));
        QCOMPARE(h->delivered[1].uidValidity, 7u);
        QCOMPARE(h->delivered[1].position, qint64(2));
        QCOMPARE(h->delivered[1].total, qint64(2));

        TestRunHost all(imap);
        all.errorLog = log;
        QCOMPARE(outcomeName(ExtractEmail(all)), QStringLiteral("Completed"));
        const QString date = dateToText(imap.folder(QStringLiteral("Inbox")).messages[0]->date);
        QCOMPARE(all.results.texts().mid(0, 5),
                 (QStringList{"Ann Example <ann@example.org>", date, "m1", "body 1", "body 1"}));
        QCOMPARE(all.results.count(), 10);
    }

    // The component's progress reaches the host with the message count.
    void progressNamesTheMessageAndTheLastOne()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 3);
        auto h = host(imap);
        QCOMPARE(outcomeName(ExtractEmail(*h)), QStringLiteral("Completed"));
        QVERIFY(h->progress.contains(QStringLiteral("Reading mail 1 of 3")));
        QCOMPARE(h->progress.last(), QStringLiteral("Reading mail 3 of 3"));
    }

    // A walk that could not read every message is not a success: the run ends
    // Incomplete with the counts, and what is missing in words.
    void unreadMessagesEndIncomplete()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 4);
        imap.folder(QStringLiteral("Inbox")).messages[1].reset();
        imap.folder(QStringLiteral("Inbox")).messages[3].reset();
        auto h = host(imap);
        const RunOutcome o = ExtractEmail(*h);
        QCOMPARE(outcomeName(o), QStringLiteral("Incomplete"));
        QCOMPARE(o.walk.read, qint64(2));
        QCOMPARE(o.walk.asked, qint64(4));
        QCOMPARE(h->uids, (QList<int>{1, 3}));
        QCOMPARE(shortfallText(o.walk), QStringLiteral("2 of 4 messages could not be read (see %1)").arg(log));

        // Every message read: nothing is missing.
        FakeImap whole;
        fill(whole, QStringLiteral("Inbox"), 2);
        const RunOutcome all = ExtractEmail(*host(whole));
        QCOMPARE(outcomeName(all), QStringLiteral("Completed"));
        QCOMPARE(shortfallText(all.walk), QString());
        QVERIFY(boxes.boxes.isEmpty());
    }

    // The line goes between the count and the walk: the walk signs in and
    // selects afresh, as a run does that finds no connection, and every
    // message comes once.
    void lineLostBetweenCountAndWalkSignsInAgain()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 3);
        struct DroppingHost : TestRunHost {
            using TestRunHost::TestRunHost;
            MailCacheSettings mailCacheSettings() override
            {
                static_cast<FakeImap &>(imap).dropLine();
                return TestRunHost::mailCacheSettings();
            }
        } h(imap);
        h.errorLog = log;
        const RunOutcome o = ExtractEmail(h);
        QCOMPARE(outcomeName(o), QStringLiteral("Completed"));
        QCOMPARE(h.uids, (QList<int>{1, 2, 3}));
        QCOMPARE(imap.fetched, (QList<int>{1, 2, 3}));
        QCOMPARE(imap.logins.size(), 2);
        QCOMPARE(imap.count(QStringLiteral("select Inbox")), 2);
        QCOMPARE(o.walk.reconnects, 0);  // the walk had not begun
    }

    void existingConnectionIsUsedWithoutANewLogin()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 2);
        auto h = host(imap);
        h->conn = setUpConnection(*h);
        QVERIFY(h->conn->Connect());
        imap.logins.clear();
        h->events.clear();

        QCOMPARE(outcomeName(ExtractEmail(*h)), QStringLiteral("Completed"));
        QVERIFY(!h->events.contains(QStringLiteral("setup")));
        QCOMPARE(imap.logins.size(), 0);  // the host's connection is signed in already
        QCOMPARE(imap.fetched, (QList<int>{1, 2}));
        QCOMPARE(h->uids, (QList<int>{1, 2}));
        QVERIFY(!h->conn);
    }

    void failedLoginEndsWithoutDone()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 2);
        imap.loginOk = false;
        auto h = host(imap);

        const RunOutcome o = ExtractEmail(*h);
        QCOMPARE(outcomeName(o), QStringLiteral("Failed:Login"));
        QVERIFY(!o.walked);
        QCOMPARE(o.failure->fault.kind, ImapFailure::Refusal);
        QCOMPARE(o.failure->fault.reason, QStringLiteral("LOGIN failed: NO [AUTHENTICATIONFAILED]"));
        QCOMPARE(failureText(*o.failure), kInvalidLoginMessage);
        QVERIFY(boxes.boxes.isEmpty());
        QVERIFY(imap.fetched.isEmpty());
        QCOMPARE(imap.count(QStringLiteral("select Inbox")), 0);
        QVERIFY(!h->conn);
        QVERIFY(h->events.contains(QStringLiteral("progress reset")));
        QCOMPARE(h->events.last(), QStringLiteral("idle"));
    }

    void emptyAndUnselectableFolders()
    {
        {
            vc::test::ScriptedDialogs boxes;
            FakeImap imap;
            imap.folder(QStringLiteral("Drafts"));
            auto h = host(imap);
            h->folder = QStringLiteral("Drafts");
            QCOMPARE(outcomeName(ExtractEmail(*h)), QStringLiteral("NoMessages"));
            QVERIFY(boxes.boxes.isEmpty());
            QVERIFY(!h->conn);
        }
        {
            vc::test::ScriptedDialogs boxes;
            FakeImap imap;
            fill(imap, QStringLiteral("Inbox"), 1);
            auto h = host(imap);
            h->folder.clear();  // no folder option selected
            const RunOutcome o = ExtractEmail(*h);
            QCOMPARE(outcomeName(o), QStringLiteral("Failed:Select"));
            QCOMPARE(o.failure->fault.reason, QStringLiteral("SelectMailbox: no such mailbox "));
            QVERIFY(boxes.boxes.isEmpty());
            QVERIFY(imap.fetched.isEmpty());
        }
    }

    void stoppedRunKeepsRowsAndSaysDone()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 5);
        auto h = host(imap);
        h->onMessage = [&](int uID) {
            if (uID == 1)
                h->conn->AbortProcess = true;  // Stop clicked while message 1 is listed
        };
        const RunOutcome o = ExtractEmail(*h);
        QCOMPARE(outcomeName(o), QStringLiteral("Stopped"));
        QCOMPARE(o.stoppedAt, qint64(5));
        QCOMPARE(h->uids, QList<int>{1});
        QVERIFY(h->results.contains(QStringLiteral("m1")));
        // The component's abort check now answers "abort", so every later
        // fetch fails; the walk still asks for (and logs) each of them.
        QCOMPARE(imap.fetched, (QList<int>{1, 2, 3, 4, 5}));
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        QCOMPARE(logFile.readAll().count(QByteArray(52, '*')), 5);

        // The next run makes a fresh object and walks the whole folder.
        boxes.clear();
        h->onMessage = nullptr;
        h->uids.clear();
        QCOMPARE(outcomeName(ExtractEmail(*h)), QStringLiteral("Completed"));
        QCOMPARE(h->uids.size(), 5);
    }

    // A stop asked for from outside the windows (the command-line program's
    // Ctrl+C) is taken at the component's abort check, like Stop.
    void stopRequestIsTakenAtTheAbortCheck()
    {
        struct StoppingHost : TestRunHost {
            using TestRunHost::TestRunHost;
            bool stop = false;
            bool stopRequested() override { return stop; }
        };
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 4);
        StoppingHost h(imap);
        h.errorLog = log;
        imap.onFetch = [&](int n) {
            if (n == 2)
                h.stop = true;  // arrives while message 2 is being fetched
        };
        QCOMPARE(outcomeName(ExtractEmail(h)), QStringLiteral("Stopped"));
        QCOMPARE(h.uids, QList<int>{1});
        QCOMPARE(imap.fetched, (QList<int>{1, 2, 3, 4}));
    }

    void disconnectDuringTheWalkDoesNotPullTheObjectAway()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 3);
        auto h = host(imap);
        std::weak_ptr<clsChilkatIMAP> seen;
        imap.onFetch = [&](int n) {
            if (n == 2) {
                seen = h->conn;
                h->setConnection(nullptr);  // the window's Disconnect click
                QVERIFY(!seen.expired());
            }
        };
        QCOMPARE(outcomeName(ExtractEmail(*h)), QStringLiteral("Completed"));
        QCOMPARE(h->uids, (QList<int>{1, 2, 3}));
        QVERIFY(seen.expired());  // released once the run is over
    }

    void failingWalkIsReportedAndTheRunStillEnds()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, QStringLiteral("Inbox"), 2);
        QFile blocker(tmp.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        auto h = host(imap);
        h->errorLog = blocker.fileName() + QStringLiteral("/errorlog.txt");

        const RunOutcome o = ExtractEmail(*h);
        QCOMPARE(outcomeName(o), QStringLiteral("Completed+errors"));
        QVERIFY(o.walked);  // the walk was reached, and failed with a run-time error
        QVERIFY(h->uids.isEmpty());
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].title, QStringLiteral("Application Error"));
        QCOMPARE(boxes.boxes[0].icon, BoxIcon::Warning);
        QVERIFY2(boxes.boxes[0].text.startsWith(
                     AppError::standardDescription(err::PathFileAccess)
                     + QStringLiteral("\r\nin Vellumcast2/19/2015.Form1.ExtractEmail at line 116")),
                 qPrintable(boxes.boxes[0].text));
        QVERIFY(!h->conn);
    }

    void setUpFailureIsTrappedPerStep()
    {
        // A host without a component: the set-up fails, every later step that
        // needs the object reports it, and the run still ends with the reset steps.
        struct BrokenHost : TestRunHost {
            using TestRunHost::TestRunHost;
            Account account() override { vc::raise(err::InvalidCall); }
        };
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        BrokenHost h(imap);
        const RunOutcome o = ExtractEmail(h);
        QCOMPARE(outcomeName(o), QStringLiteral("NoMessages+errors"));
        QVERIFY(!o.walked);
        QVERIFY(boxes.boxes.size() >= 2);
        QCOMPARE(boxes.boxes[0].title, QStringLiteral("Application Error"));
        QVERIFY(boxes.boxes[0].text.startsWith(AppError::standardDescription(err::InvalidCall)));
        QVERIFY(boxes.boxes[0].text.contains(QStringLiteral(" at line 106\r\r")));
        // Steps that need the missing object report "Object variable ..." each.
        QVERIFY(boxes.boxes[1].text.startsWith(AppError::standardDescription(err::ObjectNotSet)));
        QCOMPARE(o.runTimeErrors, int(boxes.boxes.size()));
        QVERIFY(h.events.contains(QStringLiteral("progress reset")));
    }

    void accountNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("expected");
        QTest::newRow("suffix") << "jo"
                                << "@live.com"
                                << "jo@live.com";
        QTest::newRow("live id item") << "jo@x.org"
                                      << "Live!ID"
                                      << "jo@x.org";
        QTest::newRow("empty combo") << "jo"
                                     << ""
                                     << "jo";
        QTest::newRow("no trimming") << " jo "
                                     << "@msn.com"
                                     << " jo @msn.com";
        QTest::newRow("at later") << "jo"
                                  << "x@y"
                                  << "jo";
    }

    void accountNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, suffix);
        QFETCH(QString, expected);
        QCOMPARE(accountName(name, suffix), expected);
    }

    void setUpCarriesTheAccount()
    {
        FakeImap imap;
        TestRunHost h(imap);
        QVERIFY(h.config.setServer(QStringLiteral("mail.example.net:1993")));
        h.user = QStringLiteral("a@b");
        h.password = QStringLiteral("secret");
        h.errorLog = log;
        const auto c = setUpConnection(h);
        QCOMPARE(c->ChilkatIMAPObject(), &imap);
        QVERIFY(c->SSL());
        QCOMPARE(c->PORT(), 1993);
        QCOMPARE(c->IMAPServer(), QStringLiteral("mail.example.net"));
        QCOMPARE(c->Username(), QStringLiteral("a@b"));
        QCOMPARE(c->Password(), QStringLiteral("secret"));
        QCOMPARE(c->ErrorLogPath(), log);
        QVERIFY(!c->AbortProcess);
        QCOMPARE(imap.calls, QStringList());  // nothing connects yet

        // Without a component instance there is nothing to set up.
        struct NoComponent : TestRunHost {
            using TestRunHost::TestRunHost;
            Account account() override { return {}; }
        };
        NoComponent none(imap);
        try {
            setUpConnection(none);
            QFAIL("set up without a component");
        } catch (const AppError &e) {
            QCOMPARE(e.number(), err::ObjectNotSet);
        }
    }
};

QTEST_GUILESS_MAIN(ExtractionRunTest)
#include "test_extraction_run.moc"
