// The pure pieces of the sign-in: SASL messages, PKCE, the provider table.
#include "mail/signin/OAuthHttp.h"
#include "mail/signin/OAuthProviders.h"
#include "mail/signin/Pkce.h"
#include "mail/signin/Sasl.h"

#include <QtTest>

using namespace vc;

class SignInPureTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void xoauth2Message()
    {
        QCOMPARE(sasl::xoauth2(QStringLiteral("someone@outlook.com"), QStringLiteral("EwB4A+x/y_z.~-==")),
                 QByteArray("user=someone@outlook.com\x01"
                            "auth=Bearer EwB4A+x/y_z.~-==\x01\x01"));
        // The example of Google's XOAUTH2 documentation, base64 as it goes on the wire.
        QCOMPARE(sasl::xoauth2(QStringLiteral("someuser@example.com"),
                               QStringLiteral("ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg"))
                     .toBase64(),
                 QByteArray("dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhkSF"
                            "JoZG1semRHRXVZMjl0Q2cBAQ=="));
    }

    void oauthBearerMessage()
    {
        // RFC 7628 section 4.1, with the user name escaped as RFC 5801 says.
        QCOMPARE(sasl::oauthBearer(QStringLiteral("user@example.com"),
                                   QStringLiteral("vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg=="),
                                   QStringLiteral("server.example.com"), 143),
                 QByteArray("n,a=user@example.com,\x01host=server.example.com\x01port=143\x01"
                            "auth=Bearer vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==\x01\x01"));
        QCOMPARE(sasl::oauthBearer(QStringLiteral("a,b=c"), QStringLiteral("t"), QString(), 0),
                 QByteArray("n,a=a=2Cb=3Dc,\x01"
                            "auth=Bearer t\x01\x01"));
    }

    void refusesWhatWouldChangeTheMessage_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("token");
        QTest::newRow("token with a space") << "u"
                                            << "abc def";
        QTest::newRow("token with \\x01") << "u"
                                          << "abc\x01"
                                             "auth=Bearer x";
        QTest::newRow("token with CR LF") << "u"
                                          << "abc\r\nA1 LOGOUT";
        QTest::newRow("empty token") << "u"
                                     << "";
        QTest::newRow("token with a tab") << "u"
                                          << "ab\tcd";
        QTest::newRow("token not ASCII") << "u"
                                         << "ab\u00e9cd";
        QTest::newRow("user with \\x01") << "u\x01x"
                                         << "abc";
        QTest::newRow("user with LF") << "u\nx"
                                      << "abc";
        QTest::newRow("empty user") << ""
                                    << "abc";
    }
    void refusesWhatWouldChangeTheMessage()
    {
        QFETCH(QString, user);
        QFETCH(QString, token);
        QVERIFY(sasl::xoauth2(user, token).isEmpty());
        QVERIFY(sasl::oauthBearer(user, token, QStringLiteral("h"), 993).isEmpty());
    }

    void plainMessage()
    {
        QCOMPARE(sasl::plain(QStringLiteral("tester"), QStringLiteral("p\u00e9ss")),
                 QByteArray("\0tester\0p\xc3\xa9ss", 13));
        QVERIFY(sasl::plain(QString(), QStringLiteral("x")).isEmpty());
        QVERIFY(sasl::plain(QStringLiteral("u"), QString(QChar(0))).isEmpty());
    }

    void errorChallenge_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("described");
        // What Dovecot sends for a refused XOAUTH2 token.
        QTest::newRow("dovecot") << QByteArray("eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0=")
                                 << true << "401"
                                 << "the server refused the token (status 401, scope mail)";
        QTest::newRow("rfc 7628")
            << QByteArray("{\"status\":\"invalid_token\",\"scope\":\"example_scope\",\"openid-configuration\":"
                          "\"https://example.com/.well-known/openid-configuration\"}")
                   .toBase64()
            << true << "invalid_token"
            << "the server refused the token (status invalid_token, scope example_scope)";
        QTest::newRow("numeric status") << QByteArray("{\"status\":400}").toBase64() << true << "400"
                                        << "the server refused the token (status 400)";
        QTest::newRow("not base64") << QByteArray("***") << false << ""
                                    << "the server refused the token";
        QTest::newRow("not json") << QByteArray("hello").toBase64() << false << ""
                                  << "the server refused the token";
        QTest::newRow("json array") << QByteArray("[1]").toBase64() << false << ""
                                    << "the server refused the token";
        QTest::newRow("empty") << QByteArray() << false << ""
                               << "the server refused the token";
    }
    void errorChallenge()
    {
        QFETCH(QByteArray, wire);
        QFETCH(bool, valid);
        QFETCH(QString, status);
        QFETCH(QString, described);
        const sasl::ErrorChallenge c = sasl::decodeErrorChallenge(wire);
        QCOMPARE(c.valid, valid);
        QCOMPARE(c.status, status);
        QCOMPARE(sasl::describe(c), described);
    }

    void mechanismFromCapabilities()
    {
        // Outlook.com's and Gmail's pre-login capabilities, then Dovecot's.
        const QStringList outlook{QStringLiteral("IMAP4"), QStringLiteral("IMAP4REV1"), QStringLiteral("AUTH=PLAIN"),
                                  QStringLiteral("AUTH=XOAUTH2"), QStringLiteral("SASL-IR")};
        const QStringList gmail{QStringLiteral("IMAP4REV1"), QStringLiteral("AUTH=XOAUTH2"),
                                QStringLiteral("AUTH=PLAIN"), QStringLiteral("AUTH=OAUTHBEARER")};
        const QStringList dovecot{QStringLiteral("IMAP4REV1"), QStringLiteral("AUTH=PLAIN"),
                                  QStringLiteral("AUTH=LOGIN")};
        QCOMPARE(sasl::tokenMechanism(outlook), QByteArray("XOAUTH2"));
        QCOMPARE(sasl::tokenMechanism(gmail), QByteArray("OAUTHBEARER"));
        QCOMPARE(sasl::tokenMechanism(dovecot), QByteArray());
        QVERIFY(sasl::offersTokens(outlook));
        QVERIFY(!sasl::offersTokens(dovecot));
        QVERIFY(!sasl::offersTokens({QStringLiteral("XOAUTH2")}));  // not an AUTH= item
    }

    void pkce()
    {
        // RFC 7636 appendix B.
        QCOMPARE(pkce::challengeFor("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
                 QByteArray("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
        const QByteArray a = pkce::makeVerifier(), b = pkce::makeVerifier();
        QCOMPARE(a.size(), 43);
        QVERIFY(a != b);
        static const QRegularExpression unreserved(QStringLiteral("^[A-Za-z0-9_-]+$"));
        QVERIFY(unreserved.match(QString::fromLatin1(a)).hasMatch());
        QVERIFY(unreserved.match(QString::fromLatin1(pkce::makeState())).hasMatch());
        QVERIFY(pkce::makeState() != pkce::makeState());
    }

    void providerEndpoints_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("authority");
        QTest::addColumn<QString>("authorize");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("token");
        QTest::newRow("microsoft") << "microsoft"
                                   << ""
                                   << "https://login.microsoftonline.com/consumers/oauth2/v2.0/authorize"
                                   << "https://login.microsoftonline.com/consumers/oauth2/v2.0/devicecode"
                                   << "https://login.microsoftonline.com/consumers/oauth2/v2.0/token";
        QTest::newRow("microsoft, other tenant") << "Microsoft"
                                                 << "https://login.microsoftonline.com/common/"
                                                 << "https://login.microsoftonline.com/common/oauth2/v2.0/authorize"
                                                 << "https://login.microsoftonline.com/common/oauth2/v2.0/devicecode"
                                                 << "https://login.microsoftonline.com/common/oauth2/v2.0/token";
        QTest::newRow("microsoft on loopback") << "microsoft"
                                               << "http://127.0.0.1:8080/consumers"
                                               << "http://127.0.0.1:8080/consumers/oauth2/v2.0/authorize"
                                               << "http://127.0.0.1:8080/consumers/oauth2/v2.0/devicecode"
                                               << "http://127.0.0.1:8080/consumers/oauth2/v2.0/token";
        QTest::newRow("google") << "google"
                                << ""
                                << "https://accounts.google.com/o/oauth2/v2/auth"
                                << ""
                                << "https://oauth2.googleapis.com/token";
        QTest::newRow("google on loopback") << "google"
                                            << "http://[::1]:9/g"
                                            << "http://[::1]:9/g/o/oauth2/v2/auth"
                                            << ""
                                            << "http://[::1]:9/g/token";
    }
    void providerEndpoints()
    {
        QFETCH(QString, provider);
        QFETCH(QString, authority);
        const OAuthProvider *p = findOAuthProvider(provider);
        QVERIFY(p);
        OAuthEndpoints e;
        QString error;
        QVERIFY2(resolveOAuthEndpoints(*p, authority, &e, &error), qPrintable(error));
        QTEST(e.authorize.toString(), "authorize");
        QTEST(e.deviceCode.toString(), "device");
        QTEST(e.token.toString(), "token");
    }

    void plainHttpOnlyOnLoopback_data()
    {
        QTest::addColumn<QString>("authority");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("https") << "https://login.example.org/t" << true;
        QTest::newRow("http loopback v4") << "http://127.0.0.1:1234" << true;
        QTest::newRow("http loopback 127/8") << "http://127.3.4.5" << true;
        QTest::newRow("http loopback v6") << "http://[::1]:1234/x" << true;
        QTest::newRow("http localhost") << "http://localhost:1234" << true;
        QTest::newRow("http elsewhere") << "http://login.example.org/t" << false;
        QTest::newRow("http LAN") << "http://192.168.1.2/t" << false;
        QTest::newRow("http lookalike") << "http://127.0.0.1.example.org/t" << false;
        QTest::newRow("ftp") << "ftp://127.0.0.1/t" << false;
        QTest::newRow("no host") << "https:///t" << false;
    }
    void plainHttpOnlyOnLoopback()
    {
        QFETCH(QString, authority);
        QFETCH(bool, allowed);
        QCOMPARE(isAllowedOAuthUrl(QUrl(authority)), allowed);
        OAuthEndpoints e;
        QString error;
        QCOMPARE(resolveOAuthEndpoints(*findOAuthProvider(QStringLiteral("microsoft")), authority, &e, &error),
                 allowed);
        if (!allowed)
            QVERIFY2(error.contains(QStringLiteral("https://")), qPrintable(error));
    }

    void providerLookup()
    {
        QCOMPARE(oauthProviderForHost(QStringLiteral("outlook.office365.com"))->id, QStringLiteral("microsoft"));
        QCOMPARE(oauthProviderForHost(QStringLiteral("IMAP-MAIL.outlook.com"))->id, QStringLiteral("microsoft"));
        QCOMPARE(oauthProviderForHost(QStringLiteral("imap.gmail.com"))->id, QStringLiteral("google"));
        QVERIFY(!oauthProviderForHost(QStringLiteral("127.0.0.1")));
        for (const char *a : {"x@hotmail.com", "x@live.com", "x@msn.com", "x@Outlook.com"})
            QCOMPARE(oauthProviderForAccount(QLatin1String(a))->id, QStringLiteral("microsoft"));
        QCOMPARE(oauthProviderForAccount(QStringLiteral("x@gmail.com"))->id, QStringLiteral("google"));
        QCOMPARE(oauthProviderForAccount(QStringLiteral("x@googlemail.com"))->id, QStringLiteral("google"));
        QVERIFY(!oauthProviderForAccount(QStringLiteral("x@example.org")));
        QVERIFY(!oauthProviderForAccount(QStringLiteral("gmail.com")));
        QVERIFY(!findOAuthProvider(QStringLiteral("yahoo")));
        // The custom provider needs an authority of the user's.
        OAuthEndpoints e;
        QString error;
        QVERIFY(!resolveOAuthEndpoints(*findOAuthProvider(QStringLiteral("custom")), QString(), &e, &error));
        QVERIFY(!error.isEmpty());
    }

    void formEncoding()
    {
        // Tokens may hold "+", "/" and "="; a form body must keep them apart from "&" and " ".
        QCOMPARE(OAuthHttp::encodeForm({{QStringLiteral("refresh_token"), QStringLiteral("a+b/c=&d")},
                                        {QStringLiteral("scope"), QStringLiteral("https://x/y offline_access")}}),
                 QByteArray("refresh_token=a%2Bb%2Fc%3D%26d&scope=https%3A%2F%2Fx%2Fy%20offline_access"));
    }
};

QTEST_GUILESS_MAIN(SignInPureTest)
#include "test_signin_pure.moc"
