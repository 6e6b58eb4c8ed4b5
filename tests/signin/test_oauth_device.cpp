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
