// The device-code flow and the refresh, against the provider stand-in.
#include "FlowTestBase.h"
#include "OAuthTestProvider.h"
#include "ScriptedDialogs.h"
#include "mail/signin/OAuthFlows.h"

#include <QtTest>

using namespace vc;
using vc::test::OAuthTestProvider;
using vc::test::ScriptedDialogs;

class OAuthDeviceTest : public vc::test::FlowTestBase {
    Q_OBJECT
    OAuthSettings settings(OAuthFlow flow = OAuthFlow::Device) const { return FlowTestBase::settings(flow); }

private Q_SLOTS:
    void devicePolling()
    {
        QVERIFY(provider->control({{QStringLiteral("device_script"),
                                    QJsonArray{QStringLiteral("authorization_pending"), QStringLiteral("approve")}}}));
        ScriptedDialogs d;
        OAuthFlows f = flows(settings(OAuthFlow::Device));
        OAuthTokens t;
        QVERIFY2(f.signIn(&t), qPrintable(f.error()));
        QCOMPARE(provider->requests(QStringLiteral("token")).size(), 2);
        QCOMPARE(d.signInCodes.size(), 1);
        QVERIFY(!d.signInCodes.first().open);
        QVERIFY(d.openedUrls.isEmpty());
        const QString waiting = statuses.filter(QStringLiteral("Waiting for sign-in: enter the code")).value(0);
        QVERIFY2(waiting.contains(d.signInCodes.first().code), qPrintable(statuses.join(u'|')));
    }

    void deviceSlowDownWaitsLonger()
    {
        QVERIFY(provider->control(
            {{QStringLiteral("device_script"), QJsonArray{QStringLiteral("slow_down"), QStringLiteral("approve")}}}));
        ScriptedDialogs d;
        OAuthFlows f = flows(settings(OAuthFlow::Device));
        OAuthTokens t;
        QVERIFY2(f.signIn(&t), qPrintable(f.error()));
        const QList<QJsonObject> polls = provider->requests(QStringLiteral("token"));
        QCOMPARE(polls.size(), 2);
        // The interval was 1 s; slow_down adds 5 s.
        const double gap =
            polls[1].value(QLatin1String("time")).toDouble() - polls[0].value(QLatin1String("time")).toDouble();
        QVERIFY2(gap >= 5.5, qPrintable(QString::number(gap)));
    }

    void deviceRefusals_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("reason");
        QTest::newRow("declined") << "deny" << int(OAuthFailure::Refused) << "The sign-in was declined";
        QTest::newRow("access_denied") << "access_denied" << int(OAuthFailure::Refused) << "The sign-in was declined";
        QTest::newRow("expired") << "expire" << int(OAuthFailure::Expired) << "The sign-in code expired";
        QTest::newRow("other error") << "invalid_client" << int(OAuthFailure::Refused)
                                     << "Microsoft refused the sign-in: Scripted answer.";
    }
    void deviceRefusals()
    {
        QFETCH(QString, step);
        QVERIFY(provider->control({{QStringLiteral("device_script"), QJsonArray{step}}}));
        ScriptedDialogs d;
        OAuthFlows f = flows(settings(OAuthFlow::Device));
        OAuthTokens t;
        QVERIFY(!f.signIn(&t));
        QTEST(int(f.failure()), "failure");
        QFETCH(QString, reason);
        QVERIFY2(f.error().contains(reason), qPrintable(f.error()));
        QCOMPARE(provider->requests(QStringLiteral("token")).size(), 1);
        QVERIFY(!d.signInCodes.first().open);
    }

    void deviceCodeBoxCancel()
    {
        ScriptedDialogs d;
        QTimer::singleShot(300, [&d] {
            if (d.cancelSignIn)
                d.cancelSignIn();
        });
        OAuthFlows f = flows(settings(OAuthFlow::Device));
        OAuthTokens t;
        QVERIFY(!f.signIn(&t));
        QCOMPARE(f.failure(), OAuthFailure::Cancelled);
        QVERIFY(!d.signInCodes.first().open);
    }

    void stallingProvider_data()
    {
        QTest::addColumn<QString>("endpoint");
        QTest::addColumn<int>("flow");
        QTest::newRow("device code") << "devicecode" << int(OAuthFlow::Device);
        QTest::newRow("token, device") << "token" << int(OAuthFlow::Device);
    }
    void stallingProvider()
    {
        QFETCH(QString, endpoint);
        QFETCH(int, flow);
        QVERIFY(provider->control({{QStringLiteral("stall"), QJsonArray{endpoint}},
                                   {QStringLiteral("device_script"), QJsonArray{QStringLiteral("approve")}}}));
        ScriptedDialogs d;
        d.playBrowser = true;
        OAuthSettings s = settings(OAuthFlow(flow));
        s.requestTimeoutMs = 800;
        OAuthFlows f = flows(s);
        OAuthTokens t;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!f.signIn(&t));
        QCOMPARE(f.failure(), OAuthFailure::Network);
        QVERIFY2(f.error().contains(QStringLiteral("did not answer within 1 s")), qPrintable(f.error()));
        QVERIFY(clock.elapsed() < 8000);
        QVERIFY(provider->control({{QStringLiteral("stall"), QJsonArray()}}));
    }

    // What the service sends is checked before it is used: the page the user
    // is sent to must be https://, and numbers must be in range (an answer's
    // absurd number counts as absent).
    void deviceAnswerChecks_data()
    {
        QTest::addColumn<QJsonObject>("fields");
        QTest::addColumn<bool>("ok");
        QTest::newRow("plain http page") << QJsonObject{{"verification_uri", "http://sign-in.example.org/device"}}
                                         << false;
        QTest::newRow("script address") << QJsonObject{{"verification_uri", "javascript:alert(1)"}} << false;
        QTest::newRow("huge lifetime") << QJsonObject{{"expires_in", 1e300}, {"interval", "1"}} << true;
        QTest::newRow("negative lifetime") << QJsonObject{{"expires_in", -40}, {"interval", 1}} << true;
    }
    void deviceAnswerChecks()
    {
        QFETCH(QJsonObject, fields);
        QFETCH(bool, ok);
        QVERIFY(provider->control({{QStringLiteral("device_fields"), fields},
                                   {QStringLiteral("device_script"),
                                    QJsonArray{QStringLiteral("authorization_pending"), QStringLiteral("approve")}}}));
        ScriptedDialogs d;
        OAuthFlows f = flows(settings(OAuthFlow::Device));
        OAuthTokens t;
        QCOMPARE(f.signIn(&t), ok);
        if (ok) {
            QCOMPARE(provider->requests(QStringLiteral("token")).size(), 2);
            return;
        }
        QCOMPARE(f.failure(), OAuthFailure::Network);
        QVERIFY2(f.error().contains(QStringLiteral("not an https:// address")), qPrintable(f.error()));
        QVERIFY(d.signInCodes.isEmpty());  // nothing was shown
        QVERIFY(provider->requests(QStringLiteral("token")).isEmpty());
    }

    void tokenLifetimeOutOfRange_data()
    {
        QTest::addColumn<QJsonValue>("expiresIn");
        QTest::newRow("huge") << QJsonValue(1e300);
        QTest::newRow("negative") << QJsonValue(-5);
    }
    void tokenLifetimeOutOfRange()
    {
        QFETCH(QJsonValue, expiresIn);
        QVERIFY(provider->control({{QStringLiteral("token_fields"), QJsonObject{{"expires_in", expiresIn}}},
                                   {QStringLiteral("device_script"), QJsonArray{QStringLiteral("approve")}}}));
        ScriptedDialogs d;
        OAuthFlows f = flows(settings(OAuthFlow::Device));
        OAuthTokens t;
        QVERIFY2(f.signIn(&t), qPrintable(f.error()));
        // The usual hour applies.
        const qint64 left = QDateTime::currentDateTimeUtc().secsTo(t.expiresAt);
        QVERIFY2(left > 3500 && left <= 3600, qPrintable(QString::number(left)));
    }

    // Only invalid_grant says the refresh token is dead; anything else leaves
    // it usable, and the next refresh with it works.
    void refreshFailures_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("failure");
        QTest::newRow("temporarily_unavailable") << "temporarily_unavailable" << int(OAuthFailure::Network);
        QTest::newRow("server_error (500)") << "server_error" << int(OAuthFailure::Network);
        QTest::newRow("503 without JSON") << "http_503" << int(OAuthFailure::Network);
        QTest::newRow("invalid_client") << "invalid_client" << int(OAuthFailure::Refused);
        QTest::newRow("invalid_grant") << "invalid_grant" << int(OAuthFailure::InvalidGrant);
    }
    void refreshFailures()
    {
        QFETCH(QString, answer);
        QVERIFY(provider->control({{QStringLiteral("device_script"), QJsonArray{QStringLiteral("approve")}}}));
        ScriptedDialogs d;
        OAuthFlows f = flows(settings(OAuthFlow::Device));
        OAuthTokens first, second;
        QVERIFY(f.signIn(&first));
        QVERIFY(provider->control({{QStringLiteral("refresh_script"), QJsonArray{answer}}}));
        QVERIFY(!f.refresh(first.refreshToken, &second));
        QTEST(int(f.failure()), "failure");
        QVERIFY(!f.error().contains(first.refreshToken));
        if (f.failure() != OAuthFailure::InvalidGrant)
            QVERIFY2(f.error().contains(QStringLiteral("The remembered sign-in is kept")), qPrintable(f.error()));
        QVERIFY2(f.refresh(first.refreshToken, &second), qPrintable(f.error()));
    }

    void refresh()
    {
        QVERIFY(provider->control({{QStringLiteral("device_script"), QJsonArray{QStringLiteral("approve")}}}));
        ScriptedDialogs d;
        OAuthFlows f = flows(settings(OAuthFlow::Device));
        OAuthTokens first, second;
        QVERIFY(f.signIn(&first));
        QVERIFY2(f.refresh(first.refreshToken, &second), qPrintable(f.error()));
        QVERIFY(second.accessToken != first.accessToken);
        QVERIFY(!second.refreshToken.isEmpty());
        const QJsonObject form =
            provider->requests(QStringLiteral("token")).last().value(QLatin1String("params")).toObject();
        QCOMPARE(form.value(QLatin1String("grant_type")).toString(), QStringLiteral("refresh_token"));
        QCOMPARE(form.value(QLatin1String("refresh_token")).toString(), first.refreshToken);

        QVERIFY(provider->control({{QStringLiteral("revoke"), QStringLiteral("all")}}));
        OAuthTokens third;
        QVERIFY(!f.refresh(second.refreshToken, &third));
        QCOMPARE(f.failure(), OAuthFailure::InvalidGrant);
        QVERIFY(f.error().contains(QStringLiteral("AADSTS70008")));
        QVERIFY(!f.error().contains(second.refreshToken));
    }
};

QTEST_GUILESS_MAIN(OAuthDeviceTest)
#include "test_oauth_device.moc"
