// The main window signing in with OAuth 2.0 against the test server: the test
// plays the browser (it follows the address the window asked to open) through
// the provider stand-in to the window's loopback listener; Dovecot takes the
// token. Then an extraction, and no token in the settings file or the error log.
#include "AppTestSupport.h"
#include "OAuthTestProvider.h"
#include "TestFiles.h"
#include "TestServer.h"
#include "extract/ErrorLog.h"
#include "mail/signin/OAuthSession.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

using namespace vc;
using namespace vc::test;

namespace {

QByteArray message(const QByteArray &subject)
{
    return "From: Ann <ann@example.org>\r\nTo: tester@example.org\r\nSubject: " + subject
           + "\r\nDate: Wed, 06 Mar 2024 09:15:00 +0100\r\nMIME-Version: 1.0\r\n"
             "Content-Type: text/plain; charset=utf-8\r\n\r\nbody\r\n";
}

}  // namespace

class TestForm1OAuth : public QObject {
    Q_OBJECT
    std::unique_ptr<OAuthTestProvider> provider;
    QTemporaryDir logDir;

    // The window on the test server, Microsoft sign-in at the provider stand-in,
    // the account "tester" switched to OAuth 2.0 through the sign-in menu.
    std::unique_ptr<Form1> loadedWindow()
    {
        Form1Options o;
        o.onlineCheck = false;
        o.connection = TestServer::config();
        o.connection.signIn.provider = QStringLiteral("microsoft");
        o.connection.signIn.authority = provider->authority();
        auto f = std::make_unique<Form1>(o);
        f->Form_Load();
        return f;
    }
    std::unique_ptr<Form1> window()
    {
        auto f = loadedWindow();
        f->Combo1->setCurrentIndex(0);  // the name as typed
        f->Text7->setText(TestServer::user());
        auto *oauth = f->findChild<QAction *>(QStringLiteral("SignInOAuth"));
        if (oauth)
            oauth->trigger();
        return f;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test server is not running");
        provider = OAuthTestProvider::ofTestServer();
        QVERIFY2(provider, "the test server runs no OAuth provider stand-in");
        QVERIFY(logDir.isValid());
        errorlog::overrideFolders(logDir.path(), logDir.path());
        TestServer::resetMailbox();
        TestServer::deliver(QStringLiteral("Inbox"), message("oauth-one"));
        TestServer::deliver(QStringLiteral("Inbox"), message("oauth-two"));
    }
    void cleanupTestCase() { errorlog::overrideFolders({}, {}); }
    void init()
    {
        storeOnly({});
        OAuthSession::clearMemory();
        QVERIFY(provider->control({{QStringLiteral("reset"), true}}));
    }

    void signsInThroughTheBrowserAndExtracts()
    {
        ScriptedDialogs d;
        d.playBrowser = true;
        d.inputs = {QStringLiteral("window-client")};  // the client ID, asked for once
        auto f = window();
        QVERIFY(!f->Text6->isEnabled());
        QCOMPARE(f->Text6->placeholderText(), QStringLiteral("Not needed: signs in with OAuth 2.0 in your browser"));
        // The status while the browser is on its way to the window's listener.
        QString statusInBrowser;
        d.browser.rewrite = [&](const QUrl &u) {
            if (u.port() != provider->port())
                statusInBrowser = f->statusText();
            return u;
        };
        f->PushButton17->click();
        QCOMPARE(d.texts(), QStringList());
        QCOMPARE(f->PushButton17->text(), QStringLiteral("Disconnect"));
        QCOMPARE(f->statusText(),
                 QStringLiteral("Connected to 127.0.0.1:%1. Please select folder.").arg(TestServer::port()));
        QCOMPARE(statusInBrowser, QStringLiteral("Waiting for sign-in in your browser..."));

        // One address opened: the provider's authorize page, PKCE and state, a loopback redirect.
        QCOMPARE(d.openedUrls.size(), 1);
        const QUrl opened = d.openedUrls.first();
        QCOMPARE(opened.path(), QStringLiteral("/consumers/oauth2/v2.0/authorize"));
        const QUrlQuery q(opened);
        QCOMPARE(q.queryItemValue(QStringLiteral("client_id")), QStringLiteral("window-client"));
        QCOMPARE(q.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
        QVERIFY(!q.queryItemValue(QStringLiteral("state")).isEmpty());
        // Microsoft takes any port on a registered http://localhost.
        const QUrl redirect(q.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
        QCOMPARE(redirect.scheme(), QStringLiteral("http"));
        QCOMPARE(redirect.host(), QStringLiteral("localhost"));
        QVERIFY(redirect.port() > 0);
        QVERIFY2(d.browser.lastPage.contains(QStringLiteral("You can close this window")),
                 qPrintable(d.browser.lastPage));
        QCOMPARE(storedValue(settings::key::OAuthClientIdMicrosoft).value_or(QString()),
                 QStringLiteral("window-client"));

        // An extraction goes on on the connection the sign-in opened: no
        // browser, no second sign-in.
        const qsizetype introspected = provider->requests(QStringLiteral("introspect")).size();
        QVERIFY(introspected >= 1);
        f->PushButton13->click();
        QCOMPARE(d.texts(), QStringList{QStringLiteral("Done.")});
        QVERIFY(f->results().contains(QStringLiteral("oauth-one")));
        QVERIFY(f->results().contains(QStringLiteral("oauth-two")));
        QCOMPARE(d.openedUrls.size(), 1);
        const QList<QJsonObject> asked = provider->requests(QStringLiteral("introspect"));
        QCOMPARE(asked.size(), introspected);

        // No token in the settings file or the error log.
        const QByteArray settingsFile = readFile(settings::filePath());
        const QByteArray log = readFile(logDir.filePath(QLatin1String(errorlog::kFileName)));
        QVERIFY(settingsFile.contains("window-client"));
        QVERIFY(log.size() > 0);
        for (const QJsonObject &r : asked) {
            const QByteArray token =
                r.value(QLatin1String("params")).toObject().value(QLatin1String("token")).toString().toLatin1();
            QVERIFY(token.size() > 8);
            QVERIFY(!settingsFile.contains(token));
            QVERIFY(!log.contains(token));
        }
        f->PushButton17->click();
        QCOMPARE(f->PushButton17->text(), QStringLiteral("1. Connect"));
    }

    void refusedInTheBrowser_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("said");
        QTest::newRow("declined") << "deny"
                                  << "Sign-in failed: Microsoft refused the sign-in: AADSTS65004: The user declined "
                                     "to consent to access the app.";
    }
    void refusedInTheBrowser()
    {
        QFETCH(QString, mode);
        QFETCH(QString, said);
        QVERIFY(provider->control({{QStringLiteral("authorize"), mode}}));
        storeOnly({{settings::key::OAuthClientIdMicrosoft.name, QStringLiteral("window-client")}});
        ScriptedDialogs d;
        d.playBrowser = true;
        auto f = window();
        f->PushButton17->click();
        QCOMPARE(d.openedUrls.size(), 1);
        QCOMPARE(d.texts().value(0), said);
        QCOMPARE(f->PushButton17->text(), QStringLiteral("1. Connect"));
        // No code was exchanged, no token reached the server.
        QVERIFY(provider->requests(QStringLiteral("token")).isEmpty());
        QVERIFY(provider->requests(QStringLiteral("introspect")).isEmpty());
    }

    // "Remember me" keeps the renewal token in the keychain: the next start
    // reconnects by itself, renewing the expired sign-in without the browser.
    void rememberedSignInAtStartUp()
    {
        if (qEnvironmentVariable("VC_KEYCHAIN") != QLatin1String("present"))
            QSKIP("needs the Secret Service (run through with-keyring.sh)");
        storeOnly({{settings::key::OAuthClientIdMicrosoft.name, QStringLiteral("window-client")}});
        {
            ScriptedDialogs d;
            d.playBrowser = true;
            auto f = window();
            f->Check1->setChecked(true);
            f->PushButton17->click();
            QCOMPARE(f->PushButton17->text(), QStringLiteral("Disconnect"));
            QCOMPARE(d.openedUrls.size(), 1);
            f->Check2->setChecked(true);  // stay connected: the next start connects by itself
        }
        QCOMPARE(fileValues().value(QStringLiteral("StayConnected")), QStringLiteral("1"));
        OAuthSession::clearMemory();
        QVERIFY(provider->control({{QStringLiteral("expire"), QStringLiteral("all")}}));

        ScriptedDialogs d;
        d.browserOpens = false;
        auto f = loadedWindow();
        QCOMPARE(f->PushButton17->text(), QStringLiteral("Disconnect"));
        QVERIFY(d.openedUrls.isEmpty());
        QVERIFY(d.signInCodes.isEmpty());
        QCOMPARE(d.texts(), QStringList());
        const QList<QJsonObject> grants = provider->requests(QStringLiteral("token"));
        QCOMPARE(grants.size(), 2);
        const QJsonObject renewal = grants.last().value(QLatin1String("params")).toObject();
        QCOMPARE(renewal.value(QLatin1String("grant_type")).toString(), QStringLiteral("refresh_token"));
        // The renewal token is in the keychain, not in the settings file.
        const QByteArray refresh = renewal.value(QLatin1String("refresh_token")).toString().toLatin1();
        QVERIFY(refresh.size() > 8);
        const QByteArray stored = readFile(settings::filePath());
        QVERIFY(!stored.isEmpty());
        QVERIFY(!stored.contains(refresh));
    }
};

QTEST_MAIN(TestForm1OAuth)
#include "test_form1_oauth.moc"
