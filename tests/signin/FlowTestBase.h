#pragma once
// What the flow tests share: the provider stand-in, reset before each test, and
// sign-in settings and flows pointed at it.
#include "OAuthTestProvider.h"
#include "ScriptedDialogs.h"
#include "mail/signin/OAuthFlows.h"

#include <QObject>
#include <QStringList>
#include <QtTest>

#include <functional>
#include <memory>

namespace vc::test {

class FlowTestBase : public QObject {
    Q_OBJECT
protected:
    std::unique_ptr<OAuthTestProvider> provider;
    QStringList statuses;  // the status texts the flows reported

    OAuthSettings settings(OAuthFlow flow) const
    {
        OAuthSettings s;
        s.provider = QStringLiteral("microsoft");
        s.authority = provider->authority();
        s.clientId = QStringLiteral("test-client");
        s.flow = flow;
        s.requestTimeoutMs = 5000;
        s.signInTimeoutMs = 15000;
        s.useKeychain = false;
        return s;
    }
    OAuthFlows flows(const OAuthSettings &s, std::function<bool()> aborted = {})
    {
        return OAuthFlows(
            s, QStringLiteral("tester@outlook.com"), std::move(aborted), [this](const QString &t) { statuses << t; },
            installedDialogsUi());
    }

private Q_SLOTS:
    void initTestCase()
    {
        provider = OAuthTestProvider::start();
        QVERIFY2(provider, "the provider stand-in did not start");
    }
    void init()
    {
        QVERIFY(provider->control({{QStringLiteral("reset"), true}, {QStringLiteral("device_interval"), 1}}));
        statuses.clear();
    }
};

}  // namespace vc::test
