// Waiting for news against the real test server: a message delivered while
// the client idles (or polls) is announced, and a connection killed during
// IDLE ends it with a fault.
#include "MailTestSupport.h"
#include "TestServer.h"
#include "mail/ImapClient.h"

#include <QTimer>
#include <QtTest>

using vc::ImapClient;
using vc::ImapFailure;
using vc::test::TestServer;
using Change = vc::ImapClient::MailboxChange;
using WaitEnd = vc::ImapClient::WaitEnd;

namespace {

// How long a test waits for news that should come at once, before it gives up.
constexpr int kGiveUpMs = 20000;

}  // namespace

class TestImapIdleServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void idleHearsDeliveredMail();
    void pollHearsDeliveredMail();
    void killedConnectionEndsTheIdle();

private:
    bool signIn(ImapClient &client);
    // Waits with idle() or poll() and delivers `subject` meanwhile; the EXISTS counts heard.
    QList<qint64> deliverWhileWaiting(ImapClient &client, bool idle, const QByteArray &subject,
                                      ImapClient::WaitEnd *end);
};

void TestImapIdleServer::initTestCase()
{
    if (!TestServer::available())
        QSKIP("the test IMAP server is not running");
}

void TestImapIdleServer::init()
{
    TestServer::resetMailbox();
}

bool TestImapIdleServer::signIn(ImapClient &client)
{
    client.configure(TestServer::config());
    client.setPort(TestServer::port());
    return client.Connect(TestServer::config().host).ok()
           && client.Login(TestServer::user(), TestServer::password()).ok()
           && client.SelectMailbox(QStringLiteral("Inbox")).ok();
}

QList<qint64> TestImapIdleServer::deliverWhileWaiting(ImapClient &client, bool idle, const QByteArray &subject,
                                                      ImapClient::WaitEnd *end)
{
    QList<qint64> heard;
    const auto onChange = [&](const Change &c) {
        if (c.kind == Change::Exists) {
            heard << c.number;
            client.stopWaiting();
        }
    };
    QTimer::singleShot(300, &client,
                       [subject] { TestServer::deliver(QStringLiteral("Inbox"), vc::test::message(subject)); });
    QTimer::singleShot(kGiveUpMs, &client, [&client] { client.stopWaiting(); });
    const auto ended = idle ? client.idle(onChange, 60000) : client.poll(onChange, 200, 60000);
    if (!ended)
        qWarning() << "the wait failed:" << ended.fault().reason;
    *end = ended ? *ended : WaitEnd::ByServer;
    return heard;
}

void TestImapIdleServer::idleHearsDeliveredMail()
{
    ImapClient client;
    QVERIFY2(signIn(client), qPrintable(client.LastErrorText()));
    QCOMPARE(client.NumMessages(), 0);
    QVERIFY(client.canIdle());

    WaitEnd end = WaitEnd::ByServer;
    QCOMPARE(deliverWhileWaiting(client, true, "first", &end), QList<qint64>{1});
    QCOMPARE(end, WaitEnd::Stopped);
    // The connection serves a fetch after the IDLE, and the next IDLE hears the next message.
    auto email = client.FetchSingle(1, false);
    QVERIFY2(email, qPrintable(client.LastErrorText()));
    QCOMPARE(email->Subject, QStringLiteral("first"));
    QCOMPARE(deliverWhileWaiting(client, true, "second", &end), QList<qint64>{2});
    QCOMPARE(end, WaitEnd::Stopped);
    QCOMPARE(client.NumMessages(), 2);
}

void TestImapIdleServer::pollHearsDeliveredMail()
{
    ImapClient client;
    QVERIFY2(signIn(client), qPrintable(client.LastErrorText()));
    WaitEnd end = WaitEnd::ByServer;
    QCOMPARE(deliverWhileWaiting(client, false, "polled", &end), QList<qint64>{1});
    QCOMPARE(end, WaitEnd::Stopped);
    QVERIFY(client.noop());
}

void TestImapIdleServer::killedConnectionEndsTheIdle()
{
    ImapClient client;
    QVERIFY2(signIn(client), qPrintable(client.LastErrorText()));
    QTimer::singleShot(300, &client, [] { TestServer::script({QStringLiteral("kick")}); });
    QTimer::singleShot(kGiveUpMs, &client, [&client] { client.stopWaiting(); });
    const auto ended = client.idle({}, 60000);
    QVERIFY2(!ended, "the IDLE outlived its connection");
    QVERIFY2(ended.fault().kind == ImapFailure::ClosedByServer || ended.fault().kind == ImapFailure::Network,
             vc::failureName(ended.fault().kind));
    QVERIFY(!client.isConnected());
}

QTEST_GUILESS_MAIN(TestImapIdleServer)
#include "test_imap_idle_server.moc"
