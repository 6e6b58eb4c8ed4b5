#include "CliRun.h"

#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/Product.h"
#include "mail/ImapClient.h"
#include "output/ResultsOutput.h"
#include "rules/ResultsModel.h"

#include <QFile>
#include <QObject>
#include <QSaveFile>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace vc::cli {

namespace {

std::atomic<bool> g_interrupt{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void onSigint(int)
{
    g_interrupt.store(true);
}

void printError(const QString &text)
{
    const QByteArray line = (QLatin1String(kProgramName) + QStringLiteral(": ") + text).toLocal8Bit();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
}

QString firstLine(const QByteArray &bytes)
{
    qsizetype end = bytes.size();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes.at(i) == '\n' || bytes.at(i) == '\r') {
            end = i;
            break;
        }
    }
    return QString::fromLocal8Bit(bytes.left(end));
}

QByteArray readStdinLine()
{
    const bool tty = ::isatty(STDIN_FILENO);
    termios saved{};
    bool restored = true;
    if (tty) {
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
        if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            restored = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0;
        }
    }
    QByteArray line;
    for (;;) {
        const int c = std::fgetc(stdin);
        if (c == EOF || c == '\n')
            break;
        line.append(char(c));
    }
    if (tty) {
        if (!restored)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// "Reading mail n of m" on standard error: one line per message, or one line
// rewritten in place on a terminal.
class ProgressPrinter {
public:
    explicit ProgressPrinter(bool on) : on_(on), tty_(::isatty(STDERR_FILENO)) {}
    void show(int current, int max)
    {
        if (!on_ || (current == lastCurrent_ && max == lastMax_))
            return;
        lastCurrent_ = current;
        lastMax_ = max;
        const QByteArray text = QStringLiteral("Reading mail %1 of %2").arg(current).arg(max).toLocal8Bit();
        if (tty_)
            std::fprintf(stderr, "\r%s\033[K", text.constData());
        else
            std::fprintf(stderr, "%s\n", text.constData());
        std::fflush(stderr);
        open_ = tty_;
    }
    void finish()
    {
        if (open_)
            std::fputs("\n", stderr);
        open_ = false;
        lastCurrent_ = lastMax_ = -1;
    }

private:
    bool on_, tty_;
    bool open_ = false;
    int lastCurrent_ = -1, lastMax_ = -1;
};

// Writes the result rows as they come. Row-by-row formats (text, comma, csv,
// jsonl) are encoded and written per message, so a long run never holds all
// its rows; the padded layouts need every row for their widths and are written
// at the end. An --output file is written through QSaveFile: it replaces the
// old file only when the run has something to write (see finish()).
class RowWriter {
public:
    RowWriter(Format format, QString path, OutputSink sink)
        : format_(format), path_(std::move(path)), sink_(std::move(sink))
    {}

    bool streaming() const { return format_ != Format::Space && format_ != Format::Tab; }

    void add(const QStringList &rows)
    {
        if (rows.isEmpty())
            return;
        if (!streaming()) {
            kept_ += rows;
            return;
        }
        QByteArray bytes = formatRows(rows, format_);
        if (format_ == Format::Comma)
            bytes.chop(2);  // the line's CR LF comes once, at the end
        write(bytes);
    }

    // Writes what is left and commits the output file; false (with the
    // reason printed) when anything could not be written.
    bool finish()
    {
        if (format_ == Format::Comma)
            write(QByteArrayLiteral("\r\n"));
        else if (!streaming())
            write(formatRows(kept_, format_));
        if (!path_.isEmpty() && !file_)
            write(QByteArray());  // a run without rows still leaves an (empty) file
        if (file_ && !failed_ && !file_->commit())
            fail(file_->errorString());
        if (failed_)
            printError(error_);
        return !failed_;
    }

    // Nothing is written, an existing output file stays as it was.
    void discard()
    {
        if (file_)
            file_->cancelWriting();
    }

private:
    void write(const QByteArray &bytes)
    {
        if (failed_)
            return;
        if (path_.isEmpty()) {
            if (!sink_(bytes))
                fail(QStringLiteral("cannot write the results to standard output"));
            return;
        }
        if (!file_) {
            file_ = std::make_unique<QSaveFile>(path_);
            if (!file_->open(QIODevice::WriteOnly)) {
                fail(QStringLiteral("cannot write '%1': %2").arg(path_, file_->errorString()));
                return;
            }
        }
        if (file_->write(bytes) != bytes.size())
            fail(QStringLiteral("cannot write '%1': %2").arg(path_, file_->errorString()));
    }

    void fail(const QString &reason)
    {
        if (failed_)
            return;
        failed_ = true;
        error_ = reason.startsWith(QStringLiteral("cannot"))
                     ? reason
                     : QStringLiteral("cannot write '%1': %2").arg(path_, reason);
        if (file_)
            file_->cancelWriting();
    }

    Format format_;
    QString path_;
    OutputSink sink_;
    std::unique_ptr<QSaveFile> file_;
    QStringList kept_;
    bool failed_ = false;
    QString error_;
};

class CliHost : public RunHost {
public:
    CliHost(const Options &o, ImapComponent &component, const QString &password, RowWriter &writer)
        : options_(o), component_(component), password_(password), progress_(o.progress), writer_(writer)
    {
        members_.select(o.rule);
        // The between rule without duplicates looks for each item among all
        // rows listed so far; every other rule lets rows go once written.
        keepRows_ = !writer.streaming() || (o.rule == Rule::StartsWith && !o.params.duplicates);
    }
    ~CliHost() override { progress_.finish(); }

    std::shared_ptr<clsChilkatIMAP> connection() override { return conn_; }
    void setConnection(std::shared_ptr<clsChilkatIMAP> c) override { conn_ = std::move(c); }

    std::shared_ptr<clsChilkatIMAP> setUpConnection() override
    {
        auto c = newConnection(&component_, options_.config, options_.user, password_);
        c->setErrorLogPath(options_.errorLog);
        clsChilkatIMAP *raw = c.get();
        // The stop request reaches the object through the component's abort
        // check (while an operation waits) and between messages.
        QObject::connect(
            &component_, &ImapComponent::AbortCheck, &context_,
            [raw](int &abort) {
                if (interruptRequested()) {
                    raw->AbortProcess = true;
                    abort = -1;
                }
            },
            Qt::DirectConnection);
        QObject::connect(raw, &clsChilkatIMAP::ScrapProgress, &context_, [this, raw](int) {
            noteInterrupt(raw);
            progress_.show(raw->CurrentLocation(), raw->MaxRecord());
        });
        QObject::connect(raw, &clsChilkatIMAP::MailExtractListing, &context_,
                         [this, raw](const QString &From, const QString &FromName, const QString &FromAddress,
                                     const QString &Subject, const QString &ReceivedDate, const QString &PlainTextBody,
                                     const QString &HTMLTextBody, int uID) {
                             progress_.show(raw->CurrentLocation(), raw->MaxRecord());
                             MailRecord m{From,         FromName,      FromAddress,  Subject,
                                          ReceivedDate, PlainTextBody, HTMLTextBody, uID};
                             listMessage(m, members_, options_.params, results_);
                             passRowsOn();
                             noteInterrupt(raw);
                         });
        return c;
    }

    QString folderName() override { return options_.folder; }
    void clearResults() override
    {
        results_.clear();
        written_ = 0;
    }
    void setBusy(bool) override {}
    void resetProgress() override { progress_.finish(); }
    // "Done." only after a complete run; otherwise what is missing, and why.
    void sayDone(const QString &shortfall) override
    {
        progress_.finish();
        dialogs().messageBox(shortfall.isEmpty() ? QStringLiteral("Done.") : shortfall);
    }

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
    // At the end: the rows of a padded layout, all at once.
    void passAllRowsOn()
    {
        if (!writer_.streaming())
            writer_.add(results_.texts());
    }

private:
    static void noteInterrupt(clsChilkatIMAP *c)
    {
        if (interruptRequested())
            c->AbortProcess = true;
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
    QObject context_;  // owns the signal connections of this run
};

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

std::optional<QString> readPassword(const Options &o, QString *error)
{
    if (!o.passwordEnv.isEmpty()) {
        if (!qEnvironmentVariableIsSet(o.passwordEnv.toLocal8Bit().constData())) {
            *error = QStringLiteral("environment variable %1 is not set").arg(o.passwordEnv);
            return std::nullopt;
        }
        return QString::fromLocal8Bit(qgetenv(o.passwordEnv.toLocal8Bit().constData()));
    }
    if (!o.passwordFile.isEmpty()) {
        QFile f(o.passwordFile);
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read password file '%1': %2").arg(o.passwordFile, f.errorString());
            return std::nullopt;
        }
        return firstLine(f.readAll());
    }
    return QString::fromLocal8Bit(readStdinLine());
}

void installInterruptHandler()
{
    struct sigaction sa {};
    sa.sa_handler = onSigint;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;  // a second Ctrl+C ends the program
    ::sigaction(SIGINT, &sa, nullptr);
}

bool interruptRequested()
{
    return g_interrupt.load();
}
void requestInterrupt()
{
    g_interrupt.store(true);
}
void clearInterrupt()
{
    g_interrupt.store(false);
}

bool writeToStdout(const QByteArray &bytes)
{
    const size_t n = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    return n == size_t(bytes.size()) && std::fflush(stdout) == 0;
}

int runExtraction(const Options &options, ImapComponent &component, const QString &password, const OutputSink &sink)
{
    RowWriter writer(options.format, options.output, sink);
    CliHost host(options, component, password, writer);
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
    if (!o.config.caFile.isEmpty() && !QFile::exists(o.config.caFile)) {
        printError(QStringLiteral("CA file '%1' does not exist").arg(o.config.caFile));
        return exitcode::Usage;
    }
    QString error;
    const std::optional<QString> password = readPassword(o, &error);
    if (!password) {
        printError(error);
        return exitcode::Usage;
    }

    StderrDialogs boxes(QLatin1String(kProgramName) + QStringLiteral(": "));
    Dialogs *previous = setDialogs(&boxes);
    installInterruptHandler();
    ImapClient client;
    client.configure(o.config);
    const int status = runExtraction(o, client, *password);
    client.Disconnect();
    setDialogs(previous);
    return status;
}

}  // namespace vc::cli
