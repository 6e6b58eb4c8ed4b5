// Refresh tokens in the system keychain through QtKeychain. CTest runs this
// twice: inside a private D-Bus session with an unlocked gnome-keyring (a real
// Secret Service; VC_KEYCHAIN=present) and with no session bus at all
// (VC_KEYCHAIN=absent).
#include "OAuthTestProvider.h"
#include "ScriptedDialogs.h"
#include "mail/signin/OAuthSession.h"
#include "mail/signin/TokenStore.h"

#include <QtTest>

using namespace vc;

class KeychainTest : public QObject {
    Q_OBJECT
    bool present = false;
    QStringList notices;

    KeychainTokenStore store()
    {
        return KeychainTokenStore([this](const QString &t) { notices << t; }, 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString mode = qEnvironmentVariable("VC_KEYCHAIN");
        if (mode.isEmpty())
            QSKIP("run through CTest (VC_KEYCHAIN=present|absent)");
        present = mode == QLatin1String("present");
    }
    void init()
    {
        notices.clear();
        KeychainTokenStore::resetNotice();
    }

    void storesLoadsRemoves()
    {
        const QString key =
            tokenStoreKey(QStringLiteral("microsoft"), QStringLiteral("HTTPS://Login.Example.COM:443/t/"),
                          QStringLiteral("cid"), QStringLiteral("Tester@Outlook.com"));
        QCOMPARE(key, QStringLiteral("oauth2:microsoft:https://login.example.com/t:cid:tester@outlook.com"));
        KeychainTokenStore a = store();
        a.save(key, QStringLiteral("rt-first"));
        KeychainTokenStore b = store();  // another run of the program
        if (present) {
            QCOMPARE(b.load(key), QStringLiteral("rt-first"));
            b.save(key, QStringLiteral("rt-second"));
            QCOMPARE(a.load(key), QStringLiteral("rt-second"));
            QCOMPARE(a.load(key + QStringLiteral("x")), QString());  // another account: nothing
            a.remove(key);
            QCOMPARE(b.load(key), QString());
            QVERIFY(a.available() && b.available());
            QVERIFY(notices.isEmpty());
        } else {
            QCOMPARE(b.load(key), QString());
            b.save(key, QStringLiteral("rt-second"));
            a.remove(key);
            QVERIFY(!a.available());
            QVERIFY(!b.available());
            // Said once for the whole run, however often it is tried.
            QCOMPARE(notices, QStringList{KeychainTokenStore::unavailableText()});
        }
    }

    void rememberedSignInSurvivesTheRun()
    {
        auto provider = vc::test::OAuthTestProvider::start();
        QVERIFY(provider);
        QVERIFY(provider->control({{QStringLiteral("device_script"), QJsonArray{QStringLiteral("approve")}},
                                   {QStringLiteral("device_interval"), 1}}));
        OAuthSettings s;
        s.authority = provider->authority();
        s.clientId = QStringLiteral("keychain-client");
        s.flow = OAuthFlow::Device;
        s.remember = true;
        vc::test::ScriptedDialogs d;
        QString first, second;
        {
            OAuthSession session(s, QStringLiteral("tester@outlook.com"), vc::test::installedDialogsUi());
            session.notice = [this](const QString &t) { notices << t; };
            QVERIFY2(session.accessToken(&first), qPrintable(session.lastError()));
        }
        // The next run: memory is empty; the keychain (if any) has the refresh token.
        OAuthSession::clearMemory();
        OAuthSettings quiet = s;
        quiet.interactive = false;
        OAuthSession session(quiet, QStringLiteral("tester@outlook.com"), vc::test::installedDialogsUi());
        session.notice = [this](const QString &t) { notices << t; };
        QCOMPARE(session.accessToken(&second), present);
        if (present) {
            QVERIFY(second != first);
            QVERIFY(notices.isEmpty());
            session.forget();
            KeychainTokenStore check = store();
            QCOMPARE(check.load(tokenStoreKey(QStringLiteral("microsoft"), provider->authority(),
                                              QStringLiteral("keychain-client"), QStringLiteral("tester@outlook.com"))),
                     QString());
        } else {
            QCOMPARE(notices, QStringList{KeychainTokenStore::unavailableText()});
        }
    }
};

QTEST_GUILESS_MAIN(KeychainTest)
#include "test_keychain.moc"
