// vellumcast-cli walking 3,000 messages of the test server while the server
// fails under it: the tester's IMAP process killed twice, or the whole server
// restarted. The walk reconnects, resumes at the message that failed, writes
// every row once and in order, and the program exits 0 with "Done.".
//
// Each fault lands at a known point of the walk: the test reads the progress
// lines ("Reading mail n of m") on standard error, stops the program (SIGSTOP)
// once it has listed a given message, breaks the server, and lets the program
// go on (SIGCONT). Standard error is a pipe of one page, so the program can
// never be more than a page of progress lines ahead of what the test has read.
#include "TestFiles.h"
#include "TestServer.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

using vc::test::readFile;
using vc::test::TestServer;

namespace {

constexpr int kMessages = 3000;

// After message `after` has been listed, the program is held while the test
// server script runs with `script`.
struct Fault {
    int after;
    QStringList script;
};

struct WalkResult {
    int code = -1;
    QByteArray rows, err, log;
    QList<int> heldAt;     // the last message listed when each fault struck
    QStringList faultLog;  // what the script said
};

QString firstDifference(const QByteArray &got, const QByteArray &want)
{
    const QList<QByteArray> a = got.split('\n'), b = want.split('\n');
    for (qsizetype i = 0; i < qMin(a.size(), b.size()); ++i) {
        if (a[i] != b[i])
            return QStringLiteral("line %1: got \"%2\", expected \"%3\"")
                .arg(i + 1)
                .arg(QString::fromUtf8(a[i].left(80)), QString::fromUtf8(b[i].left(80)));
    }
    return QStringLiteral("%1 lines, expected %2").arg(a.size()).arg(b.size());
}

}  // namespace

class CliWalkFaultsTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QByteArray undisturbed;  // the rows of a walk without faults

    WalkResult walk(const QString &name, const QList<Fault> &faults)
    {
        const QString output = tmp.filePath(name + QStringLiteral(".txt"));
        const QString log = tmp.filePath(name + QStringLiteral(".log"));
        QProcess p;
        p.setProgram(qEnvironmentVariable("VC_BIN_DIR") + QStringLiteral("/vellumcast-cli"));
        p.setArguments({"--user", TestServer::user(), "--server",
                        QStringLiteral("127.0.0.1:%1").arg(TestServer::port()), "--ca-file", TestServer::caFile(),
                        "--password-file", TestServer::dir() + "/password", "--error-log", log, "--rule", "all",
                        "--format", "text", "--output", output, "--progress"});
        p.setChildProcessModifier([] { ::fcntl(STDERR_FILENO, F_SETPIPE_SZ, 4096); });

        WalkResult r;
        QByteArray pending;
        qsizetype next = 0;
        static const QRegularExpression progress(QStringLiteral("^Reading mail (\\d+) of \\d+$"));
        connect(&p, &QProcess::readyReadStandardError, this, [&] {
            const QByteArray bytes = p.readAllStandardError();
            r.err += bytes;
            pending += bytes;
            qsizetype end;
            while ((end = pending.indexOf('\n')) >= 0) {
                const QRegularExpressionMatch m = progress.match(QString::fromUtf8(pending.left(end)));
                pending.remove(0, end + 1);
                if (!m.hasMatch() || next >= faults.size() || m.captured(1).toInt() < faults[next].after)
                    continue;
                ::kill(pid_t(p.processId()), SIGSTOP);
                r.heldAt << m.captured(1).toInt();
                QByteArray said;
                TestServer::script(faults[next].script, &said);
                r.faultLog << QString::fromUtf8(said).trimmed();
                ::kill(pid_t(p.processId()), SIGCONT);
                ++next;
            }
        });
        QSignalSpy finished(&p, &QProcess::finished);
        p.start();
        if (!p.waitForStarted(10000))
            return r;
        if (!finished.wait(120000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.err += p.readAllStandardError();
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.rows = readFile(output);
        r.log = readFile(log);
        return r;
    }

    // The walk held every fault mid-walk, lost its connection at each one,
    // and still wrote what an undisturbed walk writes.
    void checkResumed(const WalkResult &r, int faults)
    {
        QVERIFY2(r.code == 0, r.err.right(2000).constData());
        QVERIFY2(r.err.endsWith("vellumcast-cli: Done.\n"), r.err.right(2000).constData());
        QCOMPARE(r.heldAt.size(), faults);
        for (const int n : r.heldAt)
            QVERIFY2(n < kMessages - 500, qPrintable(QStringLiteral("held only at message %1").arg(n)));
        // Each fault broke the line under a fetch, and the walk recorded it.
        const int lost = int(r.log.count("failed: the connection was closed by the server"));
        QVERIFY2(lost >= faults, qPrintable(r.faultLog.join(QLatin1Char('|'))));
        QVERIFY2(r.rows == undisturbed, qPrintable(firstDifference(r.rows, undisturbed)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test IMAP server is not running");
        TestServer::resetMailbox();
        QByteArray said;
        QCOMPARE(TestServer::script({"fill", "Inbox", QString::number(kMessages)}, &said), 0);

        const WalkResult r = walk(QStringLiteral("undisturbed"), {});
        QVERIFY2(r.code == 0, r.err.right(2000).constData());
        undisturbed = r.rows;
        // Every message is in it once, in order: its subject is a row of its own.
        QList<int> subjects;
        static const QRegularExpression subject(QStringLiteral("^Generated message (\\d+)\\r?$"));
        for (const QByteArray &line : undisturbed.split('\n')) {
            const QRegularExpressionMatch m = subject.match(QString::fromUtf8(line));
            if (m.hasMatch())
                subjects << m.captured(1).toInt();
        }
        QCOMPARE(subjects.size(), kMessages);
        for (int i = 0; i < kMessages; ++i)
            QCOMPARE(subjects[i], i + 1);
    }

    void cleanupTestCase()
    {
        if (TestServer::available())
            TestServer::resetMailbox();
    }

    // The IMAP process serving the walk is killed at a third and at two thirds.
    void imapProcessKilledTwice()
    {
        const QStringList kick{"kick", TestServer::user()};
        const WalkResult r = walk(QStringLiteral("kicked"), {{1000, kick}, {2000, kick}});
        for (const QString &said : r.faultLog)
            QVERIFY2(said.startsWith(QLatin1String("killed ")) && !said.startsWith(QLatin1String("killed 0 ")),
                     qPrintable(said));
        checkResumed(r, 2);
    }

    // The whole server stops and starts again (same port, CA and mail) halfway.
    void serverRestartedMidWalk()
    {
        const WalkResult r = walk(QStringLiteral("restarted"), {{1500, {"restart"}}});
        QVERIFY2(r.faultLog.value(0).startsWith(QLatin1String("test server restarted")),
                 qPrintable(r.faultLog.join(QLatin1Char('|'))));
        checkResumed(r, 1);
    }
};

QTEST_GUILESS_MAIN(CliWalkFaultsTest)
#include "test_cli_walk_faults.moc"
