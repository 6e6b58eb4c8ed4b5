// vellumcast-cli on a terminal: Ctrl+C at the hidden password prompt ends the
// program and leaves the terminal echoing again.
#include <QElapsedTimer>
#include <QtTest>

#include <csignal>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

class TestCliTerminal : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ctrlCAtPasswordPromptRestoresEcho();
};

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
