// vellumcast-cli signing in with OAuth 2.0 against the throw-away Dovecot and
// the provider stand-in beside it: the device code, a token command, the
// renewal of a remembered sign-in, refusals and a provider that stalls, each
// with its message and exit status; no token in anything the program writes.
#include "OAuthTestProvider.h"
#include "ScriptedDialogs.h"
#include "TestFiles.h"
#include "TestProcess.h"
#include "TestServer.h"
#include "mail/signin/OAuthSession.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace vc;
using vc::test::OAuthTestProvider;
using vc::test::ProcessResult;
using vc::test::readFile;
using vc::test::runProgram;
using vc::test::TestServer;

namespace {

QByteArray message(const QByteArray &subject)
{
    return "From: Ann <ann@example.org>\r\nTo: tester@example.org\r\nSubject: " + subject
           + "\r\nDate: Wed, 06 Mar 2024 09:15:00 +0100\r\nMIME-Version: 1.0\r\n"
             "Content-Type: text/plain; charset=utf-8\r\n\r\nbody of "
           + subject + "\r\n";
}

}  // namespace

class CliOAuthTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    std::unique_ptr<OAuthTestProvider> provider;

    QString logPath() const { return tmp.filePath(QStringLiteral("cli.log")); }

    ProcessResult cli(const QStringList &extra, bool keychain = false)
    {
        QStringList a{"--user",
                      TestServer::user(),
                      "--server",
                      QStringLiteral("127.0.0.1:%1").arg(TestServer::port()),
                      "--ca-file",
                      TestServer::caFile(),
                      "--auth",
                      "oauth2",
                      "--oauth-provider",
                      "microsoft",
                      "--oauth-authority",
                      provider->authority(),
                      "--oauth-client-id",
                      "cli-test",
                      "--timeout",
                      "3",
                      "--error-log",
                      logPath(),
                      "--format",
                      "csv"};
        if (!keychain)
            a << QStringLiteral("--no-keychain");
        return runProgram(QStringLiteral("vellumcast-cli"), a + extra, {}, 60000);
    }

    // An access token of the tester, got in this process through the browser flow.
    QString tokenOfTester()
    {
        vc::test::ScriptedDialogs d;
        d.playBrowser = true;
        OAuthSettings s;
        s.authority = provider->authority();
        s.clientId = QStringLiteral("cli-test");
        s.useKeychain = false;
        OAuthSession::clearMemory();
        OAuthSession session(s, TestServer::user(), d);
        QString token;
        if (!session.accessToken(&token))
            qWarning("%s", qPrintable(session.lastError()));
        return token;
    }

    // Every token the provider has seen: those Dovecot asked about and those
    // the program sent back to renew.
    QStringList tokensSeen()
    {
        QStringList out;
        for (const QJsonValue &v : provider->log()) {
            const QJsonObject params = v.toObject().value(QLatin1String("params")).toObject();
            for (const char *name : {"token", "refresh_token", "device_code"}) {
                const QString t = params.value(QLatin1String(name)).toString();
                if (t.size() > 8)
                    out << t;
            }
        }
        return out;
    }

    // No token in what the program wrote: standard output and error, its log.
    void verifyNoTokenIn(const ProcessResult &r)
    {
        const QStringList tokens = tokensSeen();
        QVERIFY(!tokens.isEmpty());
        const QByteArray log = readFile(logPath());
        QVERIFY(!log.isEmpty());
        for (const QString &t : tokens) {
            QVERIFY2(!r.err.contains(t.toLatin1()), r.err.constData());
            QVERIFY(!r.out.contains(t.toLatin1()));
            QVERIFY(!log.contains(t.toLatin1()));
        }
    }

    bool control(const QJsonObject &command) { return provider->control(command); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test server is not running");
        provider = OAuthTestProvider::ofTestServer();
        QVERIFY2(provider, "the test server runs no OAuth provider stand-in");
        QVERIFY(tmp.isValid());
        TestServer::resetMailbox();
        TestServer::deliver(QStringLiteral("Inbox"), message("first"));
        TestServer::deliver(QStringLiteral("Inbox"), message("second"));
    }
    void init()
    {
        QVERIFY(control({{QStringLiteral("reset"), true}}));
        QVERIFY(control({{QStringLiteral("device_interval"), 1}}));
        QFile::remove(logPath());
    }

    void deviceCodeSignsInAndExtracts()
    {
        QVERIFY(control({{QStringLiteral("device_script"),
                          QJsonArray{QStringLiteral("authorization_pending"), QStringLiteral("approve")}}}));
        const ProcessResult r = cli({});
        QCOMPARE(r.code, 0);
        // The instructions (address and code) went to standard error, the rows to standard output.
        const QRegularExpression said(QStringLiteral("vellumcast-cli: To sign in, use a web browser to open the page "
                                                     "http://127\\.0\\.0\\.1:\\d+/device and enter the code "
                                                     "[A-Z]{8} to authenticate\\.\n"));
        QVERIFY2(said.match(QString::fromUtf8(r.err)).hasMatch(), r.err.constData());
        QVERIFY2(r.out.contains("body of first") && r.out.contains("body of second"), r.out.constData());
        QVERIFY(r.err.contains("vellumcast-cli: Done."));
        // Polled until approved; Dovecot asked the provider about the token it got.
        QCOMPARE(provider->requests(QStringLiteral("token")).size(), 2);
        QVERIFY(!provider->requests(QStringLiteral("introspect")).isEmpty());
        QVERIFY(readFile(logPath()).size() > 0);
        verifyNoTokenIn(r);
    }

    void refusedOrAbandonedSignIn_data()
    {
        QTest::addColumn<QJsonObject>("setup");
        QTest::addColumn<QString>("said");
        QTest::newRow("declined") << QJsonObject{{"device_script", QJsonArray{"deny"}}}
                                  << "Sign-in failed: The sign-in was declined: AADSTS70000: The user declined the "
                                     "sign-in.\n";
        QTest::newRow("code expired") << QJsonObject{{"device_script", QJsonArray{"authorization_pending", "expire"}}}
                                      << "Sign-in failed: The sign-in code expired before the sign-in was completed";
        QTest::newRow("unknown client")
            << QJsonObject{{"client_secret", "only-with-this"}}
            << "Sign-in failed: Microsoft refused the sign-in: AADSTS7000215: Invalid client "
               "secret provided.\n";
        QTest::newRow("stalls before the code") << QJsonObject{{"stall", QJsonArray{"devicecode"}}}
                                                << "Sign-in failed: Microsoft did not start the sign-in: 127.0.0.1 did "
                                                   "not answer within 3 s.\n";
        QTest::newRow("stalls while polled") << QJsonObject{{"stall", QJsonArray{"token"}}}
                                             << "Sign-in failed: The sign-in failed: 127.0.0.1 did not answer within "
                                                "3 s.\n";
    }
    void refusedOrAbandonedSignIn()
    {
        QFETCH(QJsonObject, setup);
        QFETCH(QString, said);
        QVERIFY(control(setup));
        QElapsedTimer clock;
        clock.start();
        const ProcessResult r = cli({});
        QVERIFY(control({{QStringLiteral("stall"), QJsonArray()}}));
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains(said.toUtf8()), r.err.constData());
        QVERIFY(r.out.isEmpty());
        // A stalled provider ends at --timeout, not at some later limit.
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(provider->requests(QStringLiteral("introspect")).isEmpty());
    }

    void tokenCommand_data()
    {
        QTest::addColumn<QString>("change");  // what happens to the token before the run
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("valid") << "" << 0 << "vellumcast-cli: Done.\n";
        const QString refused = QStringLiteral("vellumcast-cli: The mail server refused the sign-in: AUTHENTICATE "
                                               "OAUTHBEARER failed: NO [AUTHENTICATIONFAILED] Authentication failed. "
                                               "(the server refused the token (status invalid_token))\n");
        QTest::newRow("expired") << "expire" << 3 << refused;
        QTest::newRow("revoked") << "revoke" << 3 << refused;
        QTest::newRow("made up") << "forge" << 3 << refused;
        QTest::newRow("command fails") << "fail" << 3 << "Sign-in failed: The token command failed with exit status 3.";
    }
    void tokenCommand()
    {
        QFETCH(QString, change);
        QString token = tokenOfTester();
        QVERIFY(!token.isEmpty());
        if (change == QLatin1String("expire") || change == QLatin1String("revoke"))
            QVERIFY(control({{change, QStringLiteral("all")}}));
        if (change == QLatin1String("forge"))
            token = QStringLiteral("at-made-up-by-someone-else");
        const QString file = tmp.filePath(QStringLiteral("token.txt"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(token.toLatin1() + "\nsecond line, not read\n");
        f.close();
        const QString command =
            change == QLatin1String("fail") ? QStringLiteral("exit 3") : QStringLiteral("cat '%1'").arg(file);
        const ProcessResult r = cli({"--oauth-token-command", command});
        QFETCH(int, status);
        QFETCH(QString, said);
        QCOMPARE(r.code, status);
        QVERIFY2(r.err.contains(said.toUtf8()), r.err.constData());
        QVERIFY(!r.err.contains("enter the code"));
        QCOMPARE(r.out.contains("body of first"), status == 0);
        // The command was the only source of tokens: no sign-in at the provider.
        QVERIFY(provider->requests(QStringLiteral("devicecode")).isEmpty());
        QVERIFY(!r.err.contains(token.toLatin1()));
        QVERIFY(!readFile(logPath()).contains(token.toLatin1()));
    }

    // With the keychain: a second run renews the expired sign-in of the first
    // without asking anybody; once the provider has revoked it, the program
    // asks for a new sign-in.
    void rememberedSignInIsRenewed()
    {
        if (qEnvironmentVariable("VC_KEYCHAIN") != QLatin1String("present"))
            QSKIP("needs the Secret Service (run through with-keyring.sh)");
        QVERIFY(control({{QStringLiteral("device_script"), QJsonArray{QStringLiteral("approve")}}}));
        ProcessResult r = cli({}, true);
        QCOMPARE(r.code, 0);
        QVERIFY(r.err.contains("enter the code"));
        QVERIFY(!r.err.contains("keychain"));

        QVERIFY(control({{QStringLiteral("expire"), QStringLiteral("all")}}));
        r = cli({}, true);
        QCOMPARE(r.code, 0);
        QVERIFY2(!r.err.contains("enter the code"), r.err.constData());
        QVERIFY(r.out.contains("body of second"));
        QCOMPARE(provider->requests(QStringLiteral("devicecode")).size(), 1);
        const QList<QJsonObject> tokenRequests = provider->requests(QStringLiteral("token"));
        QCOMPARE(tokenRequests.last().value(QLatin1String("params")).toObject().value(QLatin1String("grant_type")),
                 QJsonValue(QStringLiteral("refresh_token")));
        verifyNoTokenIn(r);

        // Revoked: the stored sign-in is dropped and a new one begins (declined here).
        QVERIFY(control({{QStringLiteral("revoke"), QStringLiteral("all")}}));
        QVERIFY(control({{QStringLiteral("device_script"), QJsonArray{QStringLiteral("deny")}}}));
        r = cli({}, true);
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains("enter the code"), r.err.constData());
        QVERIFY(r.err.contains("The sign-in was declined"));
        QCOMPARE(provider->requests(QStringLiteral("devicecode")).size(), 2);
    }
};

QTEST_GUILESS_MAIN(CliOAuthTest)
#include "test_cli_oauth.moc"
