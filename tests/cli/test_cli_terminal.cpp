// vellumcast-cli on a terminal: Ctrl+C at the hidden password prompt ends the
// program and leaves the terminal echoing again; what a sender or a server
// wrote reaches the terminal with its escape sequences shown, not obeyed,
// while an output file keeps the bytes as they came.
#include "CliRun.h"
#include "CliTerminal.h"
#include "FakeImapServer.h"
#include "TestFiles.h"
#include "mail/ImapClient.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The fake server speaks plain IMAP; the run asks for TLS as it always does.
class PlainImapClient : public vc::ImapClient {
public:
    void setSsl(bool) override { vc::ImapClient::setSsl(false); }
};

// Standard output and error on a new pseudo-terminal for as long as it lives;
// what the terminal received is in `seen`.
class OnTerminal {
public:
    OnTerminal()
    {
        int slave = -1;
        if (::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read);
        QObject::connect(notifier_, &QSocketNotifier::activated, [this] { drain(); });
        std::fflush(stdout);
        std::fflush(stderr);
        out_ = ::dup(STDOUT_FILENO);
        err_ = ::dup(STDERR_FILENO);
        ::dup2(slave, STDOUT_FILENO);
        ::dup2(slave, STDERR_FILENO);
        ::close(slave);
    }
    ~OnTerminal() { restore(); }
    bool ok() const { return out_ >= 0; }
    // Puts the streams back and collects the rest of what was written.
    QByteArray restore()
    {
        if (out_ >= 0) {
            std::fflush(stdout);
            std::fflush(stderr);
            ::dup2(out_, STDOUT_FILENO);
            ::dup2(err_, STDERR_FILENO);
            ::close(out_);
            ::close(err_);
            out_ = err_ = -1;
        }
        if (master_ >= 0) {
            drain();
            delete notifier_;
            ::close(master_);
            master_ = -1;
        }
        return seen;
    }
    QByteArray seen;

private:
    void drain()
    {
        char buf[4096];
        for (ssize_t n; (n = ::read(master_, buf, sizeof buf)) > 0;)
            seen.append(buf, n);
    }
    int master_ = -1, out_ = -1, err_ = -1;
    QSocketNotifier *notifier_ = nullptr;
};

// A subject that asks the terminal to set the clipboard (OSC 52) and clear the
// screen, and turns the rest of the line around (U+202E).
const QByteArray kHostile = "Invoice \x1b]52;c;ZXZpbA==\x07 \x1b[2J \xe2\x80\xae"
                            "exe.txt";

QByteArray message()
{
    return "From: Ann <ann@example.org>\r\nSubject: =?utf-8?b?" + kHostile.toBase64()
           + "?=\r\nDate: Mon, 2 Mar 2015 10:00:00 +0000\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
             "line \x1b[31mred\x1b[0m\r\n";
}

}  // namespace

class TestCliTerminal : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ctrlCAtPasswordPromptRestoresEcho();
    void mailTextOnATerminalIsShownEscaped();
    void serverTextOnATerminalIsShownEscaped();
};

void TestCliTerminal::mailTextOnATerminalIsShownEscaped()
{
    using namespace vc::cli;
    FakeImapServer server;
    server.messages << message();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("rows.txt"));
    auto options = [&](const QStringList &more) {
        ParseResult r =
            parseArguments(QStringList{"--user", "u", "--auth", "password", "--server",
                                       QStringLiteral("127.0.0.1:%1").arg(server.port()), "--rule", "containing",
                                       "--text", "e", "--error-log", dir.filePath(QStringLiteral("log.txt"))}
                           + more);
        return r.options;
    };
    TerminalDialogs boxes(QStringLiteral("vellumcast-cli: "));
    vc::Dialogs *previous = vc::setDialogs(&boxes);
    int status = -1, fileStatus = -1;
    QByteArray shown;
    {
        PlainImapClient client;
        OnTerminal terminal;
        QVERIFY(terminal.ok());
        status = runExtraction(options({}), client, QStringLiteral("p"));
        shown = terminal.restore();
    }
    {
        PlainImapClient client;
        OnTerminal terminal;  // the file, not the terminal, gets the rows
        fileStatus = runExtraction(options({"--output", file}), client, QStringLiteral("p"));
    }
    vc::setDialogs(previous);
    QCOMPARE(status, 0);
    QCOMPARE(fileStatus, 0);
    // Nothing the terminal would act on...
    for (const QByteArray &raw : {QByteArray("\x1b"), QByteArray("\x07"), QByteArray("\xe2\x80\xae")})
        QVERIFY2(!shown.contains(raw), shown.toHex(' ').constData());
    // ...but all of it to be seen.
    for (const char *escaped : {"Invoice \\x1b]52;c;ZXZpbA==\\x07 \\x1b[2J \\u202eexe.txt", "line \\x1b[31mred\\x1b[0m",
                                "vellumcast-cli: Done."})
        QVERIFY2(shown.contains(escaped), shown.constData());
    // The file has the subject and the body line exactly as they came.
    const QByteArray rows = vc::test::readFile(file);
    QVERIFY2(rows.contains(kHostile), rows.toHex(' ').constData());
    QVERIFY(rows.contains("line \x1b[31mred\x1b[0m\r\n"));
}

// A server's own words (here its farewell at the login) reach the terminal
// escaped too.
void TestCliTerminal::serverTextOnATerminalIsShownEscaped()
{
    using namespace vc::cli;
    FakeImapServer server;
    server.handlers["LOGIN"] = [&server](const QByteArray &, const QByteArray &) {
        server.send("* BYE \x1b]0;owned\x07\x1b[2J go away\r\n");
        server.drop();
    };
    QTemporaryDir dir;
    const ParseResult r = parseArguments({"--user", "u", "--auth", "password", "--server",
                                          QStringLiteral("127.0.0.1:%1").arg(server.port()), "--error-log",
                                          dir.filePath(QStringLiteral("log.txt"))});
    QVERIFY(r.ok());
    TerminalDialogs boxes(QStringLiteral("vellumcast-cli: "));
    vc::Dialogs *previous = vc::setDialogs(&boxes);
    int status = -1;
    QByteArray shown;
    {
        PlainImapClient client;
        OnTerminal terminal;
        QVERIFY(terminal.ok());
        status = runExtraction(r.options, client, QStringLiteral("p"));
        shown = terminal.restore();
    }
    vc::setDialogs(previous);
    QCOMPARE(status, 3);
    QVERIFY2(shown.contains("\\x1b]0;owned\\x07\\x1b[2J go away"), shown.constData());
    QVERIFY2(!shown.contains('\x1b') && !shown.contains('\x07'), shown.toHex(' ').constData());
}

void TestCliTerminal::ctrlCAtPasswordPromptRestoresEcho()
{
    const QByteArray program = qgetenv("VC_BIN_DIR") + "/vellumcast-cli";
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    QVERIFY(pid >= 0);
    if (pid == 0) {
        ::execl(program.constData(), program.constData(), "--user", "u", "--server", "127.0.0.1:1", "--folder", "Inbox",
                "--rule", "all", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    QByteArray seen;
    QElapsedTimer t;
    t.start();
    while (!seen.contains("Password: ") && t.elapsed() < 10000) {
        char buf[256];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            break;
        seen.append(buf, n);
    }
    QVERIFY2(seen.contains("Password: "), seen.constData());
    termios during{};
    // The prompt turns echo off just after it is written.
    for (int i = 0; i < 100 && ::tcgetattr(master, &during) == 0 && (during.c_lflag & ECHO); ++i)
        ::usleep(20000);
    QVERIFY(!(during.c_lflag & ECHO));

    QCOMPARE(::write(master, "\x03", 1), ssize_t(1));  // Ctrl+C
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
    termios after{};
    QCOMPARE(::tcgetattr(master, &after), 0);
    QVERIFY(after.c_lflag & ECHO);
    ::close(master);
}

QTEST_GUILESS_MAIN(TestCliTerminal)
#include "test_cli_terminal.moc"
