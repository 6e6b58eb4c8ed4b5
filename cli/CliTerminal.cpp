#include "CliTerminal.h"

#include <QFile>

#include <atomic>
#include <csignal>
#include <cstdio>
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

}  // namespace

void printError(const QString &text)
{
    const QByteArray line = (QLatin1String(kProgramName) + QStringLiteral(": ") + text).toLocal8Bit();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
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

ProgressPrinter::ProgressPrinter(bool on) : on_(on), tty_(::isatty(STDERR_FILENO)) {}

void ProgressPrinter::show(const QString &text)
{
    if (!on_ || text == last_)
        return;
    last_ = text;
    const QByteArray bytes = text.toLocal8Bit();
    if (tty_)
        std::fprintf(stderr, "\r%s\033[K", bytes.constData());
    else
        std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
    open_ = tty_;
}

void ProgressPrinter::finish()
{
    if (open_)
        std::fputs("\n", stderr);
    open_ = false;
    last_.clear();
}

}  // namespace vc::cli
