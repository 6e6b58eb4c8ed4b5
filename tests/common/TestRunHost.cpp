#include "TestRunHost.h"

#include "TestServer.h"

namespace vc::test {

TestRunHost::TestRunHost(ImapComponent &component, Rule rule) : imap(component)
{
    members.select(rule);
}

std::unique_ptr<TestRunHost> TestRunHost::onTestServer(ImapComponent &imap, const QString &log, Rule rule,
                                                       const QString &user, const QString &password)
{
    auto host = std::make_unique<TestRunHost>(imap, rule);
    host->config = TestServer::config();
    host->user = user.isEmpty() ? TestServer::user() : user;
    host->password = user.isEmpty() ? TestServer::password() : password;
    host->errorLog = log;
    return host;
}

void TestRunHost::setConnection(std::shared_ptr<clsChilkatIMAP> c)
{
    events << (c ? QStringLiteral("set") : QStringLiteral("drop"));
    conn = std::move(c);
}

Account TestRunHost::account()
{
    events << QStringLiteral("setup");
    Account a;
    a.component = &imap;
    a.config = config;
    a.username = user;
    a.password = password;
    a.errorLogPath = errorLog;
    a.signIn = signIn;
    a.tokenHint = tokenHint;
    return a;
}

void TestRunHost::setBusy(bool busy)
{
    events << (busy ? QStringLiteral("busy") : QStringLiteral("idle"));
}

void TestRunHost::resetProgress()
{
    events << QStringLiteral("progress reset");
}

void TestRunHost::showProgress(const RunProgress &p)
{
    progress << p.text;
}

void TestRunHost::messageListed(const clsChilkatIMAP &c)
{
    uids << c.CurrentLocation();
    if (onMessage)
        onMessage(c.CurrentLocation());
}

}  // namespace vc::test
