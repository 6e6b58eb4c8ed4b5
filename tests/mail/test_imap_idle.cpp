// Waiting for news of a mailbox against scripted servers: IDLE with changes
// arriving later, left on request, on its period and on abort; the faults that
// end it (a dropped line, a refusal, a server that never answers DONE); and
// NOOP polling for servers without IDLE.
#include "FakeImapServer.h"
#include "MailTestSupport.h"
#include "mail/ImapClient.h"

#include <QTimer>
#include <QtTest>

using vc::failureName;
using vc::ImapClient;
using vc::ImapFailure;
using vc::test::connectPlain;
using Change = vc::ImapClient::MailboxChange;
using WaitEnd = vc::ImapClient::WaitEnd;

namespace {

const QByteArray kIdleGreeting = "S: * OK [CAPABILITY IMAP4rev1 IDLE] ready\n";
const QByteArray kPlainGreeting = "S: * OK [CAPABILITY IMAP4rev1] ready\n";
const QByteArray kToSelected = "C: V0001 LOGIN \"u\" \"pw\"\nS: V0001 OK done\n"
                               "C: V0002 SELECT \"INBOX\"\nS: * 3 EXISTS\nS: V0002 OK done\n";

QString describe(const Change &c)
{
    const char *kind = c.kind == Change::Exists ? "EXISTS" : c.kind == Change::Expunge ? "EXPUNGE" : "RECENT";
    return QString::number(c.number) + QLatin1Char(' ') + QLatin1String(kind);
}

}  // namespace

class TestImapIdle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void changesArriveWhileIdling();
    void periodEndsOneIdleAndTheNextGoesOn();
    void abortLeavesCleanly();
    void stopBeforeTheGoAhead();
    void faultsEndTheIdle_data();
    void faultsEndTheIdle();
    void notOfferedOrNotSelected();
    void pollingWithoutIdle();
    void pollingEndsOnItsPeriod();
    void droppedWhilePolling();

private:
    // Connects, logs in and selects INBOX on the scripted server.
    bool toSelected();
    ImapClient::ChangeHandler recordAndStopAt(const QString &last);

    std::unique_ptr<FakeImapServer> server;
    std::unique_ptr<ImapClient> client;
    QStringList changes;
};

void TestImapIdle::init()
{
    server = std::make_unique<FakeImapServer>();
    client = std::make_unique<ImapClient>();
    connectPlain(*client, *server);
    changes.clear();
}

void TestImapIdle::cleanup()
{
    client.reset();
    server.reset();
}

bool TestImapIdle::toSelected()
{
    return client->Connect(QStringLiteral("127.0.0.1")).ok()
           && client->Login(QStringLiteral("u"), QStringLiteral("pw")).ok()
           && client->SelectMailbox(QStringLiteral("INBOX")).ok();
}

ImapClient::ChangeHandler TestImapIdle::recordAndStopAt(const QString &last)
{
    return [this, last](const Change &c) {
        changes << describe(c);
        if (describe(c) == last)
            client->stopWaiting();
    };
}

void TestImapIdle::changesArriveWhileIdling()
{
    server->scripts = {kIdleGreeting + kToSelected + R"(
        C: V0003 IDLE
        S: + idling
        # Silent for longer than the time-out: an idle server may say nothing for minutes.
        DELAY 900
        S: * OK Still here
        S: * 4 EXISTS
        S: * 1 RECENT
        DELAY 100
        S: * 2 EXPUNGE
        S: * 2 FETCH (FLAGS (\Seen))
        S: * 5 EXISTS
        C: DONE
        S: V0003 OK Idle completed
        C: V0004 NOOP
        S: V0004 OK done
    )"};
    client->setTimeoutMs(300);
    QVERIFY(toSelected());
    QVERIFY(client->canIdle());
    const auto ended = client->idle(recordAndStopAt(QStringLiteral("5 EXISTS")));
    QVERIFY2(ended, qPrintable(ended.fault().reason));
    QCOMPARE(*ended, WaitEnd::Stopped);
    QCOMPARE(changes, (QStringList{"4 EXISTS", "1 RECENT", "2 EXPUNGE", "5 EXISTS"}));
    QCOMPARE(client->NumMessages(), 5);
    QVERIFY(!client->isWaiting());
    // The connection is as good as before, silence time-out included.
    QVERIFY(client->noop());
    QCOMPARE(client->LastErrorText(), QStringLiteral("NOOP: OK"));
    QCOMPARE(server->scriptError(), QString());
}

void TestImapIdle::periodEndsOneIdleAndTheNextGoesOn()
{
    server->scripts = {kIdleGreeting + kToSelected + R"(
        C: V0003 IDLE
        S: + idling
        C: DONE
        S: V0003 OK Idle completed
        C: V0004 IDLE
        S: + idling
        DELAY 200
        S: * 4 EXISTS
        C: DONE
        S: V0004 OK Idle completed
    )"};
    client->setTimeoutMs(5000);
    QVERIFY(toSelected());
    auto ended = client->idle(recordAndStopAt(QString()), 300);
    QVERIFY2(ended, qPrintable(ended.fault().reason));
    QCOMPARE(*ended, WaitEnd::Period);
    QVERIFY(changes.isEmpty());
    ended = client->idle(recordAndStopAt(QStringLiteral("4 EXISTS")), 60000);
    QVERIFY2(ended, qPrintable(ended.fault().reason));
    QCOMPARE(*ended, WaitEnd::Stopped);
    QCOMPARE(changes, QStringList{"4 EXISTS"});
    QCOMPARE(server->scriptError(), QString());
}

void TestImapIdle::abortLeavesCleanly()
{
    server->scripts = {kIdleGreeting + kToSelected + R"(
        C: V0003 IDLE
        S: + idling
        C: DONE
        S: V0003 OK Idle completed
        C: V0004 NOOP
        S: V0004 OK done
    )"};
    bool abort = false;
    connect(
        client.get(), &ImapClient::AbortCheck, this, [&abort](int &answer) { answer = abort ? 1 : 0; },
        Qt::DirectConnection);
    QVERIFY(toSelected());
    QTimer::singleShot(200, this, [&abort] { abort = true; });
    const auto ended = client->idle({});
    QVERIFY2(ended, qPrintable(ended.fault().reason));
    QCOMPARE(*ended, WaitEnd::Aborted);
    QVERIFY(client->isConnected());
    abort = false;
    QVERIFY(client->noop());
    QCOMPARE(server->scriptError(), QString());
}

void TestImapIdle::stopBeforeTheGoAhead()
{
    // DONE may only follow the go-ahead, however early the stop comes.
    server->scripts = {kIdleGreeting + kToSelected + R"(
        C: V0003 IDLE
        DELAY 300
        S: + idling
        C: DONE
        S: V0003 OK Idle completed
    )"};
    QVERIFY(toSelected());
    QTimer::singleShot(50, this, [this] { client->stopWaiting(); });
    const auto ended = client->idle({});
    QVERIFY2(ended, qPrintable(ended.fault().reason));
    QCOMPARE(*ended, WaitEnd::Stopped);
    QCOMPARE(server->clientLines.mid(2), (QList<QByteArray>{"V0003 IDLE", "DONE"}));
    QCOMPARE(server->scriptError(), QString());
}

void TestImapIdle::faultsEndTheIdle_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("periodMs");
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("seen");

    QTest::newRow("dropped while idling")
        << QByteArray("C: V0003 IDLE\nS: + idling\nS: * 4 EXISTS\nDELAY 300\nDROP") << 60000
        << QByteArray("ClosedByServer") << "the connection was closed by the server"
        << "4 EXISTS";
    QTest::newRow("server says goodbye") << QByteArray(
        "C: V0003 IDLE\nS: + idling\nDELAY 200\nS: * BYE Server shutting down\nDROP")
                                         << 60000 << QByteArray("ClosedByServer")
                                         << "the connection was closed by the server (BYE Server shutting down)"
                                         << QString();
    QTest::newRow("idle refused") << QByteArray("C: V0003 IDLE\nS: V0003 NO Not now") << 60000 << QByteArray("Refusal")
                                  << "NO Not now" << QString();
    QTest::newRow("no go-ahead") << QByteArray("C: V0003 IDLE") << 60000 << QByteArray("TimedOut")
                                 << "timed out after 1 s without an answer from the server" << QString();
    QTest::newRow("DONE never answered") << QByteArray("C: V0003 IDLE\nS: + idling\nC: DONE") << 200
                                         << QByteArray("TimedOut")
                                         << "timed out after 1 s without an answer from the server" << QString();
    QTest::newRow("garbage while idling")
        << QByteArray("C: V0003 IDLE\nS: + idling\nS: * 99999999999 EXISTS") << 60000 << QByteArray("Protocol")
        << "the server reported 99999999999 messages in the mailbox, more than a "
           "mailbox can hold"
        << QString();
}

void TestImapIdle::faultsEndTheIdle()
{
    QFETCH(QByteArray, script);
    QFETCH(int, periodMs);
    QFETCH(QByteArray, kind);
    QFETCH(QString, reason);
    QFETCH(QString, seen);
    server->scripts = {kIdleGreeting + kToSelected + script};
    client->setTimeoutMs(600);
    QVERIFY(toSelected());
    const auto ended = client->idle(recordAndStopAt(QString()), periodMs);
    QVERIFY(!ended);
    QCOMPARE(QByteArray(failureName(ended.fault().kind)), kind);
    QCOMPARE(ended.fault().reason, reason);
    QCOMPARE(client->LastErrorText(), QStringLiteral("IDLE failed: ") + reason);
    QCOMPARE(changes, seen.isEmpty() ? QStringList() : QStringList{seen});
    QVERIFY(!client->isWaiting());
    QVERIFY(!client->isBusy());
    if (kind != "Refusal")
        QVERIFY(!client->isConnected());
}

void TestImapIdle::notOfferedOrNotSelected()
{
    server->scripts = {kPlainGreeting + kToSelected, kIdleGreeting + "C: V0003 LOGIN \"u\" \"pw\"\nS: V0003 OK done\n"};
    QVERIFY(toSelected());
    QVERIFY(!client->canIdle());
    auto ended = client->idle({});
    QVERIFY(!ended);
    QCOMPARE(ended.fault().kind, ImapFailure::BadRequest);
    QCOMPARE(ended.fault().reason, QStringLiteral("the server does not offer IDLE"));

    QVERIFY(client->Connect(QStringLiteral("127.0.0.1")).ok());
    QVERIFY(client->Login(QStringLiteral("u"), QStringLiteral("pw")).ok());
    ended = client->idle({});
    QCOMPARE(ended.fault().kind, ImapFailure::NotSelected);
    ended = client->poll({}, 100);
    QCOMPARE(ended.fault().kind, ImapFailure::NotSelected);
    QCOMPARE(server->scriptError(), QString());  // nothing was sent for any of them
}

void TestImapIdle::pollingWithoutIdle()
{
    server->scripts = {kPlainGreeting + kToSelected + R"(
        C: V0003 NOOP
        S: * 4 EXISTS
        S: V0003 OK done
        C: V0004 NOOP
        S: V0004 OK done
        # Between the NOOPs, unasked: still a change to hear of.
        S: * 5 EXISTS
        C: V0005 NOOP
        S: * 1 EXPUNGE
        S: V0005 OK done
    )"};
    // Waits between the NOOPs longer than the time-out: nobody was asked, so silence is no fault.
    client->setTimeoutMs(150);
    QVERIFY(toSelected());
    const auto ended = client->poll(recordAndStopAt(QStringLiteral("1 EXPUNGE")), 400);
    QVERIFY2(ended, qPrintable(ended.fault().reason));
    QCOMPARE(*ended, WaitEnd::Stopped);
    QCOMPARE(changes, (QStringList{"4 EXISTS", "5 EXISTS", "1 EXPUNGE"}));
    QCOMPARE(client->NumMessages(), 4);
    QCOMPARE(server->scriptError(), QString());
}

void TestImapIdle::pollingEndsOnItsPeriod()
{
    server->messages = {vc::test::message("one")};
    int noops = 0;
    server->handlers["NOOP"] = [&](const QByteArray &tag, const QByteArray &) {
        ++noops;
        server->send(tag + " OK NOOP completed\r\n");
    };
    QVERIFY(client->Connect(QStringLiteral("127.0.0.1")).ok());
    QVERIFY(client->Login(QStringLiteral("u"), QStringLiteral("pw")).ok());
    QVERIFY(client->SelectMailbox(QStringLiteral("INBOX")).ok());
    const auto ended = client->poll({}, 100, 450);
    QVERIFY2(ended, qPrintable(ended.fault().reason));
    QCOMPARE(*ended, WaitEnd::Period);
    QVERIFY2(noops >= 2 && noops <= 6, qPrintable(QString::number(noops)));
}

void TestImapIdle::droppedWhilePolling()
{
    server->scripts = {kPlainGreeting + kToSelected + "C: V0003 NOOP\nS: V0003 OK done\nDELAY 150\nDROP"};
    QVERIFY(toSelected());
    const auto ended = client->poll({}, 60000, 120000);
    QVERIFY(!ended);
    QCOMPARE(ended.fault().kind, ImapFailure::ClosedByServer);
    QVERIFY(!client->isConnected());
    QVERIFY(!client->isWaiting());
}

QTEST_GUILESS_MAIN(TestImapIdle)
#include "test_imap_idle.moc"
