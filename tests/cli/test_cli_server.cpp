// vellumcast-cli against the throw-away Dovecot: every output format gives the
// bytes that the windowed program's save and copy functions give for the same
// rows; exit statuses of real failures.
#include "CliOptions.h"
#include "ScriptedDialogs.h"
#include "TestServer.h"

#include "extract/ExtractionRun.h"
#include "mail/ImapClient.h"
#include "output/ResultsOutput.h"
#include "rules/Listing.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace vc;
using vc::test::TestServer;

namespace {

struct BinaryResult {
    int code = -1;
    QByteArray out, err;
};

QByteArray message(const QByteArray &subject, const QByteArray &body)
{
    return "From: =?UTF-8?B?w5xsYQ==?= <uela@example.org>\r\nTo: tester@example.org\r\nSubject: " + subject
           + "\r\nDate: Wed, 06 Mar 2024 09:15:00 +0100\r\nMIME-Version: 1.0\r\n"
             "Content-Type: text/plain; charset=utf-8\r\n\r\n"
           + body;
}

// The rows the windowed program lists for the tester's Inbox: the same engine,
// run in this process with the main window's handler.
class Host : public RunHost {
public:
    explicit Host(ImapComponent &imap, Rule rule, FixedRuleParams params, QString log)
        : imap_(imap), params_(std::move(params)), log_(std::move(log))
    {
        members_.select(rule);
    }
    std::shared_ptr<clsChilkatIMAP> connection() override { return conn_; }
    void setConnection(std::shared_ptr<clsChilkatIMAP> c) override { conn_ = std::move(c); }
    std::shared_ptr<clsChilkatIMAP> setUpConnection() override
    {
        auto c = newConnection(&imap_, TestServer::config(), TestServer::user(), TestServer::password());
        c->setErrorLogPath(log_);
        QObject::connect(c.get(), &clsChilkatIMAP::MailExtractListing,
                         [this](const QString &a, const QString &b, const QString &cc, const QString &d,
                                const QString &e, const QString &f, const QString &g, int uID) {
                             listMessage(MailRecord{a, b, cc, d, e, f, g, uID}, members_, params_, results);
                         });
        return c;
    }
    QString folderName() override { return QStringLiteral("Inbox"); }
    void clearResults() override { results.clear(); }
    void setBusy(bool) override {}
    void resetProgress() override {}
    ResultsModel results;

private:
    ImapComponent &imap_;
    FixedRuleParams params_;
    QString log_;
    RuleMembers members_;
    std::shared_ptr<clsChilkatIMAP> conn_;
};

}  // namespace

class CliServerTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QStringList guiRows;

    BinaryResult cli(QStringList extra, const QString &passwordFile = QString())
    {
        QStringList a{"--user",          TestServer::user(),
                      "--server",        QStringLiteral("127.0.0.1:%1").arg(TestServer::port()),
                      "--ca-file",       TestServer::caFile(),
                      "--password-file", passwordFile.isEmpty() ? TestServer::dir() + "/password" : passwordFile,
                      "--error-log",     tmp.filePath(QStringLiteral("cli.log"))};
        a += extra;
        QProcess p;
        p.start(qEnvironmentVariable("VC_BIN_DIR") + QStringLiteral("/vellumcast-cli"), a);
        BinaryResult r;
        if (!p.waitForStarted(10000))
            return r;
        p.closeWriteChannel();
        p.waitForFinished(120000);
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
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

        vc::test::ScriptedDialogs boxes;
        ImapClient imap;
        imap.configure(TestServer::config());
        Host host(imap, Rule::AllEmailData, FixedRuleParams{}, tmp.filePath(QStringLiteral("gui.log")));
        QCOMPARE(ExtractEmail(host), RunOutcome::Done);
        guiRows = host.results.texts();
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

        const BinaryResult toStdout = cli({"--format", format});
        QCOMPARE(toStdout.code, 0);
        QCOMPARE(toStdout.out, expected);
        QVERIFY2(toStdout.err.contains("vellumcast-cli: Done."), toStdout.err.constData());

        const QString file = tmp.filePath(format + QStringLiteral(".out"));
        const BinaryResult toFile = cli({"--format", format, "--output", file});
        QCOMPARE(toFile.code, 0);
        QVERIFY(toFile.out.isEmpty());
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), expected);
    }

    void ruleOptionsReachTheRules()
    {
        vc::test::ScriptedDialogs boxes;
        ImapClient imap;
        imap.configure(TestServer::config());
        FixedRuleParams params;
        params.containing = QStringLiteral("QUOTED");
        Host host(imap, Rule::Containing, params, tmp.filePath(QStringLiteral("gui2.log")));
        QCOMPARE(ExtractEmail(host), RunOutcome::Done);
        QVERIFY(!host.results.texts().isEmpty());

        const BinaryResult r = cli({"--rule", "containing", "--text", "QUOTED"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, textFileBytes(ResultsRowSource(host.results.texts(), true)));
    }

    void progressAndFailures()
    {
        BinaryResult r = cli({"--progress", "--format", "csv"});
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

        // The fetch log beside the --error-log path gained one record per fetch.
        QFile log(tmp.filePath(QStringLiteral("cli.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().count(QByteArray(52, '*') + "\r\n") >= 3);
    }
};

QTEST_GUILESS_MAIN(CliServerTest)
#include "test_cli_server.moc"
