// Token keeping: reuse, renewal before expiry and after a refusal, the token
// command, and where refresh tokens are stored.
#include "OAuthTestProvider.h"
#include "ScriptedDialogs.h"
#include "mail/signin/OAuthSession.h"
#include "mail/signin/TokenStore.h"

#include <QtTest>

using namespace vc;
using vc::test::OAuthTestProvider;
using vc::test::ScriptedDialogs;

namespace {

// A keychain in a map.
class MapStore : public TokenStore {
public:
    QMap<QString, QString> entries;
    int loads = 0;
    QString load(const QString &key) override
    {
        ++loads;
        return entries.value(key);
    }
    void save(const QString &key, const QString &token) override { entries[key] = token; }
    void remove(const QString &key) override { entries.remove(key); }
};

const QString kAccount = QStringLiteral("tester@outlook.com");
const QString kKey = QStringLiteral("oauth2:microsoft:test-client:tester@outlook.com");

}  // namespace

class OAuthSessionTest : public QObject {
    Q_OBJECT
    std::unique_ptr<OAuthTestProvider> provider;

    OAuthSettings settings()
    {
        OAuthSettings s;
        s.authority = provider->authority();
        s.clientId = QStringLiteral("test-client");
        s.requestTimeoutMs = 5000;
        s.signInTimeoutMs = 15000;
        s.useKeychain = false;
        return s;
    }
    int grants(const QString &type)
    {
        int n = 0;
        for (const QJsonObject &r : provider->requests(QStringLiteral("token")))
            n += r.value(QLatin1String("params")).toObject().value(QLatin1String("grant_type")).toString() == type;
        return n;
    }

private Q_SLOTS:
    void initTestCase()
    {
        provider = OAuthTestProvider::start();
        QVERIFY2(provider, "the provider stand-in did not start");
    }
    void init()
    {
        QVERIFY(provider->control({{QStringLiteral("reset"), true}}));
        OAuthSession::clearMemory();
    }

    void reusesThenRenewsBeforeExpiry()
    {
        ScriptedDialogs d;
        d.playBrowser = true;
        QString a, b, c;
        {
            OAuthSession s(settings(), kAccount, vc::test::installedDialogsUi());
            QVERIFY2(s.accessToken(&a), qPrintable(s.lastError()));
            QVERIFY(s.accessToken(&b));
        }
        // A later session of the same account (the next run) finds it in memory.
        OAuthSession s(settings(), kAccount, vc::test::installedDialogsUi());
        QVERIFY(s.accessToken(&c));
        QCOMPARE(b, a);
        QCOMPARE(c, a);
        QCOMPARE(d.openedUrls.size(), 1);
        QCOMPARE(grants(QStringLiteral("authorization_code")), 1);

        // Tokens that expire within the margin are renewed silently, not re-signed.
        OAuthSession::clearMemory();
        QVERIFY(provider->control({{QStringLiteral("access_ttl"), OAuthSession::kRenewMarginSecs - 60}}));
        OAuthSession t(settings(), kAccount, vc::test::installedDialogsUi());
        QString first, second;
        QVERIFY(t.accessToken(&first));
        QVERIFY(t.accessToken(&second));
        QVERIFY(second != first);
        QCOMPARE(d.openedUrls.size(), 2);
        QCOMPARE(grants(QStringLiteral("refresh_token")), 1);
    }

    void renewsOnceAfterRefusal()
    {
        ScriptedDialogs d;
        d.playBrowser = true;
        OAuthSession s(settings(), kAccount, vc::test::installedDialogsUi());
        QString a, b;
        QVERIFY(s.accessToken(&a));
        QVERIFY(provider->control({{QStringLiteral("expire"), QStringLiteral("all")}}));
        QVERIFY2(s.renewAfterRefusal(&b), qPrintable(s.lastError()));
        QVERIFY(b != a);
        QCOMPARE(grants(QStringLiteral("refresh_token")), 1);
        QCOMPARE(d.openedUrls.size(), 1);

        // A revoked refresh token: a new sign-in in the browser.
        QVERIFY(provider->control({{QStringLiteral("revoke"), QStringLiteral("all")}}));
        QString c;
        QVERIFY2(s.renewAfterRefusal(&c), qPrintable(s.lastError()));
        QCOMPARE(d.openedUrls.size(), 2);
        QVERIFY(c != b);
    }

    void silentOnlyWhenNotInteractive()
    {
        ScriptedDialogs d;
        d.playBrowser = true;
        OAuthSettings quiet = settings();
        quiet.interactive = false;
        OAuthSession s(quiet, kAccount, vc::test::installedDialogsUi());
        QString token;
        QVERIFY(!s.accessToken(&token));
        QCOMPARE(s.failure(), OAuthFailure::Setup);
        QVERIFY(d.openedUrls.isEmpty());
        // Once signed in interactively, the silent session renews by itself.
        OAuthSession loud(settings(), kAccount, vc::test::installedDialogsUi());
        QVERIFY(loud.accessToken(&token));
        QVERIFY(provider->control({{QStringLiteral("expire"), QStringLiteral("all")}}));
        QVERIFY2(s.renewAfterRefusal(&token), qPrintable(s.lastError()));
        QCOMPARE(d.openedUrls.size(), 1);
    }

    void remembersInTheStoreOnlyWhenAsked()
    {
        ScriptedDialogs d;
        d.playBrowser = true;
        MapStore store;
        OAuthSettings s = settings();
        s.useKeychain = true;
        QString token;
        {
            OAuthSession forgetful(s, kAccount, vc::test::installedDialogsUi());
            forgetful.setTokenStore(&store);
            QVERIFY(forgetful.accessToken(&token));
        }
        QVERIFY(store.entries.isEmpty());
        QCOMPARE(store.loads, 0);

        OAuthSession::clearMemory();
        s.remember = true;
        {
            OAuthSession keeper(s, kAccount, vc::test::installedDialogsUi());
            keeper.setTokenStore(&store);
            QVERIFY(keeper.accessToken(&token));
        }
        QCOMPARE(store.entries.keys(), QStringList{kKey});
        QVERIFY(store.entries.value(kKey).startsWith(QStringLiteral("rt-")));
        QVERIFY(!store.entries.values().contains(token));  // never the access token

        // The next start of the program: nothing in memory, the store has it.
        OAuthSession::clearMemory();
        OAuthSession next(s, kAccount, vc::test::installedDialogsUi());
        next.setTokenStore(&store);
        QString again;
        QVERIFY2(next.accessToken(&again), qPrintable(next.lastError()));
        QCOMPARE(d.openedUrls.size(), 2);  // no new browser sign-in
        QCOMPARE(grants(QStringLiteral("refresh_token")), 1);

        next.forget();
        QVERIFY(store.entries.isEmpty());
    }

    void tokenCommand_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");  // the token, or a part of the error
        QTest::newRow("first line") << "printf 'tok.en-1==\\nsecond line\\n'" << true << "tok.en-1==";
        QTest::newRow("trailing CR") << "printf 'abc\\r\\n'" << true << "abc";
        QTest::newRow("fails") << "echo 'no session' >&2; exit 3" << false
                               << "The token command failed with exit status 3: no session";
        QTest::newRow("prints nothing") << "true" << false << "printed no token";
        QTest::newRow("prints words") << "echo two words" << false << "is not an access token";
        QTest::newRow("missing program") << "/nonexistent/helper" << false << "exit status 127";
        QTest::newRow("hangs") << "sleep 30" << false << "did not finish within 1 s";
    }
    void tokenCommand()
    {
        QFETCH(QString, command);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        OAuthSettings s = settings();
        s.tokenCommand = command;
        s.requestTimeoutMs = 700;
        OAuthSession session(s, kAccount, vc::test::installedDialogsUi());
        QString token;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(session.accessToken(&token), ok);
        QVERIFY(clock.elapsed() < 5000);
        if (ok)
            QCOMPARE(token, expected);
        else
            QVERIFY2(session.lastError().contains(expected), qPrintable(session.lastError()));
        QVERIFY(provider->log().isEmpty());  // the command replaces the provider
    }

    void tokenCommandRunsAgainAfterRefusalAndStops()
    {
        QTemporaryDir dir;
        const QString counter = dir.filePath(QStringLiteral("n"));
        OAuthSettings s = settings();
        s.tokenCommand = QStringLiteral("echo x >> '%1'; echo tok$(wc -l < '%1')").arg(counter);
        OAuthSession session(s, kAccount, vc::test::installedDialogsUi());
        QString a, b;
        QVERIFY(session.accessToken(&a));
        QVERIFY(session.renewAfterRefusal(&b));
        QCOMPARE(a, QStringLiteral("tok1"));
        QCOMPARE(b, QStringLiteral("tok2"));

        bool stop = false;
        s.tokenCommand = QStringLiteral("sleep 20");
        s.requestTimeoutMs = 30000;
        OAuthSession slow(s, kAccount, vc::test::installedDialogsUi());
        slow.aborted = [&stop] { return stop; };
        QTimer::singleShot(200, [&stop] { stop = true; });
        QVERIFY(!slow.accessToken(&a));
        QCOMPARE(slow.failure(), OAuthFailure::Cancelled);
    }
};

QTEST_GUILESS_MAIN(OAuthSessionTest)
#include "test_oauth_session.moc"
