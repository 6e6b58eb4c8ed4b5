// vellumcast-cli --progress on a terminal that also shows the rows: the
// progress line is rewritten in place, and every row starts at the beginning
// of a line of its own (against the test server, on a pseudo-terminal).
#include "TestServer.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using vc::test::TestServer;

namespace {

// The lines a terminal shows for `bytes`: CR goes back to the start of the
// line, LF ends it, ESC [ K clears the rest of it, other text overwrites.
QStringList screenLines(const QByteArray &bytes)
{
    QStringList lines;
    QString line;
    int column = 0;
    const QString text = QString::fromUtf8(bytes);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r')) {
            column = 0;
        } else if (c == QLatin1Char('\n')) {
            lines << line;
            line.clear();
            column = 0;
        } else if (c == QChar(0x1b) && text.mid(i, 3) == QLatin1String("\x1b[K")) {
            line.truncate(column);
            i += 2;
        } else {
            if (column < line.size())
                line[column] = c;
            else
                line += c;
            ++column;
        }
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

}  // namespace

class TestCliProgress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test IMAP server is not running");
        TestServer::resetMailbox();
        for (int n = 1; n <= 6; ++n)
            TestServer::deliver(
                QStringLiteral("Inbox"),
                QStringLiteral("From: shop@example.org\r\nTo: tester@example.org\r\nSubject: order %1\r\n"
                               "Date: Wed, 06 Mar 2024 09:15:00 +0100\r\n\r\nHello,\r\nparcel-%1 "
                               "shipped\r\nBye\r\n")
                    .arg(n)
                    .toUtf8());
    }

    void rowsStartOnLinesOfTheirOwn_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("text") << "text";
        QTest::newRow("csv") << "csv";
    }
    void rowsStartOnLinesOfTheirOwn()
    {
        QFETCH(QString, format);
        QTemporaryDir tmp;
        const QByteArray program = qgetenv("VC_BIN_DIR") + "/vellumcast-cli";
        const QByteArray server = QStringLiteral("127.0.0.1:%1").arg(TestServer::port()).toUtf8();
        const QByteArray ca = TestServer::caFile().toUtf8();
        const QByteArray password = (TestServer::dir() + QStringLiteral("/password")).toUtf8();
        const QByteArray log = tmp.filePath(QStringLiteral("cli.log")).toUtf8();
        const QByteArray fmt = format.toUtf8();
        int master = -1;
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        QVERIFY(pid >= 0);
        if (pid == 0) {
            ::execl(program.constData(), program.constData(), "--user", "tester", "--server", server.constData(),
                    "--ca-file", ca.constData(), "--password-file", password.constData(), "--error-log",
                    log.constData(), "--folder", "Inbox", "--rule", "containing", "--text", "parcel-", "--format",
                    fmt.constData(), "--progress", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        QByteArray seen;
        QElapsedTimer t;
        t.start();
        for (;;) {
            char buf[4096];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0 || t.elapsed() > 60000)
                break;  // the program ended (EIO) or hangs
            seen.append(buf, n);
        }
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        ::close(master);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, seen.constData());
        QVERIFY2(seen.contains("Reading mail 1 of 6"), seen.constData());

        const QStringList lines = screenLines(seen);
        for (int n = 1; n <= 6; ++n) {
            const QString row = format == QLatin1String("csv") ? QStringLiteral("\"parcel-%1 shipped\"").arg(n)
                                                               : QStringLiteral("parcel-%1 shipped").arg(n);
            QVERIFY2(lines.count(row) == 1, qPrintable(row + QStringLiteral(" not on a line of its own in:\n")
                                                       + lines.join(QLatin1Char('\n'))));
        }
        for (const QString &line : lines)
            QVERIFY2(!(line.contains(QLatin1String("Reading mail")) && line.contains(QLatin1String("parcel-"))),
                     qPrintable(line));
        // The progress line comes back after rows were written.
        const qsizetype firstRow = seen.indexOf("parcel-");
        QVERIFY(seen.indexOf("Reading mail", firstRow) > firstRow);
    }
};

QTEST_GUILESS_MAIN(TestCliProgress)
#include "test_cli_progress.moc"
