// Only new mail against the throw-away Dovecot: a --new-only run reads the
// messages that came since the last one; a run killed in the middle moves no
// mark and an interrupted one moves it to the last message it wrote, so over
// two runs every message's rows come exactly once; a folder made anew (a new
// UIDVALIDITY) is said and read whole once.
#include "TestFiles.h"
#include "TestProcess.h"
#include "TestServer.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

using vc::test::ProcessResult;
using vc::test::readFile;
using vc::test::runProgram;
using vc::test::TestServer;

namespace {

constexpr int kBulk = 1500;

QByteArray message(const QByteArray &subject)
{
    return "From: Ann <ann@example.org>\r\nTo: tester@example.org\r\nSubject: " + subject
           + "\r\nDate: Mon, 05 Feb 2024 10:00:00 +0000\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; "
             "charset=utf-8\r\n\r\nbody\r\n";
}

// The rows of a csv with a header row, sorted, without the header.
QList<QByteArray> rowsOf(const QByteArray &csv)
{
    QList<QByteArray> lines = csv.split('\n');
    if (!lines.isEmpty())
        lines.removeFirst();
    lines.removeAll(QByteArray());
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace

class CliNewOnlyTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    QStringList signIn() { return TestServer::cliSignIn(tmp.filePath(QStringLiteral("cli.log"))); }

    ProcessResult cli(QStringList extra) { return runProgram(QStringLiteral("vellumcast-cli"), signIn() + extra); }

    static QStringList subjects(const QByteArray &out)
    {
        static const QRegularExpression subject(QStringLiteral("^[a-z]+-\\d+$"));
        QStringList found;
        for (const QByteArray &line : out.split('\n')) {
            const QString text = QString::fromUtf8(line).trimmed();
            if (subject.match(text).hasMatch())
                found << text;
        }
        return found;
    }

    // A --new-only run of the bulk folder into `output`, ended with `signal`
    // once it has read `after` messages (SIGKILL or SIGINT). The exit code, or
    // -1 for a killed program.
    int interrupted(const QString &output, int signal, int after)
    {
        QProcess p;
        p.setProgram(qEnvironmentVariable("VC_BIN_DIR") + QStringLiteral("/vellumcast-cli"));
        p.setArguments(signIn()
                       + QStringList{"--folder", "Bulk", "--new-only", "--with-source", "--format", "csv", "--output",
                                     output, "--progress"});
        static const QRegularExpression progress(QStringLiteral("Reading mail (\\d+) of \\d+"));
        bool sent = false;
        connect(&p, &QProcess::readyReadStandardError, this, [&] {
            const QString text = QString::fromUtf8(p.readAllStandardError());
            auto it = progress.globalMatch(text);
            while (it.hasNext() && !sent) {
                if (it.next().captured(1).toInt() >= after) {
                    ::kill(pid_t(p.processId()), signal);
                    sent = true;
                }
            }
        });
        QSignalSpy finished(&p, &QProcess::finished);
        p.start();
        if (!p.waitForStarted(10000) || !finished.wait(120000)) {
            p.kill();
            p.waitForFinished();
            return -2;
        }
        if (!sent)
            return -3;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test IMAP server is not running");
        // The marks go to the per-user data folder: this test's own.
        qputenv("XDG_DATA_HOME", tmp.filePath(QStringLiteral("data")).toUtf8());
        TestServer::resetMailbox();
    }

    void deliveredBetweenRuns()
    {
        TestServer::deliver("Inbox", message("first-1"));
        TestServer::deliver("Inbox", message("first-2"));
        const QStringList args{"--new-only"};
        ProcessResult r = cli(args);
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(subjects(r.out), (QStringList{"first-1", "first-2"}));

        r = cli(args);
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains("There are no emails in the Folder you selected."), r.err.constData());

        TestServer::deliver("Inbox", message("second-1"));
        TestServer::deliver("Inbox", message("second-2"));
        r = cli(args);
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(subjects(r.out), (QStringList{"second-1", "second-2"}));

        // A filter narrows the new mail; the mark still moves past what it left out.
        TestServer::deliver("Inbox", message("third-1"));
        TestServer::deliver("Inbox", message("third-2"));
        r = cli(args + QStringList{"--subject", "third-2"});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(subjects(r.out), (QStringList{"third-2"}));

        // Forgotten: the folder whole again.
        r = cli({"--reset-new-only"});
        QVERIFY2(r.code == 0, r.err.constData());
        r = cli(args);
        QCOMPARE(subjects(r.out).size(), 6);
    }

    // Each folder keeps its own mark.
    void marksPerFolder()
    {
        TestServer::deliver("Left", message("left-1"));
        TestServer::deliver("Right Side", message("right-1"));
        const QStringList args{"--folder", "Left", "--folder", "Right Side", "--new-only"};
        ProcessResult r = cli(args);
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(subjects(r.out), (QStringList{"left-1", "right-1"}));
        TestServer::deliver("Right Side", message("right-2"));
        r = cli(args);
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(subjects(r.out), (QStringList{"right-2"}));
        TestServer::deliver("Left", message("left-2"));
        r = cli({"--folder", "Left", "--new-only"});
        QCOMPARE(subjects(r.out), (QStringList{"left-2"}));
    }

    // A run killed in the middle committed no output and moved no mark; the
    // next run reads all of it. An interrupted run wrote what it read and
    // moved the mark that far; the next run reads the rest.
    void killedAndInterruptedRunsLoseAndRepeatNothing()
    {
        QCOMPARE(TestServer::script({"fill", "Bulk", QString::number(kBulk)}), 0);
        const QString whole = tmp.filePath(QStringLiteral("whole.csv"));
        // The whole folder by UID (as the runs below read it), then forgotten.
        ProcessResult r =
            cli({"--folder", "Bulk", "--new-only", "--with-source", "--format", "csv", "--output", whole});
        QVERIFY2(r.code == 0, r.err.constData());
        const QList<QByteArray> all = rowsOf(readFile(whole));
        QVERIFY(all.size() >= kBulk);
        QVERIFY(all.first().contains(",Bulk,1,"));
        QCOMPARE(cli({"--folder", "Bulk", "--reset-new-only"}).code, 0);

        const QString killed = tmp.filePath(QStringLiteral("killed.csv"));
        QCOMPARE(interrupted(killed, SIGKILL, 300), -1);
        QVERIFY(!QFile::exists(killed));

        const QString first = tmp.filePath(QStringLiteral("first.csv"));
        QCOMPARE(interrupted(first, SIGINT, 600), 130);
        const QList<QByteArray> firstRows = rowsOf(readFile(first));
        QVERIFY2(!firstRows.isEmpty() && firstRows.size() < all.size(), qPrintable(QString::number(firstRows.size())));

        const QString rest = tmp.filePath(QStringLiteral("rest.csv"));
        r = cli({"--folder", "Bulk", "--new-only", "--with-source", "--format", "csv", "--output", rest});
        QVERIFY2(r.code == 0, r.err.constData());
        QList<QByteArray> both = firstRows + rowsOf(readFile(rest));
        std::sort(both.begin(), both.end());
        QCOMPARE(both.size(), all.size());
        for (qsizetype i = 0; i < all.size(); ++i)
            QVERIFY2(both[i] == all[i], (both[i] + " | " + all[i]).constData());
    }

    // The folder deleted and made anew: its UIDs start again, which is said,
    // and it is read whole once.
    void renumberedFolderIsReadWholeOnce()
    {
        TestServer::deliver("Renumbered", message("old-1"));
        const QStringList args{"--folder", "Renumbered", "--new-only"};
        ProcessResult r = cli(args);
        QCOMPARE(subjects(r.out), (QStringList{"old-1"}));
        QCOMPARE(TestServer::script({"doveadm", "mailbox", "delete", "-u", TestServer::user(), "Renumbered"}), 0);
        TestServer::deliver("Renumbered", message("new-1"));
        TestServer::deliver("Renumbered", message("new-2"));
        r = cli(args);
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(subjects(r.out), (QStringList{"new-1", "new-2"}));
        QVERIFY2(r.err.contains("The folder Renumbered was renumbered on the server (its UIDVALIDITY changed)"),
                 r.err.constData());
        r = cli(args);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(!r.err.contains("renumbered"), r.err.constData());
    }

    void unreadableStateFileFailsTheRun()
    {
        QDirIterator found(tmp.filePath(QStringLiteral("data")), {QStringLiteral("new-only-marks.json")}, QDir::Files,
                           QDirIterator::Subdirectories);
        QVERIFY(found.hasNext());
        const QString path = found.next();
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{ not json");
        f.close();
        const ProcessResult r = cli({"--new-only"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("cannot be read"), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }
};

QTEST_MAIN(CliNewOnlyTest)
#include "test_cli_new_only.moc"
