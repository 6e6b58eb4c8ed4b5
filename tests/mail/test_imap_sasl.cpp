// Signing in with SASL: OAUTHBEARER and XOAUTH2 with and without SASL-IR, the
// server's error challenge, PLAIN where LOGIN is disabled, and the token kept
// out of every error text. Scripted dialogues against the fake server.
#include "FakeImapServer.h"
#include "MailTestSupport.h"
#include "mail/ImapClient.h"

#include <QtTest>

using vc::failureName;
using vc::ImapClient;
using vc::test::connectPlain;

namespace {

const QString kUser = QStringLiteral("u@example.org");
const QString kToken = QStringLiteral("at-Secret.Token_42");
// base64("user=u@example.org\x01auth=Bearer at-Secret.Token_42\x01\x01")
const QByteArray kXoauth2 = "dXNlcj11QGV4YW1wbGUub3JnAWF1dGg9QmVhcmVyIGF0LVNlY3JldC5Ub2tlbl80MgEB";
// What Dovecot sends when it refuses a token: {"status":"401","schemes":"bearer","scope":"mail"}
const QByteArray kRefusal = "eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0=";

// The OAUTHBEARER message for the fake server's port (RFC 7628 section 3.1).
QByteArray oauthBearer(quint16 port)
{
    return QByteArray("n,a=u@example.org,\x01host=127.0.0.1\x01port=" + QByteArray::number(port)
                      + "\x01"
                        "auth=Bearer at-Secret.Token_42\x01\x01")
        .toBase64();
}

QByteArray greeting(const QByteArray &caps)
{
    return "S: * OK [CAPABILITY IMAP4rev1 " + caps + "] ready\n";
}

}  // namespace

class TestImapSasl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tokenSignIn_data()
    {
        QTest::addColumn<QByteArray>("script");  // {OB}: the OAUTHBEARER message
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QByteArray>("kind");
        QTest::newRow("OAUTHBEARER preferred, SASL-IR") << greeting("SASL-IR AUTH=XOAUTH2 AUTH=OAUTHBEARER")
                                                               + "C: V0001 AUTHENTICATE OAUTHBEARER {OB}\n"
                                                                 "S: V0001 OK Logged in"
                                                        << true << "AUTHENTICATE OAUTHBEARER: OK" << QByteArray("None");
        QTest::newRow("XOAUTH2, SASL-IR")
            << greeting("SASL-IR AUTH=PLAIN AUTH=XOAUTH2") + "C: V0001 AUTHENTICATE XOAUTH2 " + kXoauth2
                   + "\nS: V0001 OK Logged in"
            << true << "AUTHENTICATE XOAUTH2: OK" << QByteArray("None");
        QTest::newRow("XOAUTH2, continuation") << greeting("AUTH=XOAUTH2") + "C: V0001 AUTHENTICATE XOAUTH2\nS: + \nC: "
                                                      + kXoauth2 + "\nS: V0001 OK Logged in"
                                               << true << "AUTHENTICATE XOAUTH2: OK" << QByteArray("None");
        QTest::newRow("OAUTHBEARER, continuation")
            << greeting("AUTH=OAUTHBEARER") + "C: V0001 AUTHENTICATE OAUTHBEARER\nS: +\nC: {OB}\nS: V0001 OK Logged in"
            << true << "AUTHENTICATE OAUTHBEARER: OK" << QByteArray("None");
        QTest::newRow("refused, error challenge answered with an empty line")
            << greeting("SASL-IR AUTH=XOAUTH2") + "C: V0001 AUTHENTICATE XOAUTH2 " + kXoauth2 + "\nS: + " + kRefusal
                   + "\nC: \nS: V0001 NO [AUTHENTICATIONFAILED] Authentication failed."
            << false
            << "AUTHENTICATE XOAUTH2 failed: NO [AUTHENTICATIONFAILED] Authentication failed. (the server refused "
               "the token (status 401, scope mail))"
            << QByteArray("Refusal");
        QTest::newRow("refused after the continuation form")
            << greeting("AUTH=OAUTHBEARER") + "C: V0001 AUTHENTICATE OAUTHBEARER\nS: + \nC: {OB}\nS: + " + kRefusal
                   + "\nC: \nS: V0001 NO Nope"
            << false
            << "AUTHENTICATE OAUTHBEARER failed: NO Nope (the server refused the token (status 401, scope mail))"
            << QByteArray("Refusal");
        QTest::newRow("refused without a challenge, token echoed")
            << greeting("SASL-IR AUTH=XOAUTH2") + "C: V0001 AUTHENTICATE XOAUTH2 " + kXoauth2
                   + "\nS: V0001 BAD bad token at-Secret.Token_42 in " + kXoauth2
            << false << "AUTHENTICATE XOAUTH2 failed: BAD bad token ******** in ********" << QByteArray("Refusal");
        QTest::newRow("garbage error challenge")
            << greeting("SASL-IR AUTH=XOAUTH2") + "C: V0001 AUTHENTICATE XOAUTH2 " + kXoauth2
                   + "\nS: + ***\nC: \nS: V0001 NO no"
            << false << "AUTHENTICATE XOAUTH2 failed: NO no (the server refused the token)" << QByteArray("Refusal");
        QTest::newRow("no token mechanism")
            << greeting("AUTH=PLAIN AUTH=LOGIN") << false
            << "AUTHENTICATE failed: the server offers no sign-in with a token (neither "
               "AUTH=OAUTHBEARER nor AUTH=XOAUTH2)"
            << QByteArray("Refusal");
    }
    void tokenSignIn()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, ok);
        QFETCH(QString, error);
        QFETCH(QByteArray, kind);
        FakeImapServer server;
        server.scripts = {script.replace("{OB}", oauthBearer(server.port()))};
        ImapClient client;
        client.setTimeoutMs(2000);
        connectPlain(client, server);
        QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
        const vc::ImapResult<void> login = client.LoginWithToken(kUser, kToken);
        QCOMPARE(login.ok(), ok);
        QCOMPARE(client.LastErrorText(), error);
        QCOMPARE(login.fault().reason, ok ? QString() : error);
        QCOMPARE(failureName(client.lastFailure()), kind.constData());
        QVERIFY(!client.LastErrorText().contains(kToken));
        QCOMPARE(server.scriptError(), QString());
    }

    void unsendableToken()
    {
        FakeImapServer server;
        server.scripts = {greeting("SASL-IR AUTH=XOAUTH2")};
        ImapClient client;
        connectPlain(client, server);
        QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
        QVERIFY(!client.LoginWithToken(kUser, QStringLiteral("tok\r\nV0002 LOGOUT")));
        QCOMPARE(failureName(client.lastFailure()), "BadRequest");
        QVERIFY(!client.LastErrorText().contains(QStringLiteral("LOGOUT")));
        QCOMPARE(server.scriptError(), QString());  // nothing went on the wire
    }

    void plainWhereLoginIsDisabled_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::newRow("LOGINDISABLED, AUTH=PLAIN, SASL-IR") << greeting("SASL-IR LOGINDISABLED AUTH=PLAIN")
                                                                   + "C: V0001 AUTHENTICATE PLAIN AHUAc2VjcmV0LXB3\n"
                                                                     "S: V0001 OK Logged in";
        QTest::newRow("LOGINDISABLED, AUTH=PLAIN") << greeting("LOGINDISABLED AUTH=PLAIN")
                                                          + "C: V0001 AUTHENTICATE PLAIN\nS: + \nC: AHUAc2VjcmV0LXB3\n"
                                                            "S: V0001 OK Logged in";
        QTest::newRow("LOGIN as before") << greeting("SASL-IR AUTH=PLAIN")
                                                + "C: V0001 LOGIN \"u\" \"secret-pw\"\nS: V0001 OK Logged in";
    }
    void plainWhereLoginIsDisabled()
    {
        QFETCH(QByteArray, script);
        FakeImapServer server;
        server.scripts = {script};
        ImapClient client;
        connectPlain(client, server);
        QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
        QVERIFY(client.Login(QStringLiteral("u"), QStringLiteral("secret-pw")));
        QCOMPARE(server.scriptError(), QString());
    }

    void capabilitiesReported()
    {
        FakeImapServer server;
        server.scripts = {greeting("SASL-IR AUTH=XOAUTH2")};
        ImapClient client;
        connectPlain(client, server);
        QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
        const vc::ImapComponent &component = client;
        QVERIFY(component.Capabilities().contains(QStringLiteral("AUTH=XOAUTH2")));
    }
};

QTEST_GUILESS_MAIN(TestImapSasl)
#include "test_imap_sasl.moc"
