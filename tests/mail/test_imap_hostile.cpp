// The IMAP client against servers that drop, stall or send what no server
// should: every case ends the operation with a clear error of the right kind,
// the connection closed, and the next connection works again.
#include "FakeImapServer.h"
#include "MailTestSupport.h"
#include "mail/ImapClient.h"

#include <QtTest>

using vc::failureName;
using vc::ImapClient;
using vc::test::connectPlain;
using vc::test::message;

namespace {

const QByteArray kGreeting = "S: * OK [CAPABILITY IMAP4rev1 ID] ready\n";
const QByteArray kLogin = "C: V0001 LOGIN \"u\" \"pw\"\n";
const QByteArray kLoggedIn = kGreeting + kLogin + "S: V0001 OK done\n";
const QByteArray kSelect = "C: V0002 SELECT \"INBOX\"\n";
const QByteArray kSelected = kLoggedIn + kSelect + "S: * 3 EXISTS\nS: V0002 OK done\n";
const QByteArray kFetch = "C: V0003 FETCH 1 (UID BODY.PEEK[])\n";

// Connect, log in, select INBOX, fetch message 1: the number of steps that succeeded.
int stepsDone(ImapClient &client)
{
    if (!client.Connect(QStringLiteral("127.0.0.1")))
        return 0;
    if (!client.Login(QStringLiteral("u"), QStringLiteral("pw")))
        return 1;
    if (!client.SelectMailbox(QStringLiteral("INBOX")))
        return 2;
    return client.FetchSingle(1, false) ? 4 : 3;
}

// One response carrying 1,000-byte literals until it is far over the line limit.
QByteArray endlessLiterals()
{
    QByteArray line = "S: * 1 FETCH (BODY[] ";
    const int count = int(vc::ImapParser::kMaxLineLength / 1000) + 100;
    for (int i = 0; i < count; ++i)
        line += "{{kb}} X ";
    return line + ")";
}

}  // namespace

class TestImapHostile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void failsCleanly_data();
    void failsCleanly();
    void uidValidityOfEachSelect();
};

void TestImapHostile::failsCleanly_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("done");  // steps that succeed before the failure
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QString>("error");  // part of the error text

    QTest::newRow("drop at the greeting")
        << QByteArray("DROP") << 0 << QByteArray("ClosedByServer") << "closed by the server";
    QTest::newRow("drop at login") << kGreeting + kLogin + "DROP" << 1 << QByteArray("ClosedByServer")
                                   << "LOGIN failed: the connection was closed by the server";
    QTest::newRow("drop at select") << kLoggedIn + kSelect + "S: * 3 EXISTS\nDROP" << 2 << QByteArray("ClosedByServer")
                                    << "SELECT INBOX failed: the connection was closed by the server";
    QTest::newRow("drop mid-literal") << kSelected + kFetch + "P: * 1 FETCH (BODY[] {200}\\r\\nFrom: half\nDROP" << 3
                                      << QByteArray("ClosedByServer")
                                      << "FETCH 1 failed: the connection was closed by the server";
    QTest::newRow("stall mid-literal") << kSelected + kFetch + "P: * 1 FETCH (BODY[] {200}\\r\\nFrom: half" << 3
                                       << QByteArray("TimedOut") << "FETCH 1 failed: timed out after";
    QTest::newRow("literal over the limit")
        << kSelected + kFetch + "S: * 1 FETCH (BODY[] {4001}" << 3 << QByteArray("TooLarge") << "announced 4001 bytes";
    QTest::newRow("endless literals in one response")
        << kSelected + kFetch + endlessLiterals() << 3 << QByteArray("TooLarge") << "a response of more than";
    QTest::newRow("100,000 open parentheses") << kSelected + kFetch + "S: * 1 FETCH " + QByteArray(100000, '(') << 3
                                              << QByteArray("Protocol") << "nested deeper than 256 levels";
    QTest::newRow("EXISTS beyond what a mailbox holds")
        << kLoggedIn + kSelect + "S: * 4294967297 EXISTS\nS: V0002 OK done" << 2 << QByteArray("Protocol")
        << "SELECT INBOX failed: the server reported 4294967297 messages in the mailbox, more than a mailbox can "
           "hold";
    QTest::newRow("EXISTS without a number a count fits in")
        << kSelected + kFetch + "S: * 99999999999999999999 EXISTS" << 3 << QByteArray("Protocol")
        << "reported 99999999999999999999 messages";
}

void TestImapHostile::failsCleanly()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, error);
    FakeImapServer server;
    const QByteArray kb(1000, 'k');
    server.literals["kb"] = kb;
    // The second connection shows that the client starts afresh.
    server.scripts = {script, kGreeting};
    ImapClient client;
    client.setTimeoutMs(300);
    client.setMaxMessageBytes(4000);
    connectPlain(client, server);
    QTEST(stepsDone(client), "done");
    QTEST(QByteArray(failureName(client.lastFailure())), "kind");
    QVERIFY2(client.LastErrorText().contains(error), qPrintable(client.LastErrorText()));
    QVERIFY(!client.isConnected());

    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QCOMPARE(server.scriptError(), QString());
}

// What a walk checks after reconnecting: the UIDVALIDITY of each select, as
// the select answers it through the component interface.
void TestImapHostile::uidValidityOfEachSelect()
{
    FakeImapServer server;
    server.scripts = {kLoggedIn + kSelect
                      + "S: * 3 EXISTS\nS: * OK [UIDVALIDITY 1700000001] UIDs valid\n"
                        "S: V0002 OK done\nC: V0003 SELECT \"Junk\"\nS: V0003 NO gone"};
    ImapClient client;
    client.setTimeoutMs(2000);
    connectPlain(client, server);
    vc::ImapComponent &imap = client;
    QVERIFY(imap.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(imap.Login(QStringLiteral("u"), QStringLiteral("pw")));
    const vc::ImapResult<vc::MailboxStatus> inbox = imap.SelectMailbox(QStringLiteral("INBOX"));
    QVERIFY(inbox);
    QCOMPARE(inbox->uidValidity, 1700000001u);
    QCOMPARE(inbox->exists, qint64(3));
    const vc::ImapResult<vc::MailboxStatus> junk = imap.SelectMailbox(QStringLiteral("Junk"));
    QVERIFY(!junk);
    QCOMPARE(junk.fault().kind, vc::ImapFailure::Refusal);
    QCOMPARE(junk.fault().serverText, QStringLiteral("gone"));
}

QTEST_GUILESS_MAIN(TestImapHostile)
#include "test_imap_hostile.moc"
