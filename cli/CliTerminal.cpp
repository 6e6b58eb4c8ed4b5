#include "CliTerminal.h"

#include "core/StdoutBuffer.h"
#include "output/SafeText.h"

#include <QFile>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <optional>
#include <sys/stat.h>
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

std::atomic<bool> g_terminate{false};

extern "C" void onSigterm(int)
{
    g_terminate.store(true);
    g_interrupt.store(true);
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

// While the password prompt has echo off: the terminal's settings to put
// back should a signal end the program there (Ctrl+C, a hang-up, kill).
termios g_echoingTerminal{};
volatile std::sig_atomic_t g_echoOff = 0;
constexpr int kPromptSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};

extern "C" void restoreEchoAndEnd(int signal)
{
    // Only async-signal-safe calls: put the settings back, then end as the
    // signal would have ended the program.
    if (g_echoOff)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_echoingTerminal);
    (void)!::write(STDERR_FILENO, "\n", 1);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Turns echo off for the prompt; the destructor turns it back on and puts the
// signal handlers back as they were.
class QuietTerminal {
public:
    QuietTerminal()
    {
        if (::tcgetattr(STDIN_FILENO, &g_echoingTerminal) != 0)
            return;
        struct sigaction sa {};
        sa.sa_handler = restoreEchoAndEnd;
        sigemptyset(&sa.sa_mask);
        for (size_t i = 0; i < std::size(kPromptSignals); ++i)
            ::sigaction(kPromptSignals[i], &sa, &previous_[i]);
        termios quiet = g_echoingTerminal;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        // Marked before echo goes off: a signal that comes as soon as it is
        // off still puts it back (putting back settings that never changed
        // is harmless).
        g_echoOff = 1;
        if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0)
            g_echoOff = 0;
        active_ = true;
    }
    ~QuietTerminal()
    {
        if (!active_)
            return;
        if (g_echoOff)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_echoingTerminal);
        g_echoOff = 0;
        for (size_t i = 0; i < std::size(kPromptSignals); ++i)
            ::sigaction(kPromptSignals[i], &previous_[i], nullptr);
    }
    QuietTerminal(const QuietTerminal &) = delete;
    QuietTerminal &operator=(const QuietTerminal &) = delete;

private:
    struct sigaction previous_[std::size(kPromptSignals)]{};
    bool active_ = false;
};

QByteArray readStdinLine()
{
    const bool tty = ::isatty(STDIN_FILENO);
    std::optional<QuietTerminal> quiet;
    if (tty) {
        stdoutbuffer::toStderr("Password: ");
        quiet.emplace();
    }
    QByteArray line;
    for (;;) {
        const int c = std::fgetc(stdin);
        if (c == EOF || c == '\n')
            break;
        line.append(char(c));
    }
    if (tty) {
        quiet.reset();
        std::fputs("\n", stderr);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

}  // namespace

QString forStream(const QString &text, int fd)
{
    if (!::isatty(fd))
        return text;
    QStringList lines = boxTextForDisplay(text).split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = safetext::forTerminal(line);
    return lines.join(QLatin1Char('\n'));
}

BoxAnswer TerminalDialogs::messageBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title)
{
    return StderrDialogs::messageBox(forStream(text, STDERR_FILENO), buttons, icon, title);
}

void TerminalDialogs::showSignInCode(const QString &message, const QString &code, const QUrl &address,
                                     std::function<void()> cancel)
{
    StderrDialogs::showSignInCode(forStream(message, STDERR_FILENO), forStream(code, STDERR_FILENO), address,
                                  std::move(cancel));
}

void printError(const QString &text)
{
    const QByteArray line =
        (QLatin1String(kProgramName) + QStringLiteral(": ") + forStream(text, STDERR_FILENO)).toLocal8Bit();
    stdoutbuffer::toStderr(line + '\n');
}

std::optional<QString> readPassword(const Options &o, QString *error)
{
    if (!o.passwordEnv.isEmpty()) {
        if (!qEnvironmentVariableIsSet(o.passwordEnv.toLocal8Bit().constData())) {
            *error = QStringLiteral("environment variable %1 is not set").arg(o.passwordEnv);
            return std::nullopt;
        }
        const QByteArray name = o.passwordEnv.toLocal8Bit();
        const QString password = QString::fromLocal8Bit(qgetenv(name.constData()));
        qunsetenv(name.constData());
        return password;
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

void installTerminateHandler()
{
    struct sigaction sa {};
    sa.sa_handler = onSigterm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;  // a second SIGTERM ends the program
    ::sigaction(SIGTERM, &sa, nullptr);
}

bool terminateRequested()
{
    return g_terminate.load();
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
    g_terminate.store(false);
}

namespace {

// True when both descriptors are the same terminal.
bool sameTerminal(int a, int b)
{
    struct stat sa {
    }, sb{};
    return ::isatty(a) && ::isatty(b) && ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_rdev == sb.st_rdev;
}

}  // namespace

ProgressPrinter::ProgressPrinter(bool on)
    : on_(on), tty_(::isatty(STDERR_FILENO)), sharesTerminal_(sameTerminal(STDOUT_FILENO, STDERR_FILENO))
{}

void ProgressPrinter::show(const QString &text)
{
    if (!on_ || text == last_)
        return;
    last_ = text;
    draw();
}

void ProgressPrinter::draw()
{
    const QByteArray bytes = last_.toLocal8Bit();
    if (tty_)
        std::fprintf(stderr, "\r%s\033[K", bytes.constData());
    else
        std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
    open_ = tty_;
}

void ProgressPrinter::aside(const std::function<void()> &write)
{
    const bool clear = open_ && sharesTerminal_;
    if (clear) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        open_ = false;
    }
    write();
    if (clear) {
        std::fflush(stdout);
        draw();
    }
}

void ProgressPrinter::finish()
{
    if (open_)
        std::fputs("\n", stderr);
    open_ = false;
    last_.clear();
}

}  // namespace vc::cli
