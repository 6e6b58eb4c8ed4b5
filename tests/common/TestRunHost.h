#pragma once
#include "extract/ExtractionRun.h"
#include "rules/Listing.h"
#include "rules/ResultsModel.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace vc::test {

// A run host without windows: a component, an account, one rule with fixed
// parameters and a results list the rows go to. It records what the run
// asked of it.
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
    QString folderName() override { return folder; }
    SearchFilter searchFilter() override { return filter; }
    MailCacheSettings mailCacheSettings() override { return cache; }
    void setBusy(bool busy) override;
    void clearResults() override { results.clear(); }
    void resetProgress() override;
    void showProgress(const RunProgress &p) override;
    void messageDelivered(const MailRecord &record) override;
    void showSignInStatus(const QString &text) override { signInStatus << text; }

    ImapComponent &imap;
    ConnectionConfig config;
    bool ssl = true;
    QString user = QStringLiteral("user"), password = QStringLiteral("pw");
    QString errorLog;                      // empty: the default error log
    std::shared_ptr<OAuthSession> signIn;  // non-null: OAuth 2.0 sign-in
    QString tokenHint;
    QString folder = QStringLiteral("Inbox");
    SearchFilter filter;      // empty: the walk goes by number over the whole folder
    MailCacheSettings cache;  // off: every message is fetched
    ExtractionRule rule;
    ResultsModel results;
    std::shared_ptr<clsChilkatIMAP> conn;

    // "setup" (an account was read), "set", "drop", "busy", "idle", "progress reset".
    QStringList events;
    QStringList progress;                // the progress texts shown
    QStringList signInStatus;            // what the sign-in said it was doing
    QList<int> uids;                     // the messages delivered, by number
    QList<MailRecord> delivered;         // the records themselves
    std::function<void(int)> onMessage;  // after message n was listed
};

// How a run ended as one word, for comparisons: the kind ("Completed",
// "Incomplete", "Stopped", "NoMessages"), "Failed:" and the stage ("Failed:Connect",
// "Failed:Login", "Failed:SignIn", "Failed:Select", "Failed:Search"), "+walk" when a failure came from
// the walk, and "+errors" after run-time errors.
QString outcomeName(const RunOutcome &outcome);

}  // namespace vc::test
