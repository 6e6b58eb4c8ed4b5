// The browser flow, its loopback listener and the setup checks, against the
// provider stand-in.
#include "FlowTestBase.h"
#include "OAuthTestProvider.h"
#include "ScriptedDialogs.h"
#include "mail/signin/LoopbackRedirect.h"
#include "mail/signin/OAuthFlows.h"
#include "mail/signin/SignInWait.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QtTest>

using namespace vc;
using vc::test::OAuthTestProvider;
using vc::test::ScriptedDialogs;

namespace {

QString query(const QUrl &url, const QString &key)
{
    return QUrlQuery(url).queryItemValue(key, QUrl::FullyDecoded);
}

bool listening(quint16 port)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    return s.waitForConnected(2000);
}

}  // namespace

class OAuthBrowserTest : public vc::test::FlowTestBase {
    Q_OBJECT
    OAuthSettings settings(OAuthFlow flow = OAuthFlow::Browser) const { return FlowTestBase::settings(flow); }

private Q_SLOTS:
    void browserSignIn()
    {
        ScriptedDialogs d;
        d.playBrowser = true;
        OAuthFlows f = flows(settings());
        OAuthTokens t;
        QVERIFY2(f.signIn(&t), qPrintable(f.error()));
        QVERIFY(t.accessToken.startsWith(QStringLiteral("at-")));
        QVERIFY(t.refreshToken.startsWith(QStringLiteral("rt-")));
        QVERIFY(t.expiresAt > QDateTime::currentDateTimeUtc().addSecs(3000));

        // What the browser was asked to open.
        QCOMPARE(d.openedUrls.size(), 1);
        const QUrl url = d.openedUrls.first();
        QCOMPARE(url.path(), QStringLiteral("/consumers/oauth2/v2.0/authorize"));
        QCOMPARE(query(url, QStringLiteral("client_id")), QStringLiteral("test-client"));
        QCOMPARE(query(url, QStringLiteral("response_type")), QStringLiteral("code"));
        QCOMPARE(query(url, QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
        QCOMPARE(query(url, QStringLiteral("scope")),
                 QStringLiteral("https://outlook.office.com/IMAP.AccessAsUser.All offline_access"));
        QCOMPARE(query(url, QStringLiteral("login_hint")), QStringLiteral("tester@outlook.com"));
        const QUrl redirect(query(url, QStringLiteral("redirect_uri")));
        QCOMPARE(redirect.host(), QStringLiteral("localhost"));
        QCOMPARE(redirect.path(), QStringLiteral("/"));
        QVERIFY(query(url, QStringLiteral("state")).size() >= 16);

        // The exchange proved the code with the verifier (the provider checks it
        // against the challenge), and the browser was told to close the window.
        const QList<QJsonObject> token = provider->requests(QStringLiteral("token"));
        QCOMPARE(token.size(), 1);
        const QJsonObject form = token.first().value(QLatin1String("params")).toObject();
        QCOMPARE(form.value(QLatin1String("grant_type")).toString(), QStringLiteral("authorization_code"));
        QCOMPARE(form.value(QLatin1String("code_verifier")).toString().size(), 43);
        QCOMPARE(form.value(QLatin1String("redirect_uri")).toString(), redirect.toString());
        QVERIFY(!form.contains(QLatin1String("client_secret")));
        QTRY_VERIFY(d.browser.lastPage.contains(QStringLiteral("You can close this window")));
        QVERIFY(statuses.contains(QStringLiteral("Waiting for sign-in in your browser...")));
        // The listener stopped once it had its answer.
        QVERIFY(!listening(quint16(redirect.port())));
    }

    void browserAnswersRefused_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("page");
        QTest::newRow("user declined") << "deny"
                                       << "Microsoft refused the sign-in: AADSTS65004"
                                       << "The sign-in was refused";
    }
    void browserAnswersRefused()
    {
        QFETCH(QString, mode);
        QVERIFY(provider->control({{QStringLiteral("authorize"), mode}}));
        ScriptedDialogs d;
        d.playBrowser = true;
        OAuthFlows f = flows(settings());
        OAuthTokens t;
        QVERIFY(!f.signIn(&t));
        QCOMPARE(f.failure(), OAuthFailure::Refused);
        QFETCH(QString, reason);
        QVERIFY2(f.error().contains(reason), qPrintable(f.error()));
        // No code was exchanged.
        QVERIFY(provider->requests(QStringLiteral("token")).isEmpty());
        QTRY_COMPARE(d.browser.finished, 1);
        QFETCH(QString, page);
        QVERIFY2(d.browser.lastPage.contains(page), qPrintable(d.browser.lastPage));
    }

    // Another page that found the listener's port answers first with a state
    // of its own: it is refused (400) and the real answer still signs in.
    void wrongStateThenTheRightOne()
    {
        ScriptedDialogs d;
        d.playBrowser = true;
        QUrl real;
        QList<int> statuses;
        d.browser.rewrite = [&](const QUrl &u) {
            if (u.port() == provider->port() || real.isValid())
                return u;
            real = u;  // the provider's redirect to the listener: send a forged one first
            QUrl forged = u;
            QUrlQuery q(u);
            q.removeAllQueryItems(QStringLiteral("state"));
            q.addQueryItem(QStringLiteral("state"), QStringLiteral("forged"));
            forged.setQuery(q);
            return forged;
        };
        connect(&d.browser, &vc::test::ScriptedBrowser::pageLoaded, this, [&] {
            statuses << d.browser.lastStatus;
            if (statuses.size() == 1)
                d.browser.open(real);
        });
        OAuthFlows f = flows(settings());
        OAuthTokens t;
        QVERIFY2(f.signIn(&t), qPrintable(f.error()));
        QTRY_COMPARE(statuses, (QList<int>{400, 200}));
        QVERIFY(d.browser.lastPage.contains(QStringLiteral("You can close this window")));
        QCOMPARE(provider->requests(QStringLiteral("token")).size(), 1);
    }

    // A listener that only ever gets wrong answers waits to its time-out and says so.
    void onlyWrongStatesTimeOut()
    {
        QVERIFY(provider->control({{QStringLiteral("authorize"), QStringLiteral("bad_state")}}));
        ScriptedDialogs d;
        d.playBrowser = true;
        OAuthSettings s = settings();
        s.signInTimeoutMs = 1500;
        OAuthFlows f = flows(s);
        OAuthTokens t;
        QVERIFY(!f.signIn(&t));
        QCOMPARE(f.failure(), OAuthFailure::Expired);
        QVERIFY2(f.error().contains(QStringLiteral("1 answer(s) that did not belong to this sign-in")),
                 qPrintable(f.error()));
        QCOMPARE(d.browser.lastStatus, 400);
        QVERIFY(provider->requests(QStringLiteral("token")).isEmpty());
    }

    void noBrowserFallsBackToDeviceCode()
    {
        ScriptedDialogs d;
        d.browserOpens = false;
        d.enterSignInCodes = true;
        OAuthFlows f = flows(settings());
        OAuthTokens t;
        QVERIFY2(f.signIn(&t), qPrintable(f.error()));
        QCOMPARE(d.openedUrls.size(), 1);
        QCOMPARE(d.signInCodes.size(), 1);
        const auto box = d.signInCodes.first();
        QCOMPARE(box.code.size(), 8);
        QVERIFY(box.message.contains(box.code));
        QCOMPARE(box.address.path(), QStringLiteral("/device"));
        QVERIFY(!box.open);  // closed once signed in
        QVERIFY(provider->requests(QStringLiteral("authorize")).isEmpty());
    }

    void googleWithoutBrowserShowsTheAddress()
    {
        // Google has no device-code flow: the address itself goes into the box.
        QVERIFY(provider->control({{QStringLiteral("client_secret"), QStringLiteral("not-so-secret")}}));
        OAuthSettings s = settings();
        s.provider = QStringLiteral("google");
        s.authority = provider->base() + QStringLiteral("/google");
        s.clientSecret = QStringLiteral("not-so-secret");
        ScriptedDialogs d;
        d.browserOpens = false;
        d.enterSignInCodes = true;
        d.playBrowser = true;
        OAuthFlows f(s, QStringLiteral("tester@gmail.com"), {}, {}, vc::test::installedDialogsUi());
        OAuthTokens t;
        QVERIFY2(f.signIn(&t), qPrintable(f.error()));
        QCOMPARE(d.signInCodes.size(), 1);
        QVERIFY(d.signInCodes.first().code.isEmpty());
        const QUrl url = d.signInCodes.first().address;
        QCOMPARE(url.path(), QStringLiteral("/google/o/oauth2/v2/auth"));
        QCOMPARE(query(url, QStringLiteral("access_type")), QStringLiteral("offline"));
        QCOMPARE(query(url, QStringLiteral("scope")), QStringLiteral("https://mail.google.com/"));
        QCOMPARE(QUrl(query(url, QStringLiteral("redirect_uri"))).host(), QStringLiteral("127.0.0.1"));
        const QJsonObject token = provider->requests(QStringLiteral("token")).first();
        QCOMPARE(token.value(QLatin1String("path")).toString(), QStringLiteral("/google/token"));
        QCOMPARE(token.value(QLatin1String("params")).toObject().value(QLatin1String("client_secret")).toString(),
                 QStringLiteral("not-so-secret"));
        // Google asked for the device code flow explicitly: a clear refusal.
        s.flow = OAuthFlow::Device;
        OAuthFlows g(s, QStringLiteral("tester@gmail.com"), {}, {}, vc::test::installedDialogsUi());
        QVERIFY(!g.signIn(&t));
        QCOMPARE(g.failure(), OAuthFailure::Setup);
        QVERIFY(g.error().contains(QStringLiteral("Google offers no sign-in with a code")));
    }

    void browserWaitEnds_data()
    {
        QTest::addColumn<bool>("abort");
        QTest::addColumn<int>("failure");
        QTest::newRow("Stop") << true << int(OAuthFailure::Cancelled);
        QTest::newRow("time-out") << false << int(OAuthFailure::Expired);
    }
    void browserWaitEnds()
    {
        QFETCH(bool, abort);
        ScriptedDialogs d;  // the browser opens, but nobody signs in
        OAuthSettings s = settings();
        s.signInTimeoutMs = 400;
        QElapsedTimer clock;
        clock.start();
        bool stop = false;
        if (abort)
            QTimer::singleShot(150, [&stop] { stop = true; });
        OAuthFlows f = flows(s, [&stop] { return stop; });
        OAuthTokens t;
        QVERIFY(!f.signIn(&t));
        QTEST(int(f.failure()), "failure");
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(d.openedUrls.size(), 1);
        // The listener is gone either way.
        QVERIFY(!listening(quint16(QUrl(query(d.openedUrls.first(), QStringLiteral("redirect_uri"))).port())));
    }

    void stallingTokenEndpoint()
    {
        QVERIFY(provider->control({{QStringLiteral("stall"), QJsonArray{QStringLiteral("token")}}}));
        ScriptedDialogs d;
        d.playBrowser = true;
        OAuthSettings s = settings();
        s.requestTimeoutMs = 800;
        OAuthFlows f = flows(s);
        OAuthTokens t;
        QVERIFY(!f.signIn(&t));
        QCOMPARE(f.failure(), OAuthFailure::Network);
        QVERIFY2(f.error().contains(QStringLiteral("did not answer within 1 s")), qPrintable(f.error()));
        QVERIFY(provider->control({{QStringLiteral("stall"), QJsonArray()}}));
    }

    void setupProblems()
    {
        OAuthSettings s = settings();
        s.clientId.clear();
        s.clientIdHelp = QStringLiteral("Use --oauth-client-id.");
        OAuthFlows a = flows(s);
        OAuthTokens t;
        QVERIFY(!a.signIn(&t));
        QCOMPARE(a.failure(), OAuthFailure::Setup);
        QVERIFY2(a.error().startsWith(QStringLiteral("No OAuth 2.0 client ID is set for Microsoft sign-in.")),
                 qPrintable(a.error()));
        QVERIFY(a.error().endsWith(QStringLiteral("Use --oauth-client-id.")));

        s = settings();
        s.authority = QStringLiteral("http://login.example.org/consumers");
        OAuthFlows b = flows(s);
        QVERIFY(!b.signIn(&t));
        QCOMPARE(b.failure(), OAuthFailure::Setup);
        QVERIFY(b.error().contains(QStringLiteral("https://")));

        s = settings();
        s.provider = QStringLiteral("yahoo");
        OAuthFlows c = flows(s);
        QVERIFY(!c.signIn(&t));
        QVERIFY(c.error().contains(QStringLiteral("microsoft, google or custom")));
        QVERIFY(provider->log().isEmpty());
    }

    void customProviderDiscovers()
    {
        QVERIFY(provider->control({{QStringLiteral("device_script"), QJsonArray{QStringLiteral("approve")}}}));
        OAuthSettings s = settings(OAuthFlow::Device);
        s.provider = QStringLiteral("custom");
        s.authority = provider->base() + QStringLiteral("/realm/");
        ScriptedDialogs d;
        OAuthFlows noScope = flows(s);
        OAuthTokens t;
        QVERIFY(!noScope.signIn(&t));
        QVERIFY(noScope.error().contains(QStringLiteral("No scope")));
        s.scope = QStringLiteral("imap");
        OAuthFlows f = flows(s);
        QVERIFY2(f.signIn(&t), qPrintable(f.error()));
        QCOMPARE(provider->requests(QStringLiteral("discovery")).first().value(QLatin1String("path")).toString(),
                 QStringLiteral("/realm/.well-known/openid-configuration"));
        QCOMPARE(provider->requests(QStringLiteral("devicecode")).first().value(QLatin1String("path")).toString(),
                 QStringLiteral("/realm/oauth2/v2.0/devicecode"));
        QCOMPARE(t.scope, QStringLiteral("imap"));

        // A document that names another issuer is not the authority's own.
        QVERIFY(provider->control({{QStringLiteral("issuer"), QStringLiteral("https://other.example.org/realm")}}));
        OAuthFlows other = flows(s);
        QVERIFY(!other.signIn(&t));
        QCOMPARE(other.failure(), OAuthFailure::Setup);
        QVERIFY2(other.error().contains(QStringLiteral("belongs to https://other.example.org/realm")),
                 qPrintable(other.error()));
        QCOMPARE(provider->requests(QStringLiteral("devicecode")).size(), 1);  // nothing more was asked
    }

    void loopbackListener_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        QTest::newRow("another path") << QByteArray("GET /favicon.ico HTTP/1.1\r\nHost: x\r\n\r\n")
                                      << QByteArray("404");
        QTest::newRow("no code") << QByteArray("GET /?foo=1 HTTP/1.1\r\n\r\n") << QByteArray("404");
        QTest::newRow("not a GET") << QByteArray("POST /?code=1&state=s1 HTTP/1.1\r\n\r\n") << QByteArray("400");
        QTest::newRow("garbage") << QByteArray("nonsense\r\n\r\n") << QByteArray("400");
        QTest::newRow("wrong state") << QByteArray("GET /?code=c&state=s2 HTTP/1.1\r\n\r\n") << QByteArray("400");
        QTest::newRow("no state") << QByteArray("GET /?code=c HTTP/1.1\r\n\r\n") << QByteArray("400");
        QTest::newRow("error, wrong state")
            << QByteArray("GET /?error=access_denied&state=x HTTP/1.1\r\n\r\n") << QByteArray("400");
    }
    // Whatever comes first, the listener answers it and goes on waiting for the
    // answer with its state; that one ends the wait.
    void loopbackListener()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        LoopbackRedirect l;
        QString why;
        QVERIFY(l.listen(&why));
        l.setExpectedState("s1");
        // The listener runs in this thread: talk to it from the event loop.
        auto send = [&](const QByteArray &request) {
            QTcpSocket s;
            QByteArray answer;
            bool closed = false;
            connect(&s, &QTcpSocket::connected, [&] { s.write(request); });
            connect(&s, &QTcpSocket::readyRead, [&] { answer += s.readAll(); });
            connect(&s, &QTcpSocket::disconnected, [&] { closed = true; });
            s.connectToHost(QHostAddress::LocalHost, l.port());
            waitUntil([&] { return closed; }, 5000, {});
            return answer;
        };
        const QByteArray first = send(request);
        QVERIFY2(first.startsWith("HTTP/1.1 " + status), first.constData());
        QVERIFY(!l.hasAnswer());
        QVERIFY(listening(l.port()));
        const QByteArray ok = send("GET /?code=c%2B1&state=s1 HTTP/1.1\r\nHost: localhost\r\n\r\n");
        QVERIFY2(ok.startsWith("HTTP/1.1 200"), ok.constData());
        QVERIFY(ok.contains("You can close this window"));
        QVERIFY(l.hasAnswer());
        QCOMPARE(l.answer().code, QStringLiteral("c+1"));
        QVERIFY(l.answer().stateMatches);
        QVERIFY(!listening(l.port()));
    }

    // A "localhost" redirect may reach either address: both listen on the one
    // port, and a port whose ::1 side is taken is given up for another.
    void localhostOnBothAddresses()
    {
        QTcpServer blocker;
        if (!blocker.listen(QHostAddress::LocalHostIPv6, 0))
            QSKIP("no IPv6 loopback here");
        QTcpServer spare;
        QVERIFY(spare.listen(QHostAddress::LocalHost, 0));
        const quint16 sparePort = spare.serverPort();
        spare.close();
        LoopbackRedirect l;
        l.setPortCandidates({blocker.serverPort(), sparePort});
        QString why;
        QVERIFY2(l.listen(&why), qPrintable(why));
        QCOMPARE(l.port(), sparePort);
        for (const QHostAddress &a :
             {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
            QTcpSocket s;
            s.connectToHost(a, l.port());
            QVERIFY2(s.waitForConnected(2000), qPrintable(a.toString()));
        }
        // 127.0.0.1 alone for a redirect address that names it.
        LoopbackRedirect v4;
        v4.setPortCandidates({blocker.serverPort()});
        QVERIFY(v4.listen(&why, LoopbackRedirect::Families::Ipv4Only));
        QCOMPARE(v4.port(), blocker.serverPort());
    }
};

QTEST_GUILESS_MAIN(OAuthBrowserTest)
#include "test_oauth_browser.moc"
