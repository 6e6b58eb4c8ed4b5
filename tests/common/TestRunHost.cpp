#include "TestRunHost.h"

#include "TestServer.h"

namespace vc::test {

TestRunHost::TestRunHost(ImapComponent &component, Rule r) : imap(component)
{
    rule.rule = r;
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
    a.ssl = ssl;
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

void TestRunHost::messageDelivered(const MailRecord &record)
{
    results.appendRows(listMessage(record, rule, [this](const QString &item) { return results.contains(item); }));
    uids << record.uID;
    delivered << record;
    if (onMessage)
        onMessage(record.uID);
}

QString outcomeName(const RunOutcome &outcome)
{
    static const char *const kinds[] = {"Completed", "Incomplete", "Failed", "Stopped", "NoMessages"};
    static const char *const stages[] = {"Connect", "Login", "SignIn", "Select", "List", "Search"};
    QString name = QLatin1String(kinds[int(outcome.kind)]);
    if (outcome.failure)
        name += QLatin1Char(':') + QLatin1String(stages[int(outcome.failure->stage)]);
    if (outcome.failure && outcome.inWalk)
        name += QStringLiteral("+walk");
    if (outcome.runTimeErrors > 0)
        name += QStringLiteral("+errors");
    return name;
}

}  // namespace vc::test
