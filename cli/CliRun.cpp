#include "CliRun.h"

#include "CliFolders.h"
#include "CliOutcome.h"
#include "CliRecords.h"
#include "CliTerminal.h"
#include "core/Dialogs.h"
#include "core/DialogsSignInUi.h"
#include "core/SecretMemory.h"
#include "extract/AttachmentSaver.h"
#include "extract/LocalCopyImap.h"
#include "extract/RunTemplate.h"
#include "extract/WalkCache.h"
#include "mail/ImapClient.h"
#include "mail/signin/OAuthFlows.h"
#include "mail/signin/OAuthProviders.h"
#include "mail/signin/OAuthSession.h"

#include <QSet>

#include <cstdio>
#include <unistd.h>

namespace vc::cli {

namespace {

// Where the run keeps decoded mail; off with --no-cache or VC_NO_CACHE set
// (to anything but 0) in the environment.
MailCacheSettings cacheSettings(const Options &o)
{
    MailCacheSettings s;
    s.on = !o.noCache && !mailCacheOffInEnvironment();
    s.folder = o.cacheDir;
    return s;
}

// --forget-cache: what the local mail copy keeps of the account goes; the
// exit status.
int forgetCache(const Options &o)
{
    MailCache cache(o.cacheDir);
    const MailCache::Opened opened = cache.open();
    if (!opened.warning.isEmpty())
        printError(opened.warning);
    if (!opened.ok) {
        printError(opened.error);
        return exitcode::Failure;
    }
    const MailCacheKey key = mailCacheKey(o.user, o.config.host, o.config.port);
    const qint64 dropped = cache.forgetAccount(key.account, key.server);
    printError(QStringLiteral("Forgot %1 cached message(s) of %2 on %3.").arg(dropped).arg(o.user, key.server));
    return exitcode::Completed;
}

// Each warning of the local mail copy once, on standard error.
void noteCache(const RunOutcome &outcome)
{
    for (const QString &warning : outcome.walk.cache.warnings)
        printError(warning);
}

// The command-line program as the host of a run: the account and rule come
// from the options, each message's rows go straight to the writer, progress
// to standard error, and Ctrl+C stops the walk like the Stop button.
class CliHost : public RunHost {
public:
    CliHost(const Options &o, ImapComponent &component, const QString &password, RowWriter &writer,
            RecordOutput *records, std::shared_ptr<OAuthSession> signIn, AttachmentSaver *saver,
            NewOnlyRun *newOnly = nullptr)
        : options_(o), component_(component), password_(password), progress_(o.progress), writer_(writer),
          records_(records), signIn_(std::move(signIn)), saver_(saver), newOnly_(newOnly),
          // The between rule without duplicates looks for each item among all
          // rows listed so far; every other rule lets rows go once written.
          keepListed_(o.rule.rule == Rule::Between && !o.rule.showDuplicates),
          // Rows written out before the message is let go need not be copies of its text.
          rowText_(!keepListed_ && !records && writer.streaming() ? rules::RowText::Views : rules::RowText::Copies)
    {}
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
    QString folderName() override { return options_.folder; }
    QStringList folderNames() override
    {
        if (options_.allFolders)
            return options_.folders;  // only those named walk in trash or junk too
        return options_.folders.isEmpty() ? QStringList{options_.folder} : options_.folders;
    }
    bool allFolders() override { return options_.allFolders; }
    std::optional<quint32> newMailAbove(const QString &folder, quint32 uidValidity) override
    {
        if (!newOnly_)
            return std::nullopt;
        return newOnly_->above(folder, uidValidity);
    }
    SearchFilter searchFilter() override { return options_.filter; }
    void setBusy(bool) override {}
    void clearResults() override {}
    void resetProgress() override { progress_.finish(); }
    void showProgress(const RunProgress &p) override { progress_.show(p.text); }
    void messageDelivered(const MailRecord &record) override
    {
        if (options_.compiledTemplate) {
            progress_.show(progressText(record.position, record.total));
            progress_.aside([&] { records_->addMessage(record); });
            noteDelivered(record);
            return;
        }
        const QStringList rows = listMessage(
            record, options_.rule, [this](const QString &item) { return listed_.contains(item); }, rowText_);
        if (keepListed_) {
            for (const QString &row : rows)
                listed_.insert(row);
        }
        progress_.show(progressText(record.position, record.total));
        progress_.aside([&] {
            if (records_)
                records_->addRuleRows(record, rows);
            else
                writer_.add(rows);
        });
        noteDelivered(record);
    }
    // Output that can no longer be written also ends the run: a watch would
    // otherwise go on reading mail whose rows go nowhere.
    bool stopRequested() override
    {
        return interruptRequested() || writer_.failed() || (records_ && records_->failed());
    }
    AttachmentRequest attachmentRequest() override { return {options_.attachments, saver_}; }
    WatchRequest watchRequest() override
    {
        WatchRequest w;
        w.on = options_.watch;
        w.pollSeconds = options_.pollSeconds;
        w.exitAfter = options_.watchExitAfter;
        w.timeoutSeconds = options_.watchTimeout;
        return w;
    }
    // What the watch tells goes to standard error, a line each.
    void watchEvent(const WatchEvent &event) override
    {
        progress_.aside([&] { dialogs().messageBox(event.text); });
        if (event.kind == WatchEvent::Started && !watching_) {
            watching_ = true;
            // The walk's rows are out (a watch writes each message's rows at
            // once): its marks move now, not when the watch ends.
            if (flushRows() && newOnly_)
                newOnly_->commit();
        }
    }
    MailCacheSettings mailCacheSettings() override { return cacheSettings(options_); }

private:
    // --new-only: a walked message counts once the run's output is committed;
    // a watched one as soon as its rows are written, so that a watch ended in
    // any way neither repeats nor skips a message next time.
    void noteDelivered(const MailRecord &record)
    {
        if (!watching_) {
            if (newOnly_)
                newOnly_->delivered(record);
            return;
        }
        if (!flushRows() || !newOnly_)
            return;
        newOnly_->watched(record);
        newOnly_->commit();
    }
    // Standard output holds rows for a while; a watched message's rows go out
    // with it.
    bool flushRows() { return records_ ? records_->flush() : writer_.flush(); }

    const Options &options_;
    ImapComponent &component_;
    QString password_;
    ProgressPrinter progress_;
    RowWriter &writer_;
    RecordOutput *records_;  // a template's rows, or rule rows as records; null: rule rows by `writer_`
    std::shared_ptr<OAuthSession> signIn_;
    AttachmentSaver *saver_;
    NewOnlyRun *newOnly_;    // --new-only
    bool watching_ = false;  // the walk is over and the watch has begun
    bool keepListed_;
    rules::RowText rowText_;
    QSet<QString> listed_;
    std::shared_ptr<clsChilkatIMAP> conn_;
};

const QString kClientIdHelp = QStringLiteral("Give it with --oauth-client-id ID or the environment variable %1.")
                                  .arg(QLatin1String(kClientIdVariable));

// The OAuth 2.0 session of --user when it signs in that way; null otherwise.
// *error: a usage error (a missing client ID or client secret).
std::shared_ptr<OAuthSession> signInSession(const Options &o, SignInUi &ui, QString *error)
{
    if (o.plan.method != SignInMethod::OAuth2 || o.offline)
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
    return std::make_shared<OAuthSession>(s, o.user, ui);
}

// Rows that go to standard output on a terminal are escaped; CSV cells are
// neutralised unless --raw-cells.
RowSafety rowSafety(const Options &o, const OutputSink &sink)
{
    using Writer = bool (*)(const QByteArray &);
    const Writer *target = sink.target<Writer>();
    const bool toStdout = o.output.isEmpty() && target && *target == &writeToStdout;
    return {toStdout && ::isatty(STDOUT_FILENO), o.rawCells};
}

// A run through the record writers opens its output; null with `status` set
// when it ends here. Rule rows in the plain formats need none.
std::unique_ptr<RecordOutput> openRecords(const Options &o, const OutputSink &sink, bool terminal, int *status)
{
    *status = exitcode::Completed;
    if (!writesRecords(o))
        return nullptr;
    if (o.format == Format::Xlsx && terminal) {
        printError(QStringLiteral("a workbook is not written to a terminal; give --output FILE"));
        *status = exitcode::Usage;
        return nullptr;
    }
    std::unique_ptr<RecordOutput> out = RecordOutput::open(o, sink, terminal);
    if (!out)
        *status = exitcode::Failure;
    return out;
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
    if (const auto err = loadTemplate(o)) {
        printError(*err);
        return exitcode::Usage;
    }
    if (o.forgetCache)
        return forgetCache(o);
    if (o.resetNewOnly && !o.newOnly) {
        NewOnlyMark marks;
        return resetNewOnly(o, marks) ? exitcode::Completed : exitcode::Failure;
    }
    QString error;
    if (o.plan.method == SignInMethod::OAuth2 || o.offline)
        return std::nullopt;  // no password to read
    const std::optional<QString> pw = readPassword(o, &error);
    if (!pw) {
        printError(error);
        return exitcode::Usage;
    }
    *password = *pw;
    return std::nullopt;
}

// The folder of --save-attachments, opened; null without the option. *error:
// why it cannot be used.
std::unique_ptr<AttachmentSaver> openAttachmentFolder(const Options &o, QString *error)
{
    if (o.saveAttachments.isEmpty())
        return nullptr;
    auto saver = std::make_unique<AttachmentSaver>(o.saveAttachments, o.attachmentGlobs);
    if (!saver->open(error))
        return nullptr;
    return saver;
}

// SIGTERM is how a watch is meant to end: the run then ends as completed,
// also when it came during the walk (the rows so far are written).
int watchStatus(const RunOutcome &outcome, int status)
{
    if (!terminateRequested())
        return status;
    const int plain = exitStatus(outcome, false);
    return outcome.kind == RunOutcome::Kind::Stopped ? exitcode::Completed : plain;
}

// What the run did with attachments, on standard error; a failed save makes a
// run that would have completed end with status 1.
int noteAttachments(const RunOutcome &outcome, int status)
{
    if (outcome.attachmentTextProblems > 0)
        dialogs().messageBox(QStringLiteral("%1 attachment(s) gave no text or only part of it; the error log says "
                                            "which and why.")
                                 .arg(outcome.attachmentTextProblems));
    if (outcome.attachmentSaveFailures == 0)
        return status;
    dialogs().messageBox(QStringLiteral("%1 attachment(s) could not be saved (%2 saved); the error log says which "
                                        "and why.")
                             .arg(outcome.attachmentSaveFailures)
                             .arg(outcome.attachmentsSaved));
    return status == exitcode::Completed ? exitcode::Failure : status;
}

// --new-only (after --reset-new-only, when given): the marks can be read.
// False with the reason printed.
bool startNewOnly(const Options &o, NewOnlyMark &marks, std::optional<NewOnlyRun> &run)
{
    if (o.resetNewOnly && !resetNewOnly(o, marks))
        return false;
    run.emplace(o, marks);
    if (const std::optional<QString> error = run->check()) {
        printError(*error);
        return false;
    }
    return true;
}

}  // namespace

int runExtraction(const Options &options, ImapComponent &component, const QString &password, const OutputSink &sink)
{
    QString error;
    DialogsSignInUi ui;  // on the terminal: standard error, as every box of this program
    std::shared_ptr<OAuthSession> signIn = signInSession(options, ui, &error);
    if (!error.isEmpty()) {
        printError(error);
        return exitcode::Usage;
    }
    const std::unique_ptr<AttachmentSaver> saver = openAttachmentFolder(options, &error);
    if (!error.isEmpty()) {
        printError(QStringLiteral("--save-attachments: ") + error);
        return exitcode::Failure;
    }
    // Signs in before anything is opened to list the folders, or to learn
    // whether the server has Gmail's labels; the run then goes on with that
    // connection object.
    RowWriter none(Format::Text, QString(), sink);
    CliHost signedIn(options, component, password, none, nullptr, signIn, nullptr);
    if (options.listFolders)
        return listFolders(signedIn, component);
    std::shared_ptr<clsChilkatIMAP> early;
    if (!options.filter.gmailLabel.isEmpty()) {
        if (const int status = checkLabels(signedIn, component, early); status != exitcode::Completed)
            return status;
    }
    NewOnlyMark marks;
    std::optional<NewOnlyRun> newOnly;
    if (options.newOnly && !startNewOnly(options, marks, newOnly))
        return exitcode::Failure;
    const RowSafety safety = rowSafety(options, sink);
    int opened = exitcode::Completed;
    std::unique_ptr<RecordOutput> records = openRecords(options, sink, safety.terminal, &opened);
    if (opened != exitcode::Completed)
        return opened;
    RowWriter writer(options.format, records ? QString() : options.output, sink, safety);
    writer.setByteOrderMark(options.excel);
    writer.setAppend(options.watch);
    if (!records && !writer.open())
        return exitcode::Failure;
    RunOutcome outcome;
    {
        CliHost host(options, component, password, writer, records.get(), signIn, saver.get(),
                     newOnly ? &*newOnly : nullptr);
        host.setConnection(early);
        outcome = ExtractEmail(host);
    }
    noteCache(outcome);
    for (const QString &message : outcomeMessages(outcome)) {
        // A watch that began on an empty folder has said what it read.
        if (outcome.watch.ran && outcome.kind == RunOutcome::Kind::NoMessages)
            break;
        dialogs().messageBox(message);
    }
    const int status = noteAttachments(outcome, watchStatus(outcome, exitStatus(outcome, interruptRequested())));
    if (status != exitcode::Completed && status != exitcode::Interrupted && status != exitcode::Failure) {
        if (records)
            records->discard();
        else
            writer.discard();
        return status;
    }
    if (records ? !records->finish() : !writer.finish())
        return exitcode::Failure;
    // The marks move only once the rows are out: a run killed before this
    // point has committed no output file and moved no mark.
    if (newOnly && !newOnly->commit())
        return exitcode::Failure;
    return status;
}

int cliMain(const QStringList &args)
{
    ParseResult parsed = parseArguments(args);
    if (parsed.ok() && !parsed.options.help && !parsed.options.version)
        keepSecretsOutOfDumps();  // a password or tokens follow
    QString password;
    if (const std::optional<int> status = prepare(parsed, &password))
        return *status;

    TerminalDialogs boxes(QLatin1String(kProgramName) + QStringLiteral(": "));
    Dialogs *previous = setDialogs(&boxes);
    installInterruptHandler();
    if (parsed.options.watch)
        installTerminateHandler();
    // The rules and templates read the plain-text body only: a message's HTML
    // part is not decoded when it has a plain-text one. A template may want
    // header fields and the attachment list besides.
    DecodeNeeds needs =
        parsed.options.compiledTemplate ? decodeNeedsOf(*parsed.options.compiledTemplate) : DecodeNeeds();
    needs.htmlBody = false;
    int status = exitcode::Completed;
    if (parsed.options.offline) {
        LocalCopyImap copy(cacheSettings(parsed.options));
        copy.setDecodeNeeds(needs);
        status = runExtraction(parsed.options, copy, password);
    } else {
        ImapClient client;
        client.configure(parsed.options.config);
        client.setDecodeNeeds(needs);
        status = runExtraction(parsed.options, client, password);
        client.logOutWithoutWaiting();
    }
    setDialogs(previous);
    return status;
}

}  // namespace vc::cli
