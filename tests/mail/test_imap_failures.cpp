// How the IMAP client fails, against scripted dialogues and real sockets: the
// error text, the kind and the server's words of each failure, and what the
// connection object makes of a failed connect.
#include "FakeImapServer.h"
#include "MailTestSupport.h"
#include "ScriptedDialogs.h"
#include "core/AppError.h"
#include "extract/FailureMessage.h"
#include "extract/clsChilkatIMAP.h"
#include "mail/ImapClient.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

using vc::clsChilkatIMAP;
using vc::failureName;
using vc::ImapClient;
using vc::test::connectPlain;
using vc::test::kInvalidLogin;
using vc::test::message;

namespace {

// Parts of scripted dialogues: the greeting, and the steps up to a selected INBOX.
const QByteArray kGreeting = "S: * OK [CAPABILITY IMAP4rev1 ID] ready\n";
const QByteArray kLoggedIn = kGreeting + "C: V0001 LOGIN \"u\" \"secret-pw\"\nS: V0001 OK done\n";
const QByteArray kSelected = kLoggedIn + "C: V0002 SELECT \"INBOX\"\nS: * 1 EXISTS\nS: V0002 OK done\n";

// Connects, then logs in, selects INBOX and fetches message 1, up to `steps` of
// these or the first that fails: the fault of that one, or nothing.
enum Step { ToConnect = 1, ToLogin, ToSelect, ToFetch };
template <class T>
std::optional<vc::ImapFault> faultOf(const vc::ImapResult<T> &r)
{
    return r ? std::nullopt : std::optional<vc::ImapFault>(r.fault());
}
std::optional<vc::ImapFault> runSteps(ImapClient &client, int steps)
{
    std::optional<vc::ImapFault> fault = faultOf(client.Connect(QStringLiteral("127.0.0.1")));
    if (!fault && steps >= ToLogin)
        fault = faultOf(client.Login(QStringLiteral("u"), QStringLiteral("secret-pw")));
    if (!fault && steps >= ToSelect)
        fault = faultOf(client.SelectMailbox(QStringLiteral("INBOX")));
    if (!fault && steps >= ToFetch)
        fault = faultOf(client.FetchSingle(1, false));
    return fault;
}

}  // namespace

class TestImapFailures : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void failureKinds_data();
    void failureKinds();
    void unreachableServers();
    void refusedGreetingAndClosedPort();
    void idCommand_data();
    void idCommand();
    void droppedMidLiteralThenReconnect();
    void stalledServerTimesOut();
    void oversizedMessageFailsAndReconnects();
    void garbageFailsWithoutCrash();

private:
    std::unique_ptr<FakeImapServer> server;
};

void TestImapFailures::init()
{
    server = std::make_unique<FakeImapServer>();
    server->messages = {message("one"), message("two"), message("three")};
}

void TestImapFailures::failureKinds_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("error");  // %1: the server's port
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QString>("said");  // the server's own words, as the fault carries them
    QTest::newRow("all well") << kSelected
                                     + "C: V0003 FETCH 1 (UID BODY.PEEK[])\nS: * 1 FETCH (BODY[] {{one}})\n"
                                       "S: V0003 OK done"
                              << int(ToFetch) << "FETCH 1: OK" << QByteArray("None") << QString();
    QTest::newRow("greeting BYE") << QByteArray("S: * BYE Too many connections") << int(ToConnect)
                                  << "Connect to 127.0.0.1:%1 failed: the server refused the connection: BYE Too many "
                                     "connections"
                                  << QByteArray("Refusal") << QStringLiteral("Too many connections");
    QTest::newRow("greeting not IMAP")
        << QByteArray("S: HTTP/1.1 400 Bad Request") << int(ToConnect)
        << "Connect to 127.0.0.1:%1 failed: the server's greeting is not IMAP: HTTP/1.1 400 Bad Request"
        << QByteArray("Protocol") << QString();
    QTest::newRow("login refused, password echoed")
        << kGreeting + "C: V0001 LOGIN \"u\" \"secret-pw\"\nS: V0001 NO [AUTHENTICATIONFAILED] Bad secret-pw"
        << int(ToLogin) << "LOGIN failed: NO [AUTHENTICATIONFAILED] Bad ********" << QByteArray("Refusal")
        << QStringLiteral("[AUTHENTICATIONFAILED] Bad ********");
    QTest::newRow("select BAD") << kLoggedIn + "C: V0002 SELECT \"INBOX\"\nS: V0002 BAD No such folder" << int(ToSelect)
                                << "SELECT INBOX failed: BAD No such folder" << QByteArray("Refusal")
                                << QStringLiteral("No such folder");
    QTest::newRow("BYE, then closed")
        << kLoggedIn + "C: V0002 SELECT \"INBOX\"\nS: * BYE Server shutting down\nDROP" << int(ToSelect)
        << "SELECT INBOX failed: the connection was closed by the server (BYE Server shutting down)"
        << QByteArray("ClosedByServer") << QStringLiteral("Server shutting down");
    QTest::newRow("a go-ahead nobody asked for")
        << kLoggedIn + "C: V0002 SELECT \"INBOX\"\nS: + more?" << int(ToSelect)
        << "SELECT INBOX failed: the server asked for data the command does not have" << QByteArray("Protocol")
        << QString();
    QTest::newRow("silence") << kLoggedIn + "C: V0002 SELECT \"INBOX\"" << int(ToSelect)
                             << "SELECT INBOX failed: timed out after 1 s without an answer from the server"
                             << QByteArray("TimedOut") << QString();
    QTest::newRow("message over the limit")
        << kSelected + "C: V0003 FETCH 1 (UID BODY.PEEK[])\nS: * 1 FETCH (BODY[] {5000}" << int(ToFetch)
        << "FETCH 1 failed: the server announced 5000 bytes of data, more than the limit of 2000 bytes"
        << QByteArray("TooLarge") << QString();
    QTest::newRow("line longer than any line")
        << kSelected + "C: V0003 FETCH 1 (UID BODY.PEEK[])\nP: * 1 FETCH (FLAGS ("
               + QByteArray(vc::ImapParser::kMaxLineLength + 10, 'y')
        << int(ToFetch) << "FETCH 1 failed: the server sent a line longer than 8388608 bytes" << QByteArray("Protocol")
        << QString();
    QTest::newRow("fetch answered without the message")
        << kSelected + "C: V0003 FETCH 1 (UID BODY.PEEK[])\nS: * 1 FETCH (FLAGS ())\nS: V0003 OK done" << int(ToFetch)
        << "FETCH 1 failed: the server sent no message (it may have been removed)" << QByteArray("NoMessage")
        << QString();
    QTest::newRow("fetch without content")
        << kSelected + "C: V0003 FETCH 1 (UID BODY.PEEK[])\nS: * 1 FETCH (BODY[] NIL)\nS: V0003 OK done" << int(ToFetch)
        << "FETCH 1 failed: the server has no content for this message" << QByteArray("NoMessage") << QString();
}

// Each way an operation can fail has its own kind beside the error text.
void TestImapFailures::failureKinds()
{
    QFETCH(QByteArray, script);
    QFETCH(int, steps);
    QFETCH(QString, error);
    QFETCH(QByteArray, kind);
    QFETCH(QString, said);
    server->scripts = {script};
    server->literals["one"] = message("one");
    ImapClient client;
    client.setTimeoutMs(300);
    client.setMaxMessageBytes(2000);
    connectPlain(client, *server);
    const std::optional<vc::ImapFault> fault = runSteps(client, steps);
    const QString text = error.contains(QLatin1String("%1")) ? error.arg(server->port()) : error;
    QCOMPARE(client.LastErrorText(), text);
    QCOMPARE(failureName(client.lastFailure()), kind.constData());
    QCOMPARE(fault.has_value(), kind != "None");
    if (fault) {
        QCOMPARE(fault->reason, text);
        QCOMPARE(failureName(fault->kind), kind.constData());
        QCOMPARE(fault->serverText, said);
    }
    QCOMPARE(server->scriptError(), QString());
}

void TestImapFailures::unreachableServers()
{
    ImapClient client;
    client.setSsl(false);
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        closedPort = probe.serverPort();
    }
    client.setPort(closedPort);
    QVERIFY(!client.Connect(QStringLiteral("127.0.0.1")));
    QCOMPARE(failureName(client.lastFailure()), "Refused");
    QVERIFY(client.LastErrorText().startsWith(QStringLiteral("Connect to 127.0.0.1:%1 failed: ").arg(closedPort)));

    // A name that cannot resolve (".invalid" never does).
    client.setPort(993);
    QVERIFY(!client.Connect(QStringLiteral("no-such-host.invalid")));
    QCOMPARE(failureName(client.lastFailure()), "HostNotFound");
    QVERIFY2(client.LastErrorText().startsWith(QStringLiteral("Connect to no-such-host.invalid:993 failed: ")),
             qPrintable(client.LastErrorText()));
    QVERIFY(!client.isConnected());

    // Calls that cannot go out at all.
    QVERIFY(!client.SelectMailbox(QStringLiteral("INBOX")));
    QCOMPARE(failureName(client.lastFailure()), "NotConnected");
    QVERIFY(!client.Disconnect());
    QCOMPARE(failureName(client.lastFailure()), "NotConnected");
    client.setSsl(true);
    client.setCaFile(QStringLiteral("/no/such/ca.pem"));
    QVERIFY(!client.Connect(QStringLiteral("127.0.0.1")));
    QCOMPARE(client.LastErrorText(),
             QStringLiteral("Connect to 127.0.0.1:993 failed: no certificate could be read from the CA file "
                            "/no/such/ca.pem"));
    QCOMPARE(failureName(client.lastFailure()), "Local");
}

void TestImapFailures::refusedGreetingAndClosedPort()
{
    vc::test::ScriptedDialogs dialogs;
    ImapClient client;
    connectPlain(client, *server);
    server->greeting = "* BYE Too many connections\r\n";
    QVERIFY(!client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY2(client.LastErrorText().contains(QStringLiteral("Too many connections")),
             qPrintable(client.LastErrorText()));
    QCOMPARE(failureName(client.lastFailure()), "Refusal");
    QVERIFY(!client.isConnected());

    // A port nobody listens on: through the connection object, a failure that
    // names it, and no box (showing it is for the program's window or terminal).
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        closedPort = probe.serverPort();
    }
    clsChilkatIMAP conn;
    conn.setChilkatIMAPObject(&client);
    conn.setPORT(closedPort);
    conn.setIMAPServer(QStringLiteral("127.0.0.1"));
    const vc::StepResult<void> connected = conn.Connect();
    QVERIFY(!connected);
    QCOMPARE(connected.fault().stage, vc::RunStage::Connect);
    QCOMPARE(failureName(connected.fault().fault.kind), "Refused");
    QVERIFY2(vc::failureText(connected.fault())
                 .startsWith(QStringLiteral("127.0.0.1 refused the connection on port %1.").arg(closedPort)),
             qPrintable(vc::failureText(connected.fault())));
    QCOMPARE(conn.GetLastError()->fault.reason, client.LastErrorText());
    QVERIFY(dialogs.boxes.isEmpty());

    // Without a component the connection object raises "Object variable ... not set".
    clsChilkatIMAP orphan;
    try {
        orphan.Connect();
        QFAIL("Connect without a component did not raise");
    } catch (const vc::AppError &e) {
        QCOMPARE(e.number(), vc::err::ObjectNotSet);
    }
}

// The ID command goes only to a server that offers it, and the LOGIN follows
// it without waiting for its answer (each row's server reads both before it
// answers). A NO or BAD to it does not keep the account from signing in; a
// connection that goes under the two ends the connect.
void TestImapFailures::idCommand_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("failure");  // the start of the failure's text; empty: signed in
    const QByteArray withoutId = "S: * OK [CAPABILITY IMAP4rev1] ready\n";
    const QByteArray id = "C: V0001 ID (\"GUID\" \"1\")\nC: V0002 LOGIN \"u\" \"p\"\n";
    const QByteArray loggedIn = "S: V0002 OK done\n";
    QTest::newRow("offered and answered")
        << kGreeting + id + "S: * ID NIL\nS: V0001 OK ID completed\n" + loggedIn << QString();
    QTest::newRow("offered, answered BAD") << kGreeting + id + "S: V0001 BAD Unknown command ID\n" + loggedIn
                                           << QString();
    QTest::newRow("offered, answered NO") << kGreeting + id + "S: V0001 NO Not now\n" + loggedIn << QString();
    QTest::newRow("offered, answered after the login") << kGreeting + id + loggedIn + "S: V0001 OK late\n"
                                                       << QString();
    QTest::newRow("not offered: not sent") << withoutId + "C: V0001 LOGIN \"u\" \"p\"\nS: V0001 OK done\n" << QString();
    QTest::newRow("connection closed under it")
        << kGreeting + id + "DROP" << QStringLiteral("127.0.0.1:%1 closed the connection (LOGIN failed: ");
    QTest::newRow("silence") << kGreeting + id << QStringLiteral("127.0.0.1:%1 stopped answering (LOGIN failed: ");
}

void TestImapFailures::idCommand()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, failure);
    server->scripts = {script};
    vc::test::ScriptedDialogs dialogs;
    ImapClient client;
    client.setTimeoutMs(800);
    clsChilkatIMAP conn;
    conn.setChilkatIMAPObject(&client);
    conn.setPORT(server->port());
    conn.setIMAPServer(QStringLiteral("127.0.0.1"));
    conn.setUsername(QStringLiteral("u"));
    conn.setPassword(QStringLiteral("p"));
    const vc::StepResult<void> connected = conn.Connect();
    QCOMPARE(connected.ok(), failure.isEmpty());
    if (!connected) {
        QCOMPARE(connected.fault().stage, vc::RunStage::Connect);
        const QString text = vc::failureText(connected.fault());
        QVERIFY2(text.startsWith(failure.arg(server->port())), qPrintable(text));
    }
    QVERIFY(dialogs.boxes.isEmpty());
    // The script was played to its end and nothing else came (no LOGIN after a
    // failed connect).
    QCOMPARE(server->scriptError(), QString());
}

void TestImapFailures::droppedMidLiteralThenReconnect()
{
    server->handlers["FETCH"] = [&](const QByteArray &, const QByteArray &) {
        const QByteArray r = server->fetchResponse(1);
        server->send(r.left(r.size() / 2));
        QTimer::singleShot(50, server.get(), [&] { server->drop(); });
    };
    ImapClient client;
    client.setTimeoutMs(5000);
    connectPlain(client, *server);
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QElapsedTimer t;
    t.start();
    QVERIFY(!client.FetchSingle(1, false));
    QVERIFY(t.elapsed() < 4000);  // noticed at once, not by the time-out
    QVERIFY2(client.LastErrorText().contains(QStringLiteral("closed")), qPrintable(client.LastErrorText()));
    QCOMPARE(failureName(client.lastFailure()), "ClosedByServer");
    QVERIFY(!client.isConnected());
    QCOMPARE(client.NumMessages(), 0);
    QVERIFY(!client.FetchSingle(1, false));
    QVERIFY(client.LastErrorText().contains(QStringLiteral("not connected")));

    server->handlers.remove("FETCH");
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    const auto m = client.FetchSingle(1, false);
    QVERIFY(m);
    QCOMPARE(m->Subject, QStringLiteral("one"));
}

void TestImapFailures::stalledServerTimesOut()
{
    server->handlers["FETCH"] = [](const QByteArray &, const QByteArray &) {};
    ImapClient client;
    client.setTimeoutMs(1000);
    connectPlain(client, *server);
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QElapsedTimer t;
    t.start();
    QVERIFY(!client.FetchSingle(1, false));
    QVERIFY(t.elapsed() >= 1000);
    QVERIFY(t.elapsed() < 5000);
    QCOMPARE(client.LastErrorText(),
             QStringLiteral("FETCH 1 failed: timed out after 1 s without an answer from the server"));
    QCOMPARE(failureName(client.lastFailure()), "TimedOut");
    QVERIFY(!client.isConnected());

    // A greeting that never comes times out as well.
    server->greeting.clear();
    t.restart();
    QVERIFY(!client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(t.elapsed() < 5000);
    QVERIFY(client.LastErrorText().contains(QStringLiteral("timed out after 1 s")));
}

void TestImapFailures::oversizedMessageFailsAndReconnects()
{
    server->messages = {message("small"), message("huge", 200)};
    ImapClient client;
    client.setMaxMessageBytes(2000);
    QCOMPARE(client.maxMessageBytes(), 2000);
    connectPlain(client, *server);
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QVERIFY(client.FetchSingle(1, false));
    QVERIFY(!client.FetchSingle(2, false));
    QVERIFY2(client.LastErrorText().contains(QStringLiteral("limit of 2000 bytes")),
             qPrintable(client.LastErrorText()));
    QCOMPARE(failureName(client.lastFailure()), "TooLarge");
    QVERIFY(!client.isConnected());
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QVERIFY(client.FetchSingle(1, false));
}

void TestImapFailures::garbageFailsWithoutCrash()
{
    server->scripts = {R"(P: \x00\xff\xfe garbage (((\r\n)",
                       R"(
            S: * OK hi
            C: V0001 CAPABILITY
            S: * CAPABILITY IMAP4rev1
            S: V0001 OK done
            C: V0002 SELECT "INBOX"
            S: )))((("
            S: * 99999999999999999999 EXISTS
            S: + more?
        )"};
    ImapClient client;
    client.setTimeoutMs(1000);
    connectPlain(client, *server);
    QVERIFY(!client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.LastErrorText().contains(QStringLiteral("not IMAP")));
    QCOMPARE(failureName(client.lastFailure()), "Protocol");

    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(!client.SelectMailbox(QStringLiteral("INBOX")));
    QCOMPARE(client.LastErrorText(), QStringLiteral("SELECT INBOX failed: the server reported 99999999999999999999 "
                                                    "messages in the mailbox, more than a mailbox can hold"));
    QVERIFY(!client.isConnected());  // the count no mailbox can hold broke the stream
    QCOMPARE(server->scriptError(), QString());
}

QTEST_GUILESS_MAIN(TestImapFailures)
#include "test_imap_failures.moc"
