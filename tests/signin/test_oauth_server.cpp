// Tokens from the provider stand-in, taken by the real Dovecot of the test
// server (its oauth2 passdb asks the provider through introspection).
#include "OAuthTestProvider.h"
#include "ScriptedDialogs.h"
#include "TestServer.h"
#include "mail/ImapClient.h"
#include "mail/signin/OAuthSession.h"

#include <QtTest>

using namespace vc;
using vc::test::OAuthTestProvider;
using vc::test::ScriptedDialogs;
using vc::test::TestServer;

class OAuthServerTest : public QObject {
    Q_OBJECT
    std::unique_ptr<OAuthTestProvider> provider;

    QString signIn(const QString &login = QString())
    {
        ScriptedDialogs d;
        d.playBrowser = true;
        if (!login.isEmpty())
            provider->control({{QStringLiteral("user"), login}});
        OAuthSettings s;
        s.authority = provider->authority();
        s.clientId = QStringLiteral("server-test");
        s.useKeychain = false;
        OAuthSession session(s, login.isEmpty() ? TestServer::user() : login, vc::test::installedDialogsUi());
        QString token;
        if (!session.accessToken(&token))
            qWarning("%s", qPrintable(session.lastError()));
        return token;
    }
    // 1: signed in, 0: the token was refused, -1: no connection.
    int login(ImapClient &client, const QString &token, const QString &user = TestServer::user())
    {
        client.configure(TestServer::config());
        client.setPort(TestServer::port());
        if (!client.Connect(QStringLiteral("127.0.0.1")))
            return -1;
        return client.LoginWithToken(user, token) ? 1 : 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test server is not running");
        provider = OAuthTestProvider::ofTestServer();
        QVERIFY2(provider, "the test server runs no OAuth provider stand-in");
    }
    void init()
    {
        QVERIFY(provider->control({{QStringLiteral("reset"), true}}));
        OAuthSession::clearMemory();
    }

    void tokenOpensTheMailbox()
    {
        const QString token = signIn();
        QVERIFY(!token.isEmpty());
        ImapClient client;
        QCOMPARE(login(client, token), 1);
        QCOMPARE(client.LastErrorText(), QStringLiteral("AUTHENTICATE OAUTHBEARER: OK"));
        QVERIFY(client.SelectMailbox(QStringLiteral("Inbox")));
        client.Disconnect();
        // Dovecot asked the provider about exactly this token.
        const QList<QJsonObject> asked = provider->requests(QStringLiteral("introspect"));
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().value(QLatin1String("params")).toObject().value(QLatin1String("token")).toString(),
                 token);
    }

    void refusedTokens_data()
    {
        QTest::addColumn<QString>("change");  // what happens to the token first
        QTest::newRow("expired") << "expire";
        QTest::newRow("revoked") << "revoke";
        QTest::newRow("made up") << "forge";
        QTest::newRow("another user's") << "other";
    }
    void refusedTokens()
    {
        QFETCH(QString, change);
        QString token = signIn(change == QLatin1String("other") ? QStringLiteral("quoter") : QString());
        QVERIFY(!token.isEmpty());
        if (change == QLatin1String("expire") || change == QLatin1String("revoke"))
            QVERIFY(provider->control({{change, QStringLiteral("all")}}));
        if (change == QLatin1String("forge"))
            token = QStringLiteral("at-made-up-by-someone");
        ImapClient client;
        QCOMPARE(login(client, token), 0);
        QCOMPARE(failureName(client.lastFailure()), "Refusal");
        QVERIFY2(client.LastErrorText().startsWith(QStringLiteral("AUTHENTICATE OAUTHBEARER failed: NO")),
                 qPrintable(client.LastErrorText()));
        QVERIFY2(
            client.LastErrorText().endsWith(QStringLiteral("(the server refused the token (status invalid_token))")),
            qPrintable(client.LastErrorText()));
        QVERIFY(!client.LastErrorText().contains(token));
        // The connection is still usable for another attempt.
        OAuthSession::clearMemory();
        const QString fresh = signIn(QStringLiteral("tester"));
        QVERIFY(client.LoginWithToken(TestServer::user(), fresh));
    }

    void passwordUsersStayAsTheyWere()
    {
        ImapClient client;
        client.configure(TestServer::config());
        client.setPort(TestServer::port());
        QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
        QVERIFY(client.Capabilities().contains(QStringLiteral("AUTH=XOAUTH2")));
        QVERIFY(client.Login(TestServer::user(), TestServer::password()));
        QCOMPARE(client.LastErrorText(), QStringLiteral("LOGIN: OK"));
        // The password is no token.
        ImapClient other;
        QCOMPARE(login(other, TestServer::password()), 0);
    }
};

QTEST_GUILESS_MAIN(OAuthServerTest)
#include "test_oauth_server.moc"
