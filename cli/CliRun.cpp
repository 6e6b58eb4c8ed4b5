#include "CliRun.h"

#include "CliTerminal.h"
#include "core/Dialogs.h"
#include "mail/ImapClient.h"
#include "mail/signin/OAuthFlows.h"
#include "mail/signin/OAuthProviders.h"
#include "rules/ResultsModel.h"

#include <cstdio>

namespace vc::cli {

namespace {

// The command-line program as the host of a run: the account and rule come
// from the options, the rows go to the writer as each message is listed,
// progress to standard error, and Ctrl+C stops the walk like the Stop button.
class CliHost : public RunHost {
public:
    CliHost(const Options &o, ImapComponent &component, const QString &password, RowWriter &writer,
            std::shared_ptr<OAuthSession> signIn)
        : options_(o), component_(component), password_(password), progress_(o.progress), writer_(writer),
          signIn_(std::move(signIn))
    {
        members_.select(o.rule);
        // The between rule without duplicates looks for each item among all
        // rows listed so far; every other rule lets rows go once written.
        keepRows_ = !writer.streaming() || (o.rule == Rule::StartsWith && !o.params.duplicates);
    }
    ~CliHost() override { progress_.finish(); }

    std::shared_ptr<clsChilkatIMAP> connection() override { return conn_; }
    void setConnection(std::shared_ptr<clsChilkatIMAP> c) override { conn_ = std::move(c); }
    Account account() override
    {
        Account a;
        a.component = &component_;
        a.config = options_.config;
        a.username = options_.user;
        a.password = password_;
        a.errorLogPath = options_.errorLog;
        a.signIn = signIn_;
        if (!signIn_)
            a.tokenHint = QStringLiteral("The server also takes OAuth 2.0 sign-in, which this account may need: run "
                                         "again with --auth oauth2 and the client ID of your registered application "
                                         "(--oauth-client-id ID; see \"Signing in with OAuth 2.0\" in README.md).");
        return a;
    }
    ListingTarget listing() override { return {members_, options_.params, results_}; }
    QString folderName() override { return options_.folder; }
    void setBusy(bool) override {}
    void resetProgress() override { progress_.finish(); }
    void showProgress(const RunProgress &p) override { progress_.show(p.text); }
    void messageListed(const clsChilkatIMAP &c) override
    {
        progress_.show(progressText(c));
        passRowsOn();
    }
    bool stopRequested() override { return interruptRequested(); }
    // "Done." only after a complete run; otherwise what is missing, and why.
    void sayDone(const QString &shortfall) override
    {
        progress_.finish();
        dialogs().messageBox(shortfall.isEmpty() ? QStringLiteral("Done.") : shortfall);
    }

    // At the end: the rows of a padded layout, all at once.
    void passAllRowsOn()
    {
        if (!writer_.streaming())
            writer_.add(results_.texts());
    }

private:
    // Hands the rows not yet written to the writer.
    void passRowsOn()
    {
        if (!writer_.streaming())
            return;
        writer_.add(results_.texts().mid(written_));
        written_ = results_.count();
        if (!keepRows_) {
            results_.clear();
            written_ = 0;
        }
    }

    const Options &options_;
    ImapComponent &component_;
    QString password_;
    RuleMembers members_;
    ResultsModel results_;
    ProgressPrinter progress_;
    RowWriter &writer_;
    bool keepRows_ = true;
    qsizetype written_ = 0;
    std::shared_ptr<clsChilkatIMAP> conn_;
    std::shared_ptr<OAuthSession> signIn_;
};

const QString kClientIdHelp = QStringLiteral("Give it with --oauth-client-id ID or the environment variable %1.")
                                  .arg(QLatin1String(kClientIdVariable));

// The OAuth 2.0 session of --user when it signs in that way; null otherwise.
// *error: a usage error (a missing client ID or client secret).
std::shared_ptr<OAuthSession> signInSession(const Options &o, QString *error)
{
    if (o.plan.method != SignInMethod::OAuth2)
        return nullptr;
    OAuthSettings s = oauthSettingsFor(o.config.signIn, o.plan.provider, QString(), OAuthFlow::Device, error);
    if (!error->isEmpty())
        return nullptr;
    s.remember = s.useKeychain;
    s.requestTimeoutMs = o.config.timeoutMs;
    s.clientIdHelp = kClientIdHelp;
    if (s.tokenCommand.isEmpty() && s.clientId.isEmpty()) {
        const OAuthProvider *p = findOAuthProvider(s.provider);
        *error = OAuthFlows::missingClientIdText(p ? p->name : s.provider, kClientIdHelp);
        return nullptr;
    }
    return std::make_shared<OAuthSession>(s, o.user);
}

// Usage errors, --help and --version, the item files, the password; a status
// when the program ends here, nothing when it goes on to the run.
std::optional<int> prepare(ParseResult &parsed, QString *password)
{
    if (!parsed.ok()) {
        printError(parsed.error);
        std::fprintf(stderr, "Try '%s --help'.\n", kProgramName);
        return exitcode::Usage;
    }
    Options &o = parsed.options;
    if (o.help) {
        std::fputs(usageText().toLocal8Bit().constData(), stdout);
        return exitcode::Completed;
    }
    if (o.version) {
        std::printf("%s %s\n", kProgramName, VELLUMCAST_VERSION);
        return exitcode::Completed;
    }
    if (const auto err = loadItemFiles(o)) {
        printError(*err);
        return exitcode::Usage;
    }
    QString error;
    if (o.plan.method == SignInMethod::OAuth2)
        return std::nullopt;  // no password to read
    const std::optional<QString> pw = readPassword(o, &error);
    if (!pw) {
        printError(error);
        return exitcode::Usage;
    }
    *password = *pw;
    return std::nullopt;
}

}  // namespace

int exitStatus(RunOutcome outcome, bool interrupted)
{
    if (interrupted)
        return exitcode::Interrupted;
    switch (outcome) {
    case RunOutcome::Done:
    case RunOutcome::NoMessages: return exitcode::Completed;
    case RunOutcome::ConnectFailed: return exitcode::ConnectFailed;
    case RunOutcome::FolderNotSelected: return exitcode::FolderNotSelected;
    case RunOutcome::Stopped:
    case RunOutcome::Incomplete:
    case RunOutcome::Failed: return exitcode::Failure;
    }
    return exitcode::Failure;
}

int runExtraction(const Options &options, ImapComponent &component, const QString &password, const OutputSink &sink)
{
    QString error;
    std::shared_ptr<OAuthSession> signIn = signInSession(options, &error);
    if (!error.isEmpty()) {
        printError(error);
        return exitcode::Usage;
    }
    RowWriter writer(options.format, options.output, sink);
    if (!writer.open())
        return exitcode::Failure;
    CliHost host(options, component, password, writer, signIn);
    const RunOutcome outcome = ExtractEmail(host);
    host.resetProgress();
    const int status = exitStatus(outcome, interruptRequested());
    if (status != exitcode::Completed && status != exitcode::Interrupted && status != exitcode::Failure) {
        writer.discard();
        return status;
    }
    host.passAllRowsOn();
    if (!writer.finish())
        return exitcode::Failure;
    return status;
}

int cliMain(const QStringList &args)
{
    ParseResult parsed = parseArguments(args);
    QString password;
    if (const std::optional<int> status = prepare(parsed, &password))
        return *status;

    StderrDialogs boxes(QLatin1String(kProgramName) + QStringLiteral(": "));
    Dialogs *previous = setDialogs(&boxes);
    installInterruptHandler();
    ImapClient client;
    client.configure(parsed.options.config);
    // The rules read the plain-text body only: a message's HTML part is not
    // decoded when it has a plain-text one.
    DecodeNeeds needs;
    needs.htmlBody = false;
    client.setDecodeNeeds(needs);
    const int status = runExtraction(parsed.options, client, password);
    client.Disconnect();
    setDialogs(previous);
    return status;
}

}  // namespace vc::cli
