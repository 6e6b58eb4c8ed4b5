#pragma once
#include "extract/ExtractionRun.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace vc::test {

// A run host without windows: a component, an account, one rule with fixed
// parameters and a results list. It records what the run asked of it.
class TestRunHost : public RunHost {
public:
    explicit TestRunHost(ImapComponent &imap, Rule rule = Rule::AllEmailData);

    // A host that signs in to the throw-away test server with `user` (the
    // tester when empty) and writes its fetch log to `log`.
    static std::unique_ptr<TestRunHost> onTestServer(ImapComponent &imap, const QString &log,
                                                     Rule rule = Rule::AllEmailData, const QString &user = QString(),
                                                     const QString &password = QString());

    std::shared_ptr<clsChilkatIMAP> connection() override { return conn; }
    void setConnection(std::shared_ptr<clsChilkatIMAP> c) override;
    Account account() override;
    ListingTarget listing() override { return {members, params, results}; }
    QString folderName() override { return folder; }
    void setBusy(bool busy) override;
    void resetProgress() override;
    void showProgress(const RunProgress &p) override;
    void messageListed(const clsChilkatIMAP &c) override;

    ImapComponent &imap;
    ConnectionConfig config;
    QString user = QStringLiteral("user"), password = QStringLiteral("pw");
    QString errorLog;                      // empty: the default error log
    std::shared_ptr<OAuthSession> signIn;  // non-null: OAuth 2.0 sign-in
    QString tokenHint;
    QString folder = QStringLiteral("Inbox");
    RuleMembers members;
    FixedRuleParams params;
    ResultsModel results;
    std::shared_ptr<clsChilkatIMAP> conn;

    void showSignInStatus(const QString &text) override { signInStatus << text; }

    // "setup" (an account was read), "set", "drop", "busy", "idle", "progress reset".
    QStringList events;
    QStringList progress;                // the progress texts shown
    QStringList signInStatus;            // what the sign-in said it was doing
    QList<int> uids;                     // the messages listed, by number
    std::function<void(int)> onMessage;  // after message n was listed
};

}  // namespace vc::test
