// vellumcast-cli against the throw-away Dovecot: every output format gives the
// bytes that the windowed program's save and copy functions give for the same
// rows; exit statuses of real failures.
#include "CliOptions.h"
#include "ScriptedDialogs.h"
#include "TestFiles.h"
#include "TestProcess.h"
#include "TestRunHost.h"
#include "TestServer.h"

#include "extract/ExtractionRun.h"
#include "mail/ImapClient.h"
#include "output/ResultsOutput.h"
#include "rules/Listing.h"

#include <QFile>
#include <QSslError>
#include <QTemporaryDir>
#include <QtTest>

using namespace vc;
using vc::test::ProcessResult;
using vc::test::runProgram;
using vc::test::TestRunHost;
using vc::test::TestServer;

namespace {

QByteArray message(const QByteArray &subject, const QByteArray &body)
{
    return "From: =?UTF-8?B?w5xsYQ==?= <uela@example.org>\r\nTo: tester@example.org\r\nSubject: " + subject
           + "\r\nDate: Wed, 06 Mar 2024 09:15:00 +0100\r\nMIME-Version: 1.0\r\n"
             "Content-Type: text/plain; charset=utf-8\r\n\r\n"
           + body;
}

}  // namespace

class CliServerTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QStringList guiRows;

    ProcessResult cli(QStringList extra, const QString &passwordFile = QString())
    {
        QStringList a{"--user",          TestServer::user(),
                      "--server",        QStringLiteral("127.0.0.1:%1").arg(TestServer::port()),
                      "--ca-file",       TestServer::caFile(),
                      "--password-file", passwordFile.isEmpty() ? TestServer::dir() + "/password" : passwordFile,
                      "--error-log",     tmp.filePath(QStringLiteral("cli.log"))};
        a += extra;
        return runProgram(QStringLiteral("vellumcast-cli"), a);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test IMAP server is not running");
        TestServer::resetMailbox();
        TestServer::deliver(QStringLiteral("Inbox"), message("one", "a\r\nb\r\n"));
        TestServer::deliver(QStringLiteral("Inbox"), message("two, with comma", "  indented \"quoted\"\r\n\tx"));
        TestServer::deliver(QStringLiteral("Inbox"),
                            message("=?UTF-8?Q?dr=C3=A9i?=", "long line " + QByteArray(300, 'w')));

        // The rows the window lists for the tester's Inbox: the same engine
        // and listing handler, run in this process.
        vc::test::ScriptedDialogs boxes;
        ImapClient imap;
        imap.configure(TestServer::config());
        const auto host = TestRunHost::onTestServer(imap, tmp.filePath(QStringLiteral("gui.log")));
        QCOMPARE(vc::test::outcomeName(ExtractEmail(*host)), QStringLiteral("Completed"));
        guiRows = host->results.texts();
        QVERIFY(guiRows.size() >= 3 * 4);
    }

    void eachFormatMatchesTheOutputFunctions_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("text") << "text";
        QTest::newRow("comma") << "comma";
        QTest::newRow("space") << "space";
        QTest::newRow("tab") << "tab";
        QTest::newRow("csv") << "csv";
        QTest::newRow("jsonl") << "jsonl";
    }

    void eachFormatMatchesTheOutputFunctions()
    {
        QFETCH(QString, format);
        const ResultsRowSource rows(guiRows, true);
        QByteArray expected;
        if (format == u"text")
            expected = textFileBytes(rows);
        else if (format == u"comma")
            expected = commaFileBytes(rows);
        else if (format == u"space")
            expected = spaceLayout(rows).toLocal8Bit();
        else if (format == u"tab")
            expected = tabLayout(rows).toLocal8Bit();
        else
            expected = cli::formatRows(guiRows, format == u"csv" ? cli::Format::Csv : cli::Format::Jsonl);
        QVERIFY(!expected.isEmpty());

        const ProcessResult toStdout = cli({"--format", format});
        QCOMPARE(toStdout.code, 0);
        QCOMPARE(toStdout.out, expected);
        QVERIFY2(toStdout.err.contains("vellumcast-cli: Done."), toStdout.err.constData());

        const QString file = tmp.filePath(format + QStringLiteral(".out"));
        const ProcessResult toFile = cli({"--format", format, "--output", file});
        QCOMPARE(toFile.code, 0);
        QVERIFY(toFile.out.isEmpty());
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), expected);
    }

    // Rows for standard output are held and written in pieces: with both
    // streams going to one place, every row still comes before what the run
    // says on standard error at its end, and none is lost at exit.
    void rowsComeBeforeTheClosingMessage()
    {
        const QString bin = qEnvironmentVariable("VC_BIN_DIR") + QStringLiteral("/vellumcast-cli");
        QStringList a{QStringLiteral("exec \"$0\" \"$@\" 2>&1"),
                      bin,
                      "--user",
                      TestServer::user(),
                      "--server",
                      QStringLiteral("127.0.0.1:%1").arg(TestServer::port()),
                      "--ca-file",
                      TestServer::caFile(),
                      "--password-file",
                      TestServer::dir() + "/password",
                      "--error-log",
                      tmp.filePath(QStringLiteral("cli.log")),
                      "--format",
                      "text"};
        const ProcessResult merged = vc::test::runProcess(QStringLiteral("/bin/sh"), QStringList{"-c"} + a);
        QCOMPARE(merged.code, 0);
        const QByteArray rows = textFileBytes(ResultsRowSource(guiRows, true));
        QVERIFY2(merged.out.startsWith(rows), merged.out.constData());
        QVERIFY2(merged.out.mid(rows.size()).contains("vellumcast-cli: Done."), merged.out.constData());
    }

    void ruleOptionsReachTheRules()
    {
        vc::test::ScriptedDialogs boxes;
        ImapClient imap;
        imap.configure(TestServer::config());
        const auto host = TestRunHost::onTestServer(imap, tmp.filePath(QStringLiteral("gui2.log")), Rule::Containing);
        host->rule.containing = QStringLiteral("QUOTED");
        QCOMPARE(vc::test::outcomeName(ExtractEmail(*host)), QStringLiteral("Completed"));
        QVERIFY(!host->results.texts().isEmpty());

        const ProcessResult r = cli({"--rule", "containing", "--text", "QUOTED"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, textFileBytes(ResultsRowSource(host->results.texts(), true)));
    }

    // The same server at another address shows a certificate made out to
    // another name: the program says so on standard error and in the fetch
    // log, with the TLS library's reason, and ends with status 3.
    void certificateForAnotherNameIsNamed()
    {
        const QByteArray host = vc::test::readFile(TestServer::dir() + "/other-name-host").trimmed();
        QVERIFY(!host.isEmpty());
        const QString server = QStringLiteral("%1:%2").arg(QString::fromLatin1(host)).arg(TestServer::port());
        const QString log = tmp.filePath(QStringLiteral("certificate.log"));
        const ProcessResult r =
            runProgram(QStringLiteral("vellumcast-cli"),
                       {"--user", TestServer::user(), "--server", server, "--ca-file", TestServer::caFile(),
                        "--password-file", TestServer::dir() + "/password", "--error-log", log});
        QCOMPARE(r.code, 3);
        const QByteArray reason = QSslError(QSslError::HostNameMismatch).errorString().toUtf8();
        QVERIFY2(r.err.contains("The certificate of " + server.toUtf8() + " was not accepted:"), r.err.constData());
        QVERIFY2(r.err.contains(reason), r.err.constData());
        QVERIFY2(!r.err.contains("Invalid login"), r.err.constData());
        QVERIFY2(vc::test::readFile(log).contains(reason), vc::test::readFile(log).constData());
    }

    void progressAndFailures()
    {
        ProcessResult r = cli({"--progress", "--format", "csv"});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.err.contains("Reading mail 3 of 3"), r.err.constData());

        r = cli({"--folder", "Drafts"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.contains("vellumcast-cli: There are no emails in the Folder you selected.\n"));
        QVERIFY(!r.err.contains("Done."));

        r = cli({"--folder", "No Such Folder"});
        QCOMPARE(r.code, 4);

        const QString wrong = tmp.filePath(QStringLiteral("wrong.txt"));
        QFile f(wrong);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not-the-password\n");
        f.close();
        r = cli({}, wrong);
        QCOMPARE(r.code, 3);
        QCOMPARE(r.err.count("Invalid login. Please double-check your username and password."), 1);
        // The test server also takes tokens: the message says how to sign in with one.
        QVERIFY2(r.err.contains("The server also takes OAuth 2.0 sign-in, which this account may need: run again "
                                "with --auth oauth2"),
                 r.err.constData());

        // The fetch log beside the --error-log path gained one record per fetch.
        QFile log(tmp.filePath(QStringLiteral("cli.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().count(QByteArray(52, '*') + "\r\n") >= 3);
    }
};

QTEST_GUILESS_MAIN(CliServerTest)
#include "test_cli_server.moc"
