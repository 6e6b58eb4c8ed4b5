// The IMAP client and the connection object against a fake server: the
// protocol's happy path, abort and re-entrancy.
#include "FakeImapServer.h"
#include "MailTestSupport.h"
#include "ScriptedDialogs.h"
#include "extract/clsChilkatIMAP.h"
#include "mail/ImapClient.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using vc::clsChilkatIMAP;
using vc::failureName;
using vc::ImapClient;
using vc::test::connectPlain;
using vc::test::message;

class TestImapClient : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void connectIdLoginThroughConnectionObject();
    void loginArgumentsQuotedOrLiteral_data();
    void loginArgumentsQuotedOrLiteral();
    void loginFailureTextNamesReasonNotPassword();
    void listDecodesNamesAndKeepsFlags();
    void selectNamesAndCounts();
    void fetchByNumberAndByUid();
    void fetchReportsProgressInOrder();
    void rawCommandRefusesLineBreaks();
    void abortProcessAbandonsFetch();
    void callsDuringAWaitAreRefusedAndDisconnectEndsIt();
    void destroyedWhileWaiting();
    void eventsReachOnlyTheObjectAtWork();

private:
    std::unique_ptr<FakeImapServer> server;
};

void TestImapClient::init()
{
    server = std::make_unique<FakeImapServer>();
    server->messages = {message("one"), message("two"), message("three")};
}

void TestImapClient::connectIdLoginThroughConnectionObject()
{
    vc::test::ScriptedDialogs dialogs;
    ImapClient client;
    clsChilkatIMAP conn;
    conn.setChilkatIMAPObject(&client);
    conn.setSSL(false);
    conn.setPORT(server->port());
    conn.setIMAPServer(QStringLiteral("127.0.0.1"));
    conn.setUsername(QStringLiteral("ann@example.org"));
    conn.setPassword(QStringLiteral("pw-1234"));
    server->latencyMs = 50;  // the ID's answer is still on its way when the LOGIN comes
    QVERIFY(conn.Connect());
    server->latencyMs = 0;
    QVERIFY(!conn.GetLastError());
    QVERIFY(dialogs.boxes.isEmpty());
    QCOMPARE(client.port(), int(server->port()));
    QVERIFY(!client.ssl());
    QCOMPARE(server->commands,
             (QList<QByteArray>{"CAPABILITY", "ID (\"GUID\" \"1\")", "LOGIN \"ann@example.org\" \"pw-1234\""}));
    QCOMPARE(server->unanswered.last(), 1);  // the LOGIN did not wait for the ID's answer
    QVERIFY(client.capabilities().contains(QStringLiteral("ID")));
    QVERIFY(client.isSignedIn());
    QVERIFY(client.aheadAnswer().endsWith(QStringLiteral("OK ID completed.")));

    // A second Connect runs the whole sequence again, on a new connection.
    QVERIFY(conn.Connect());
    QCOMPARE(server->connections, 2);
    QCOMPARE(server->count("ID"), 2);
    QCOMPARE(server->count("LOGIN"), 2);

    server->listLines = {"* LIST (\\HasNoChildren) \"/\" INBOX", "* LIST (\\Sent) \"/\" Sent"};
    const vc::StepResult<QStringList> folders = conn.EnumMailFolders();
    QVERIFY(folders);
    QCOMPARE(*folders, (QStringList{QStringLiteral("INBOX"), QStringLiteral("Sent")}));

    server->listLines.clear();
    const vc::StepResult<QStringList> none = conn.EnumMailFolders();
    QVERIFY(none);
    QVERIFY(none->isEmpty());
    QVERIFY(dialogs.boxes.isEmpty());

    QVERIFY(client.Disconnect());
    QCOMPARE(client.LastErrorText(), QStringLiteral("LOGOUT: OK"));
    QCOMPARE(failureName(client.lastFailure()), "None");
    QVERIFY(!client.isConnected());
    QVERIFY(!client.isSignedIn());
    QCOMPARE(server->count("LOGOUT"), 1);

    // At the end of a run the LOGOUT goes without waiting for an answer,
    // here one that never comes.
    QVERIFY(conn.Connect());
    server->handlers["LOGOUT"] = [](const QByteArray &, const QByteArray &) {};
    client.logOutWithoutWaiting();
    QCOMPARE(client.LastErrorText(), QStringLiteral("LOGOUT: sent"));
    QVERIFY(!client.isConnected());
    QTRY_COMPARE(server->count("LOGOUT"), 2);
}

void TestImapClient::loginArgumentsQuotedOrLiteral_data()
{
    QTest::addColumn<QByteArray>("capability");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("dialogue");  // after the greeting, up to the tagged OK
    QTest::newRow("quote and backslash") << QByteArray("IMAP4rev1 ID") << QStringLiteral("a\"b\\c")
                                         << QByteArray(R"(C: V0001 LOGIN "user" "a\\\"b\\\\c")");
    QTest::newRow("non-ASCII, synchronising literal")
        << QByteArray("IMAP4rev1 ID") << QStringLiteral("Qu\"ote-é9")
        << QByteArray("C: V0001 LOGIN \"user\" {10}\nS: + go ahead\nC: Qu\"ote-\\xC3\\xA99");
    QTest::newRow("non-ASCII, non-synchronising literal") << QByteArray("IMAP4rev1 ID LITERAL+") << QStringLiteral("é")
                                                          << QByteArray("C: V0001 LOGIN \"user\" {2+}\nC: \\xC3\\xA9");
    QTest::newRow("empty") << QByteArray("IMAP4rev1") << QString() << QByteArray("C: V0001 LOGIN \"user\" \"\"");
    QTest::newRow("tab") << QByteArray("IMAP4rev1") << QStringLiteral("a\tb")
                         << QByteArray("C: V0001 LOGIN \"user\" {3}\nS: + go ahead\nC: a\\tb");
}

void TestImapClient::loginArgumentsQuotedOrLiteral()
{
    QFETCH(QByteArray, capability);
    QFETCH(QString, password);
    QFETCH(QByteArray, dialogue);
    // A literal sent before its go-ahead would meet an unexpected "+" and fail the login.
    server->scripts = {"S: * OK [CAPABILITY " + capability + "] ready\n" + dialogue + "\nS: V0001 OK done"};
    ImapClient client;
    connectPlain(client, *server);
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.Login(QStringLiteral("user"), password));
    QCOMPARE(client.LastErrorText(), QStringLiteral("LOGIN: OK"));
    QCOMPARE(server->scriptError(), QString());
}

void TestImapClient::loginFailureTextNamesReasonNotPassword()
{
    const QString password = QStringLiteral("hunter2-secret");
    server->handlers["LOGIN"] = [&](const QByteArray &tag, const QByteArray &) {
        server->send(tag + " NO [AUTHENTICATIONFAILED] Authentication failed for hunter2-secret.\r\n");
    };
    ImapClient client;
    connectPlain(client, *server);
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(!client.Login(QStringLiteral("user"), password));
    const QString err = client.LastErrorText();
    QVERIFY2(err.startsWith(QStringLiteral("LOGIN failed: NO [AUTHENTICATIONFAILED] Authentication failed for ")),
             qPrintable(err));
    QVERIFY(!err.contains(password));
    QVERIFY(client.isConnected());  // a refused login leaves the connection usable
    server->handlers.remove("LOGIN");
    QVERIFY(client.Login(QStringLiteral("user"), password));
}

void TestImapClient::listDecodesNamesAndKeepsFlags()
{
    server->listLines = {
        "* LIST (\\HasNoChildren) \"/\" INBOX",  "* LIST (\\Drafts \\HasNoChildren) \"/\" \"Entw&APw-rfe\"",
        "* LIST () \"/\" {11}\r\nSent \"Mail\"", "* LIST (\\Noselect \\HasChildren) \"/\" Archive",
        "* LIST () \"/\" Archive/2015",          "* LIST (\\Noselect) NIL \"\""};
    ImapClient client;
    connectPlain(client, *server);
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    const auto list = client.ListMailboxes(QString(), QStringLiteral("*"));
    QVERIFY(list);
    QCOMPARE(server->last("LIST"), QByteArray("LIST \"\" \"*\""));
    QCOMPARE(list->Count(), 6);
    QCOMPARE(list->GetName(1), QStringLiteral("Entwürfe"));
    QCOMPARE(list->GetName(2), QStringLiteral("Sent \"Mail\""));
    QCOMPARE(list->GetName(4), QStringLiteral("Archive/2015"));
    QCOMPARE(list->GetName(5), QString());
    QVERIFY(list->HasFlag(1, QStringLiteral("\\Drafts")));
    QVERIFY(list->HasFlag(3, QStringLiteral("\\noselect")));
    QVERIFY(!list->HasFlag(0, QStringLiteral("\\Drafts")));
    QCOMPARE(list->GetName(99), QString());

    server->handlers["LIST"] = [&](const QByteArray &tag, const QByteArray &) { server->send(tag + " NO no\r\n"); };
    QVERIFY(!client.ListMailboxes(QString(), QStringLiteral("*")));
    QVERIFY(client.LastErrorText().startsWith(QStringLiteral("LIST failed: NO")));
}

void TestImapClient::selectNamesAndCounts()
{
    ImapClient client;
    connectPlain(client, *server);
    QCOMPARE(client.NumMessages(), 0);
    QVERIFY(!client.SelectMailbox(QStringLiteral("Inbox")));  // not connected
    QVERIFY(client.LastErrorText().contains(QStringLiteral("not connected")));
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.SelectMailbox(QStringLiteral("Inbox")));
    QCOMPARE(server->last("SELECT"), QByteArray("SELECT \"INBOX\""));
    QCOMPARE(client.NumMessages(), 3);
    QCOMPARE(client.selectedMailbox(), QStringLiteral("Inbox"));
    // Nothing sent since the select: its answer still stands, for that mailbox only.
    QCOMPARE(client.untouchedSelection(QStringLiteral("Inbox")).value().exists, qint64(3));
    QVERIFY(!client.untouchedSelection(QStringLiteral("Sent")));

    QVERIFY(client.SelectMailbox(QStringLiteral("Gelöschte Elemente")));
    QCOMPARE(server->last("SELECT"), QByteArray("SELECT \"Gel&APY-schte Elemente\""));

    // New mail announced during a later command raises the count.
    server->handlers["NOOP"] = [&](const QByteArray &tag, const QByteArray &) {
        server->send("* 5 EXISTS\r\n* 1 EXPUNGE\r\n" + tag + " OK NOOP completed.\r\n");
    };
    QVERIFY(client.untouchedSelection(QStringLiteral("Gelöschte Elemente")));
    QVERIFY(!client.SendRawCommand(QStringLiteral("NOOP"))->isEmpty());
    QCOMPARE(client.NumMessages(), 4);
    QVERIFY(!client.untouchedSelection(QStringLiteral("Gelöschte Elemente")));  // a command went since

    server->handlers["SELECT"] = [&](const QByteArray &tag, const QByteArray &) {
        server->send(tag + " NO Mailbox doesn't exist: Deleted\r\n");
    };
    QVERIFY(!client.SelectMailbox(QStringLiteral("Deleted")));
    QCOMPARE(client.LastErrorText(), QStringLiteral("SELECT Deleted failed: NO Mailbox doesn't exist: Deleted"));
    QCOMPARE(client.NumMessages(), 0);
    QVERIFY(!client.FetchSingle(1, false));
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 1 failed: no mailbox is selected"));
    QCOMPARE(failureName(client.lastFailure()), "NotSelected");
}

void TestImapClient::fetchByNumberAndByUid()
{
    ImapClient client;
    connectPlain(client, *server);
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));

    auto m = client.FetchSingle(2, false);
    QVERIFY(m);
    QCOMPARE(server->last("FETCH"), QByteArray("FETCH 2 (UID BODY.PEEK[])"));
    QCOMPARE(m->Subject, QStringLiteral("two"));
    QVERIFY(m->PlainTextBody.contains(QStringLiteral("Body line 2 of two")));
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 2: OK"));

    // Unsolicited FETCH data for another message does not get mixed in.
    server->handlers["FETCH"] = [&](const QByteArray &tag, const QByteArray &) {
        server->send("* 1 FETCH (FLAGS (\\Seen))\r\n" + server->fetchResponse(1) + server->fetchResponse(3) + tag
                     + " OK done\r\n");
    };
    m = client.FetchSingle(3, false);
    QVERIFY(m);
    QCOMPARE(m->Subject, QStringLiteral("three"));
    server->handlers.remove("FETCH");

    m = client.FetchSingle(1, true);
    QVERIFY(m);
    QCOMPARE(server->last("UID FETCH"), QByteArray("UID FETCH 1 (BODY.PEEK[])"));
    QCOMPARE(m->Subject, QStringLiteral("one"));

    // Beyond the end, and a server that answers OK with nothing.
    QVERIFY(!client.FetchSingle(4, false));
    QVERIFY(client.LastErrorText().startsWith(QStringLiteral("FETCH 4 failed: BAD")));
    QVERIFY(!client.FetchSingle(0, false));
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 0 failed: message numbers start at 1"));
    QCOMPARE(failureName(client.lastFailure()), "BadRequest");
    server->handlers["FETCH"] = [&](const QByteArray &tag, const QByteArray &) { server->send(tag + " OK done\r\n"); };
    QVERIFY(!client.FetchSingle(1, false));
    QVERIFY(client.LastErrorText().startsWith(QStringLiteral("FETCH 1 failed: ")));
    // None of that broke the connection.
    server->handlers.remove("FETCH");
    QVERIFY(client.FetchSingle(1, false));
}

void TestImapClient::fetchReportsProgressInOrder()
{
    server->messages = {message("big", 4000)};
    server->literalPieces = 8;
    server->pieceDelayMs = 30;
    ImapClient client;
    connectPlain(client, *server);
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QList<int> seen;
    connect(
        &client, &ImapClient::PercentDone, this, [&](int p) { seen << p; }, Qt::DirectConnection);
    const auto m = client.FetchSingle(1, false);
    QVERIFY(m);
    QVERIFY2(seen.size() >= 3, qPrintable(QString::number(seen.size())));
    QCOMPARE(seen.last(), 100);
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY(seen[i] > seen[i - 1]);  // changes only, upwards
    QVERIFY(seen.first() >= 0);

    // Commands without a message report nothing.
    seen.clear();
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QVERIFY(seen.isEmpty());
}

void TestImapClient::rawCommandRefusesLineBreaks()
{
    ImapClient client;
    connectPlain(client, *server);
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    const vc::ImapResult<QString> refused = client.SendRawCommand(QStringLiteral("ID NIL\r\nV1 LOGOUT"));
    QVERIFY(!refused);
    QVERIFY(refused.fault().reason.contains(QStringLiteral("one line")));
    QCOMPARE(failureName(refused.fault().kind), "BadRequest");
    QCOMPARE(server->count("LOGOUT"), 0);
    const QString reply = client.SendRawCommand(QStringLiteral("ID (\"GUID\" \"1\")")).value();
    QVERIFY(reply.startsWith(QStringLiteral("* ID (\"name\" \"Fake\")\r\n")));
    QVERIFY(reply.endsWith(QStringLiteral(" OK ID completed.")));
    QCOMPARE(reply.count(QStringLiteral("\r\n")), 1);
}

void TestImapClient::abortProcessAbandonsFetch()
{
    server->handlers["FETCH"] = [](const QByteArray &, const QByteArray &) {};  // stalls
    vc::test::ScriptedDialogs dialogs;
    ImapClient client;
    client.setTimeoutMs(10000);
    clsChilkatIMAP conn;
    conn.setChilkatIMAPObject(&client);
    conn.setPORT(server->port());
    conn.setIMAPServer(QStringLiteral("127.0.0.1"));
    conn.setCurrentLocation(1);
    conn.setMaxRecord(1);
    // Stop is clicked while the walk waits for message 1.
    QTimer::singleShot(200, this, [&] { conn.AbortProcess = true; });
    QElapsedTimer t;
    t.start();
    const vc::WalkOutcome out = conn.StartMailExtraction(QStringLiteral("INBOX"));
    QVERIFY(t.elapsed() < 2000);
    QCOMPARE(out.end, vc::WalkOutcome::End::Stopped);
    QCOMPARE(out.stats.read, qint64(0));
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 1 failed: aborted"));
    QCOMPARE(failureName(client.lastFailure()), "Aborted");
    QVERIFY(!client.isConnected());
    QVERIFY(dialogs.boxes.isEmpty());
    // Outside an operation of the object its stop does not reach the component.
    int answer = 0;
    Q_EMIT client.AbortCheck(answer);
    QCOMPARE(answer, 0);

    // A fresh connection object starts without the stop.
    server->handlers.remove("FETCH");
    clsChilkatIMAP next;
    next.setChilkatIMAPObject(&client);
    next.setPORT(server->port());
    next.setIMAPServer(QStringLiteral("127.0.0.1"));
    QVERIFY(next.Connect());
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QVERIFY(client.FetchSingle(1, false));
}

void TestImapClient::callsDuringAWaitAreRefusedAndDisconnectEndsIt()
{
    server->handlers["FETCH"] = [](const QByteArray &, const QByteArray &) {};  // stalls
    ImapClient client;
    client.setTimeoutMs(10000);
    connectPlain(client, *server);
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));

    int checks = 0;
    bool selectAnswer = true;
    QString selectError;
    vc::ImapFailure selectFailure = vc::ImapFailure::None;
    bool connectAnswer = true;
    QString disconnectError;
    connect(
        &client, &ImapClient::AbortCheck, this,
        [&](int &) {
            ++checks;
            if (checks == 2) {
                QVERIFY(client.isBusy());
                const vc::ImapResult<vc::MailboxStatus> selected = client.SelectMailbox(QStringLiteral("Sent"));
                selectAnswer = selected.ok();
                selectError = client.LastErrorText();
                selectFailure = selected.fault().kind;
                connectAnswer = client.Connect(QStringLiteral("127.0.0.1")).ok();
            } else if (checks == 3) {
                QVERIFY(client.Disconnect());
                disconnectError = client.LastErrorText();
            }
        },
        Qt::DirectConnection);
    QElapsedTimer t;
    t.start();
    QVERIFY(!client.FetchSingle(1, false));
    QVERIFY(t.elapsed() < 2000);
    QCOMPARE(checks, 3);
    QVERIFY(!selectAnswer);
    QCOMPARE(selectError, QStringLiteral("SELECT Sent failed: another operation is in progress"));
    QCOMPARE(failureName(selectFailure), "Busy");
    QCOMPARE(disconnectError, QStringLiteral("Disconnect: the connection was closed while an operation waited"));
    QCOMPARE(connectAnswer, 0);
    QCOMPARE(server->count("SELECT"), 1);
    QCOMPARE(server->connections, 1);
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 1 failed: the connection was closed by Disconnect"));
    QCOMPARE(failureName(client.lastFailure()), "Disconnected");
    QVERIFY(!client.isConnected());
    QVERIFY(!client.isBusy());

    server->handlers.remove("FETCH");
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QVERIFY(client.FetchSingle(3, false));
}

void TestImapClient::destroyedWhileWaiting()
{
    server->handlers["FETCH"] = [](const QByteArray &, const QByteArray &) {};  // stalls
    QPointer<ImapClient> client = new ImapClient;
    client->setTimeoutMs(10000);
    connectPlain(*client, *server);
    QVERIFY(client->Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client->SelectMailbox(QStringLiteral("INBOX")));
    connect(
        client, &ImapClient::AbortCheck, this, [&](int &) { client->deleteLater(); }, Qt::DirectConnection);
    QElapsedTimer t;
    t.start();
    QVERIFY(!client->FetchSingle(1, false));
    QVERIFY(client.isNull());
    QVERIFY(t.elapsed() < 2000);

    // Deleted outright from a progress report, while its socket is being read.
    server->handlers.remove("FETCH");
    server->messages = {message("big", 3000)};
    server->literalPieces = 4;
    server->pieceDelayMs = 30;
    client = new ImapClient;
    connectPlain(*client, *server);
    QVERIFY(client->Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client->SelectMailbox(QStringLiteral("INBOX")));
    int reports = 0;
    connect(
        client, &ImapClient::PercentDone, this,
        [&](int) {
            ++reports;
            delete client.data();
        },
        Qt::DirectConnection);
    QVERIFY(!client->FetchSingle(1, false));
    QVERIFY(client.isNull());
    QCOMPARE(reports, 1);
    QTest::qWait(200);  // the orphaned socket goes away without trouble
}

// The component's abort check and progress reach the connection object whose
// operation runs, and no other: an older object that asks to stop stops
// nothing of a newer one's, and nothing is heard outside an operation.
void TestImapClient::eventsReachOnlyTheObjectAtWork()
{
    server->messages = {message("big", 3000), message("second", 3000)};
    server->literalPieces = 4;
    server->pieceDelayMs = 30;
    vc::test::ScriptedDialogs dialogs;
    ImapClient client;
    client.setReadAheadWindow(0);
    auto first = std::make_unique<clsChilkatIMAP>();
    clsChilkatIMAP second;
    for (clsChilkatIMAP *c : {first.get(), &second}) {
        c->setChilkatIMAPObject(&client);
        c->setSSL(false);
        c->setPORT(server->port());
        c->setIMAPServer(QStringLiteral("127.0.0.1"));
    }
    struct Progress : vc::WalkObserver {
        QList<int> percents;
        QStringList texts;
        void progress(const vc::RunProgress &p) override
        {
            percents << p.percent;
            texts << p.text;
        }
    } seen;
    QVERIFY(first->Connect());
    first->AbortProcess = true;  // must not reach the component any more
    second.setCurrentLocation(1);
    second.setMaxRecord(2);
    const vc::WalkOutcome walked = second.StartMailExtraction(QStringLiteral("INBOX"), &seen);
    QCOMPARE(walked.end, vc::WalkOutcome::End::Completed);
    QCOMPARE(walked.stats.read, qint64(2));
    QVERIFY(seen.percents.size() >= 4);
    QCOMPARE(seen.percents.last(), 100);
    QCOMPARE(seen.texts.first(), QStringLiteral("Reading mail 1 of 2"));
    QCOMPARE(seen.texts.last(), QStringLiteral("Reading mail 2 of 2"));

    // Outside the objects' operations the component's events reach neither.
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    seen.percents.clear();
    QVERIFY(client.FetchSingle(1, false));
    QVERIFY(seen.percents.isEmpty());

    // Dropping the older object changes nothing for the newer one.
    first.reset();
    second.setCurrentLocation(1);
    const vc::WalkOutcome again = second.StartMailExtraction(QStringLiteral("INBOX"), &seen);
    QCOMPARE(again.stats.read, qint64(2));
}

QTEST_GUILESS_MAIN(TestImapClient)
#include "test_imap_client.moc"
