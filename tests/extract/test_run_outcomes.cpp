// How a run ends, from the wire to what the user is told: a scripted server
// plays each way a run can go (one dialogue per connection: the count and the
// walk share one unless the line goes between them), our IMAP client and the run procedure make one
// outcome of it, and from that outcome come the command-line program's
// messages and exit status and the window's boxes.
#include "CliOutcome.h"
#include "FakeImapServer.h"
#include "ScriptedDialogs.h"
#include "TestRunHost.h"
#include "app/RunMessages.h"
#include "extract/ExtractionRun.h"
#include "mail/ImapClient.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace vc;
using vc::test::outcomeName;
using vc::test::TestRunHost;

namespace {

const QString kInvalidLogin = QStringLiteral("Invalid login. Please double-check your username and password.");
const QString kNoEmails = QStringLiteral("There are no emails in the Folder you selected.");
const QString kWalkNotConnected = QStringLiteral("Connection failed. Check username and password.");
const QString kDone = QStringLiteral("Done.");

// Steps of the dialogues; `t` is the number of the first tag they use (tags
// go on counting across connections).
QByteArray tag(int t)
{
    return "V" + QByteArray::number(t).rightJustified(4, '0');
}
const QByteArray kGreeting = "S: * OK [CAPABILITY IMAP4rev1 ID] ready\n";
QByteArray idAnswered(int t)
{
    return "C: " + tag(t) + " ID (\"GUID\" \"1\")\nS: * ID NIL\nS: " + tag(t) + " OK done\n";
}
QByteArray login(int t, const QByteArray &answer = "OK done")
{
    return "C: " + tag(t) + " LOGIN \"user\" \"pw\"\nS: " + tag(t) + " " + answer + "\n";
}
// ID and LOGIN as the client sends them: the LOGIN goes without waiting for
// the ID's answer (the server reads both before it answers either).
QByteArray signedIn(int t)
{
    return kGreeting + "C: " + tag(t) + " ID (\"GUID\" \"1\")\nC: " + tag(t + 1)
           + " LOGIN \"user\" \"pw\"\nS: * ID NIL\nS: " + tag(t) + " OK done\nS: " + tag(t + 1) + " OK done\n";
}
QByteArray select(int t, int exists)
{
    return "C: " + tag(t) + " SELECT \"INBOX\"\nS: * " + QByteArray::number(exists)
           + " EXISTS\nS: * OK [UIDVALIDITY 42] ok\nS: " + tag(t) + " OK done\n";
}
QByteArray fetch(int t, int n)
{
    return "C: " + tag(t) + " FETCH " + QByteArray::number(n) + " (UID BODY.PEEK[])\nS: * " + QByteArray::number(n)
           + " FETCH (BODY[] {{m" + QByteArray::number(n) + "}})\nS: " + tag(t) + " OK done\n";
}
// The run's own sign-in and count of two messages: tags 1 to 3.
const QByteArray kCounted = signedIn(1) + select(3, 2);

}  // namespace

class TestRunOutcomes : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

private Q_SLOTS:
    void outcomes_data();
    void outcomes();
    void stoppedAndRunTimeErrors();
};

void TestRunOutcomes::outcomes_data()
{
    QTest::addColumn<QList<QByteArray>>("scripts");  // one per connection
    QTest::addColumn<QString>("outcome");            // outcomeName()
    QTest::addColumn<int>("exit");                   // the command-line program's status
    QTest::addColumn<QStringList>("said");           // its messages; {port} and {log} filled in
    QTest::addColumn<QStringList>("boxes");          // the window's box texts

    const QString missing = QStringLiteral("1 of 2 messages could not be read (see {log})");
    // One sign-in and one select serve the count and the walk.
    QTest::newRow("completed") << QList<QByteArray>{kCounted + fetch(4, 1) + fetch(5, 2)} << "Completed" << 0
                               << QStringList{kDone} << QStringList{kDone};
    QTest::newRow("a message without content")
        << QList<QByteArray>{kCounted + fetch(4, 1)
                             + "C: V0005 FETCH 2 (UID BODY.PEEK[])\n"
                               "S: * 2 FETCH (BODY[] NIL)\n"
                               "S: V0005 OK done\n"}
        << "Incomplete" << 1 << QStringList{missing} << QStringList{kDone + u'\r' + missing};
    QTest::newRow("greeting refused") << QList<QByteArray>{"S: * BYE Too many connections\n"} << "Failed:Connect" << 3
                                      << QStringList{kInvalidLogin} << QStringList{kInvalidLogin};
    const QString silent = QStringLiteral("127.0.0.1:{port} stopped answering (Connect to 127.0.0.1:{port} failed: "
                                          "timed out after 1 s without an answer from the server).\rPlease try again "
                                          "later.");
    QTest::newRow("silent server") << QList<QByteArray>{"DELAY 1500\n"} << "Failed:Connect" << 3 << QStringList{silent}
                                   << QStringList{silent};
    const QString dropped = QStringLiteral("127.0.0.1:{port} closed the connection (LOGIN failed: the connection was "
                                           "closed by the server).");
    QTest::newRow("line dropped under ID")
        << QList<QByteArray>{kGreeting + "C: V0001 ID (\"GUID\" \"1\")\nC: V0002 LOGIN \"user\" \"pw\"\nDROP\n"}
        << "Failed:Connect" << 3 << QStringList{dropped} << QStringList{dropped};
    QTest::newRow("password refused")
        << QList<QByteArray>{kGreeting + idAnswered(1) + login(2, "NO [AUTHENTICATIONFAILED] Authentication failed.")}
        << "Failed:Login" << 3 << QStringList{kInvalidLogin} << QStringList{kInvalidLogin};
    // A refused folder is looked for in the list: one that is there is not called missing.
    const QByteArray refusedInbox = "C: V0003 SELECT \"INBOX\"\nS: V0003 NO [NONEXISTENT] Unknown mailbox\n"
                                    "C: V0004 LIST \"\" \"*\"\n";
    QTest::newRow("folder refused at the count")
        << QList<QByteArray>{signedIn(1) + refusedInbox + "S: * LIST () \"/\" INBOX\nS: V0004 OK done\n"}
        << "Failed:Select" << 4 << QStringList{kInvalidLogin, kNoEmails} << QStringList{kInvalidLogin, kNoEmails};
    const QString noInbox = QStringLiteral("There is no folder Inbox on this server; it has Archive and Sent Items.");
    QTest::newRow("folder not on the server")
        << QList<
               QByteArray>{signedIn(1) + refusedInbox
                           + "S: * LIST () \"/\" Archive\nS: * LIST (\\Sent) \"/\" \"Sent Items\"\nS: V0004 OK done\n"}
        << "Failed:Select" << 4 << QStringList{noInbox} << QStringList{noInbox};
    QTest::newRow("empty folder") << QList<QByteArray>{signedIn(1) + select(3, 0)} << "NoMessages" << 0
                                  << QStringList{kNoEmails} << QStringList{kNoEmails};
    // The line goes between the count and the walk: the walk signs in afresh
    // and selects again, and every message comes once.
    QTest::newRow("line dropped after the count")
        << QList<QByteArray>{kCounted + "DROP\n", signedIn(4) + select(6, 2) + fetch(7, 1) + fetch(8, 2)}
        << "Completed" << 0 << QStringList{kDone} << QStringList{kDone};
    // The server ends the idle connection at the walk's first fetch: the walk
    // reconnects and asks for that message again.
    QTest::newRow("line dropped at the walk's first fetch")
        << QList<QByteArray>{kCounted + "C: V0004 FETCH 1 (UID BODY.PEEK[])\nS: * BYE Autologout\nDROP\n",
                             signedIn(5) + select(7, 2) + fetch(8, 1) + fetch(9, 2)}
        << "Completed" << 0 << QStringList{kDone} << QStringList{kDone};
    QTest::newRow("the walk's sign-in refused")
        << QList<QByteArray>{kCounted + "DROP\n", kGreeting + idAnswered(4) + login(5, "NO [AUTHENTICATIONFAILED] no")}
        << "Failed:Login+walk" << 3 << QStringList{kInvalidLogin, kWalkNotConnected, kDone}
        << QStringList{kInvalidLogin, kWalkNotConnected, kDone};
    QTest::newRow("the walk's select refused")
        << QList<QByteArray>{kCounted + "DROP\n", signedIn(4)
                                                      + "C: V0006 SELECT \"INBOX\"\nS: V0006 NO gone\n"
                                                        "C: V0007 LIST \"\" \"*\"\nS: * LIST () \"/\" INBOX\n"
                                                        "S: V0007 OK done\n"}
        << "Failed:Select+walk" << 4 << QStringList{kInvalidLogin, kDone} << QStringList{kInvalidLogin, kDone};
    // A server without ID is not asked for it; one that refuses it is signed in to.
    const QByteArray withoutId = "S: * OK [CAPABILITY IMAP4rev1] ready\n";
    QTest::newRow("no ID capability") << QList<QByteArray>{withoutId + login(1) + select(2, 1) + fetch(3, 1)}
                                      << "Completed" << 0 << QStringList{kDone} << QStringList{kDone};
    const QByteArray idRefused = "C: V0001 ID (\"GUID\" \"1\")\nS: V0001 BAD Unknown command\n";
    QTest::newRow("ID answered BAD") << QList<QByteArray>{kGreeting + idRefused + login(2) + select(3, 1) + fetch(4, 1)}
                                     << "Completed" << 0 << QStringList{kDone} << QStringList{kDone};
}

void TestRunOutcomes::outcomes()
{
    QFETCH(QList<QByteArray>, scripts);
    QFETCH(QStringList, said);
    QFETCH(QStringList, boxes);
    vc::test::ScriptedDialogs dialogs;
    FakeImapServer server;
    server.scripts = scripts;
    server.literals["m1"] = "From: Ann <ann@example.org>\r\nSubject: one\r\n\r\nfirst\r\n";
    server.literals["m2"] = "From: Bob <bob@example.org>\r\nSubject: two\r\n\r\nsecond\r\n";
    ImapClient client;
    client.setTimeoutMs(300);
    client.setReadAheadWindow(0);  // one fetch per message, as the dialogues have it
    // A host that lets a little time pass between the count and the walk, as
    // a window's does: a line the server drops meanwhile is noticed.
    struct Host : TestRunHost {
        using TestRunHost::TestRunHost;
        MailCacheSettings mailCacheSettings() override
        {
            QTest::qWait(50);
            return TestRunHost::mailCacheSettings();
        }
    } host(client);
    host.config.host = QStringLiteral("127.0.0.1");
    host.config.port = server.port();
    host.ssl = false;
    host.errorLog = tmp.filePath(QStringLiteral("%1.log").arg(QTest::currentDataTag()));

    const RunOutcome outcome = ExtractEmail(host);
    QTEST(outcomeName(outcome), "outcome");
    QCOMPARE(server.scriptError(), QString());
    // Every message the walk read reached the host once, in order.
    QCOMPARE(host.uids.size(), qsizetype(outcome.walk.read));
    for (qsizetype i = 0; i < host.uids.size(); ++i)
        QCOMPARE(host.uids[i], int(i + 1));
    QVERIFY2(dialogs.boxes.isEmpty(), qPrintable(dialogs.texts().join(u'|')));  // the engine says nothing

    const auto fill = [&](QStringList texts) {
        for (QString &t : texts)
            t.replace(QStringLiteral("{port}"), QString::number(server.port()))
                .replace(QStringLiteral("{log}"), host.errorLog);
        return texts;
    };
    QTEST(cli::exitStatus(outcome, false), "exit");
    QCOMPARE(cli::outcomeMessages(outcome), fill(said));
    QStringList shown;
    for (const WindowBox &b : outcomeBoxes(outcome, QStringLiteral("Vellumcast")))
        shown << b.text;
    QCOMPARE(shown, fill(boxes));
    // An interrupt wins over every outcome.
    QCOMPARE(cli::exitStatus(outcome, true), 130);
}

// Outcomes a dialogue cannot make on its own: a stop, and steps that failed
// with a run-time error (each already reported in its own box).
void TestRunOutcomes::stoppedAndRunTimeErrors()
{
    RunOutcome stopped;
    stopped.kind = RunOutcome::Kind::Stopped;
    stopped.walked = true;
    stopped.walk.asked = 5;
    stopped.walk.read = 1;
    stopped.stoppedAt = 2;
    QCOMPARE(cli::outcomeMessages(stopped), QStringList{kDone});
    QCOMPARE(cli::exitStatus(stopped, false), 1);
    const QList<WindowBox> boxes = outcomeBoxes(stopped, QStringLiteral("Extract Between X and Y (Repeatedly)"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, kDone);  // what a stop leaves unread is not listed
    QCOMPARE(boxes[0].title, QStringLiteral("Extract Between X and Y (Repeatedly)"));

    // Given the rows of the list, the window says where the stop came and
    // that the rows stay; a walk that found nothing says so.
    const auto shownWithRows = [](const RunOutcome &o, qint64 rows) {
        QStringList texts;
        for (const WindowBox &b : outcomeBoxes(o, QString(), rows))
            texts << b.text;
        return texts;
    };
    stopped.walk.count = 5;
    QCOMPARE(shownWithRows(stopped, 3), QStringList{"Stopped at message 2 of 5. The 3 rows found so far are kept."});
    QCOMPARE(shownWithRows(stopped, 1), QStringList{"Stopped at message 2 of 5. The row found so far is kept."});
    QCOMPARE(shownWithRows(stopped, 0), QStringList{"Stopped at message 2 of 5. No rows were found before the stop."});
    RunOutcome nothingFound;
    nothingFound.walked = true;
    nothingFound.walk.asked = nothingFound.walk.read = nothingFound.walk.count = 7;
    QCOMPARE(shownWithRows(nothingFound, 0), QStringList{"Done. No rows found in 7 messages."});
    QCOMPARE(shownWithRows(nothingFound, 4), QStringList{kDone});
    nothingFound.walk.asked = nothingFound.walk.read = nothingFound.walk.count = 1;
    QCOMPARE(shownWithRows(nothingFound, 0), QStringList{"Done. No rows found in 1 message."});
    nothingFound.walk.asked = 3;  // two of three unread: the shortfall follows on its own line
    QVERIFY(shownWithRows(nothingFound, 0).constFirst().startsWith("Done. No rows found in 1 message.\r"));

    RunOutcome walkRaised;  // the walk threw: "Done." all the same, status 1
    walkRaised.walked = true;
    walkRaised.runTimeErrors = 1;
    QCOMPARE(cli::outcomeMessages(walkRaised), QStringList{kDone});
    QCOMPARE(cli::exitStatus(walkRaised, false), 1);

    RunOutcome countRaised;  // no count came: the empty-folder message, status 1
    countRaised.kind = RunOutcome::Kind::NoMessages;
    countRaised.runTimeErrors = 2;
    QCOMPARE(cli::outcomeMessages(countRaised), QStringList{kNoEmails});
    QCOMPARE(cli::exitStatus(countRaised, false), 1);

    // A sign-in the user gave up says nothing, in either program.
    RunOutcome cancelled;
    cancelled.kind = RunOutcome::Kind::Failed;
    cancelled.failure = StepFault();
    cancelled.failure->stage = RunStage::SignIn;
    cancelled.failure->cancelled = true;
    QCOMPARE(cli::outcomeMessages(cancelled), QStringList());
    QVERIFY(outcomeBoxes(cancelled, QString()).isEmpty());
    QCOMPARE(cli::exitStatus(cancelled, false), 3);
    // One it could not finish is a warning in the window.
    cancelled.failure->cancelled = false;
    cancelled.failure->fault.reason = QStringLiteral("The sign-in code expired");
    const QList<WindowBox> failed = outcomeBoxes(cancelled, QString());
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed[0].text, QStringLiteral("Sign-in failed: The sign-in code expired"));
    QCOMPARE(failed[0].icon, BoxIcon::Warning);
}

QTEST_GUILESS_MAIN(TestRunOutcomes)
#include "test_run_outcomes.moc"
