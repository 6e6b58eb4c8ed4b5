// The IMAP client and the connection object against a fake server: the
// protocol's happy path, abort and re-entrancy.
#include "FakeImapServer.h"
#include "MailTestSupport.h"
#include "ScriptedDialogs.h"
#include "extract/clsChilkatIMAP.h"
#include "mail/ImapClient.h"

#include <QElapsedTimer>
#include <QSignalSpy>
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
    void onlyTheLastBoundObjectGetsEvents();

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
    QVERIFY(conn.Connect());
    QCOMPARE(conn.lastResult(), 1);
    QVERIFY(dialogs.boxes.isEmpty());
    QCOMPARE(client.port(), int(server->port()));
    QVERIFY(!client.ssl());
    QCOMPARE(server->commands,
             (QList<QByteArray>{"CAPABILITY", "ID (\"GUID\" \"1\")", "LOGIN \"ann@example.org\" \"pw-1234\""}));
    QVERIFY(client.capabilities().contains(QStringLiteral("ID")));

    // A second Connect runs the whole sequence again, on a new connection.
    QVERIFY(conn.Connect());
    QCOMPARE(server->connections, 2);
    QCOMPARE(server->count("ID"), 2);
    QCOMPARE(server->count("LOGIN"), 2);

    server->listLines = {"* LIST (\\HasNoChildren) \"/\" INBOX", "* LIST (\\Sent) \"/\" Sent"};
    const std::optional<QStringList> folders = conn.EnumMailFolders();
    QVERIFY(folders.has_value());
    QCOMPARE(*folders, (QStringList{QStringLiteral("INBOX"), QStringLiteral("Sent")}));

    server->listLines.clear();
    const std::optional<QStringList> none = conn.EnumMailFolders();
    QVERIFY(none.has_value());
    QVERIFY(none->isEmpty());
    QVERIFY(dialogs.boxes.isEmpty());

    QCOMPARE(client.Disconnect(), 1);
    QCOMPARE(client.LastErrorText(), QStringLiteral("LOGOUT: OK"));
    QCOMPARE(failureName(client.lastFailure()), "None");
    QVERIFY(!client.isConnected());
    QCOMPARE(server->count("LOGOUT"), 1);
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
    QCOMPARE(client.Connect(QStringLiteral("127.0.0.1")), 1);
    QCOMPARE(client.Login(QStringLiteral("user"), password), 1);
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
    QCOMPARE(client.Connect(QStringLiteral("127.0.0.1")), 1);
    QCOMPARE(client.Login(QStringLiteral("user"), password), 0);
    const QString err = client.LastErrorText();
    QVERIFY2(err.startsWith(QStringLiteral("LOGIN failed: NO [AUTHENTICATIONFAILED] Authentication failed for ")),
             qPrintable(err));
    QVERIFY(!err.contains(password));
    QVERIFY(client.isConnected());  // a refused login leaves the connection usable
    server->handlers.remove("LOGIN");
    QCOMPARE(client.Login(QStringLiteral("user"), password), 1);
}

void TestImapClient::listDecodesNamesAndKeepsFlags()
{
    server->listLines = {
        "* LIST (\\HasNoChildren) \"/\" INBOX",  "* LIST (\\Drafts \\HasNoChildren) \"/\" \"Entw&APw-rfe\"",
        "* LIST () \"/\" {11}\r\nSent \"Mail\"", "* LIST (\\Noselect \\HasChildren) \"/\" Archive",
        "* LIST () \"/\" Archive/2015",          "* LIST (\\Noselect) NIL \"\""};
    ImapClient client;
    connectPlain(client, *server);
    QCOMPARE(client.Connect(QStringLiteral("127.0.0.1")), 1);
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
    QCOMPARE(client.SelectMailbox(QStringLiteral("Inbox")), 0);  // not connected
    QVERIFY(client.LastErrorText().contains(QStringLiteral("not connected")));
    QCOMPARE(client.Connect(QStringLiteral("127.0.0.1")), 1);
    QCOMPARE(client.SelectMailbox(QStringLiteral("Inbox")), 1);
    QCOMPARE(server->last("SELECT"), QByteArray("SELECT \"INBOX\""));
    QCOMPARE(client.NumMessages(), 3);
    QCOMPARE(client.selectedMailbox(), QStringLiteral("Inbox"));

    QCOMPARE(client.SelectMailbox(QStringLiteral("Gelöschte Elemente")), 1);
    QCOMPARE(server->last("SELECT"), QByteArray("SELECT \"Gel&APY-schte Elemente\""));

    // New mail announced during a later command raises the count.
    server->handlers["NOOP"] = [&](const QByteArray &tag, const QByteArray &) {
        server->send("* 5 EXISTS\r\n* 1 EXPUNGE\r\n" + tag + " OK NOOP completed.\r\n");
    };
    QVERIFY(!client.SendRawCommand(QStringLiteral("NOOP")).isEmpty());
    QCOMPARE(client.NumMessages(), 4);

    server->handlers["SELECT"] = [&](const QByteArray &tag, const QByteArray &) {
        server->send(tag + " NO Mailbox doesn't exist: Deleted\r\n");
    };
    QCOMPARE(client.SelectMailbox(QStringLiteral("Deleted")), 0);
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
    QCOMPARE(client.Connect(QStringLiteral("127.0.0.1")), 1);
    QCOMPARE(client.SelectMailbox(QStringLiteral("INBOX")), 1);

    auto m = client.FetchSingle(2, false);
    QVERIFY(m);
    QCOMPARE(server->last("FETCH"), QByteArray("FETCH 2 (BODY.PEEK[])"));
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
    QCOMPARE(client.Connect(QStringLiteral("127.0.0.1")), 1);
    QCOMPARE(client.SelectMailbox(QStringLiteral("INBOX")), 1);
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
    QCOMPARE(client.SelectMailbox(QStringLiteral("INBOX")), 1);
    QVERIFY(seen.isEmpty());
}

void TestImapClient::rawCommandRefusesLineBreaks()
{
    ImapClient client;
    connectPlain(client, *server);
    QCOMPARE(client.Connect(QStringLiteral("127.0.0.1")), 1);
    QCOMPARE(client.SendRawCommand(QStringLiteral("ID NIL\r\nV1 LOGOUT")), QString());
    QVERIFY(client.LastErrorText().contains(QStringLiteral("one line")));
    QCOMPARE(failureName(client.lastFailure()), "BadRequest");
    QCOMPARE(server->count("LOGOUT"), 0);
    const QString reply = client.SendRawCommand(QStringLiteral("ID (\"GUID\" \"1\")"));
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
    QVERIFY(conn.Connect());
    QCOMPARE(client.SelectMailbox(QStringLiteral("INBOX")), 1);

    int answer = 1;
    Q_EMIT client.AbortCheck(answer);
    QCOMPARE(answer, 0);
    conn.AbortProcess = true;
    Q_EMIT client.AbortCheck(answer);
    QCOMPARE(answer, -1);

    QElapsedTimer t;
    t.start();
    QVERIFY(!client.FetchSingle(1, false));
    QVERIFY(t.elapsed() < 2000);
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 1 failed: aborted"));
    QCOMPARE(failureName(client.lastFailure()), "Aborted");
    QVERIFY(!client.isConnected());
    QVERIFY(dialogs.boxes.isEmpty());

    // A fresh connection object starts without the stop.
    server->handlers.remove("FETCH");
    clsChilkatIMAP next;
    next.setChilkatIMAPObject(&client);
    next.setPORT(server->port());
    next.setIMAPServer(QStringLiteral("127.0.0.1"));
    QVERIFY(next.Connect());
    QCOMPARE(client.SelectMailbox(QStringLiteral("INBOX")), 1);
    QVERIFY(client.FetchSingle(1, false));
}

void TestImapClient::callsDuringAWaitAreRefusedAndDisconnectEndsIt()
{
    server->handlers["FETCH"] = [](const QByteArray &, const QByteArray &) {};  // stalls
    ImapClient client;
    client.setTimeoutMs(10000);
    connectPlain(client, *server);
    QCOMPARE(client.Connect(QStringLiteral("127.0.0.1")), 1);
    QCOMPARE(client.SelectMailbox(QStringLiteral("INBOX")), 1);

    int checks = 0;
    int selectAnswer = -5;
    QString selectError;
    vc::ImapFailure selectFailure = vc::ImapFailure::None;
    int connectAnswer = -5;
    QString disconnectError;
    connect(
        &client, &ImapClient::AbortCheck, this,
        [&](int &) {
            ++checks;
            if (checks == 2) {
                QVERIFY(client.isBusy());
                selectAnswer = client.SelectMailbox(QStringLiteral("Sent"));
                selectError = client.LastErrorText();
                selectFailure = client.lastFailure();
                connectAnswer = client.Connect(QStringLiteral("127.0.0.1"));
            } else if (checks == 3) {
                QCOMPARE(client.Disconnect(), 1);
                disconnectError = client.LastErrorText();
            }
        },
        Qt::DirectConnection);
    QElapsedTimer t;
    t.start();
    QVERIFY(!client.FetchSingle(1, false));
    QVERIFY(t.elapsed() < 2000);
    QCOMPARE(checks, 3);
    QCOMPARE(selectAnswer, 0);
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
    QCOMPARE(client.Connect(QStringLiteral("127.0.0.1")), 1);
    QCOMPARE(client.SelectMailbox(QStringLiteral("INBOX")), 1);
    QVERIFY(client.FetchSingle(3, false));
}

void TestImapClient::destroyedWhileWaiting()
{
    server->handlers["FETCH"] = [](const QByteArray &, const QByteArray &) {};  // stalls
    QPointer<ImapClient> client = new ImapClient;
    client->setTimeoutMs(10000);
    connectPlain(*client, *server);
    QCOMPARE(client->Connect(QStringLiteral("127.0.0.1")), 1);
    QCOMPARE(client->SelectMailbox(QStringLiteral("INBOX")), 1);
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
    QCOMPARE(client->Connect(QStringLiteral("127.0.0.1")), 1);
    QCOMPARE(client->SelectMailbox(QStringLiteral("INBOX")), 1);
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

void TestImapClient::onlyTheLastBoundObjectGetsEvents()
{
    server->messages = {message("big", 3000)};
    server->literalPieces = 4;
    server->pieceDelayMs = 30;
    vc::test::ScriptedDialogs dialogs;
    ImapClient client;
    auto first = std::make_unique<clsChilkatIMAP>();
    clsChilkatIMAP second;
    for (clsChilkatIMAP *c : {first.get(), &second}) {
        c->setChilkatIMAPObject(&client);
        c->setPORT(server->port());
        c->setIMAPServer(QStringLiteral("127.0.0.1"));
    }
    QSignalSpy firstProgress(first.get(), &clsChilkatIMAP::ScrapProgress);
    QSignalSpy secondProgress(&second, &clsChilkatIMAP::ScrapProgress);
    QVERIFY(first->Connect());
    QVERIFY(second.Connect());
    first->AbortProcess = true;  // must not reach the component any more
    QCOMPARE(client.SelectMailbox(QStringLiteral("INBOX")), 1);
    QVERIFY(client.FetchSingle(1, false));
    QCOMPARE(firstProgress.count(), 0);
    QVERIFY(secondProgress.count() >= 2);
    QCOMPARE(secondProgress.last().at(0).toInt(), 100);

    // Binding again keeps one connection: events are not doubled.
    QVERIFY(second.Connect());
    QCOMPARE(client.SelectMailbox(QStringLiteral("INBOX")), 1);
    secondProgress.clear();
    QList<int> direct;
    connect(
        &client, &ImapClient::PercentDone, this, [&](int p) { direct << p; }, Qt::DirectConnection);
    QVERIFY(client.FetchSingle(1, false));
    QCOMPARE(secondProgress.count(), direct.size());

    // Dropping the older object changes nothing for the newer one.
    first.reset();
    secondProgress.clear();
    QVERIFY(client.FetchSingle(1, false));
    QVERIFY(secondProgress.count() >= 1);
}

QTEST_GUILESS_MAIN(TestImapClient)
#include "test_imap_client.moc"
