// vellumcast-cli without a server: arguments, output formats, exit statuses
// (through the in-memory component) and the binary's usage errors.
#include "CliOptions.h"
#include "CliRun.h"
#include "CliTerminal.h"
#include "FakeImap.h"
#include "ScriptedDialogs.h"
#include "TestProcess.h"

#include "output/ResultsOutput.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace vc;
using namespace vc::cli;
using vc::test::FakeImap;
using vc::test::ProcessResult;
using vc::test::runProgram;

namespace {

QStringList args(const char *line)
{
    return QString::fromUtf8(line).split(u' ', Qt::SkipEmptyParts);
}

ProcessResult runBinary(const QStringList &arguments, const QByteArray &stdinData = {}, int waitMs = 60000)
{
    return runProgram(QStringLiteral("vellumcast-cli"), arguments, stdinData, waitMs);
}

}  // namespace

class CliTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    void fill(FakeImap &imap, int n)
    {
        auto &inbox = imap.folder(QStringLiteral("Inbox"));
        for (int i = 1; i <= n; ++i)
            inbox.messages << FakeImap::message(QStringLiteral("Subject %1").arg(i),
                                                QStringLiteral("hello %1\r\nbye, \"all\"").arg(i));
    }

    // The fake component stands in for the default server (Outlook.com), where
    // accounts sign in with OAuth 2.0 unless told otherwise: these sign in with
    // a password.
    Options parsed(const char *line)
    {
        QStringList a = args(line);
        if (!a.contains(QStringLiteral("--auth")))
            a << QStringLiteral("--auth") << QStringLiteral("password");
        ParseResult r = parseArguments(a);
        if (!r.ok())
            qWarning("unexpected usage error: %s", qPrintable(r.error));
        return r.options;
    }

private Q_SLOTS:
    void init() { clearInterrupt(); }

    void defaultsAndValues()
    {
        const Options o = parsed("--user jo@example.org");
        QCOMPARE(o.user, QStringLiteral("jo@example.org"));
        QCOMPARE(o.folder, QStringLiteral("Inbox"));
        QCOMPARE(o.rule.rule, Rule::AllEmailData);
        QCOMPARE(o.format, Format::Text);
        QCOMPARE(o.config.host, QStringLiteral("imap-mail.outlook.com"));
        QCOMPARE(o.config.port, 993);
        QCOMPARE(o.config.timeoutMs, 60000);
        QVERIFY(o.output.isEmpty() && o.errorLog.isEmpty() && !o.progress);

        const QString ca = tmp.filePath(QStringLiteral("ca.pem"));
        QFile(ca).open(QIODevice::WriteOnly);
        const ParseResult pr = parseArguments({"--user=u",
                                               "--server=127.0.0.1:1443",
                                               "--ca-file",
                                               ca,
                                               "--timeout=7",
                                               "--folder",
                                               "Sent",
                                               "--rule",
                                               "between",
                                               "--start=<b>",
                                               "--end",
                                               "</b>",
                                               "--show-duplicates",
                                               "--format",
                                               "tab",
                                               "--output=o.txt",
                                               "--error-log",
                                               "l.txt",
                                               "--progress",
                                               "--password-env",
                                               "PW"});
        QVERIFY2(pr.ok(), qPrintable(pr.error));
        const Options &p = pr.options;
        QCOMPARE(p.config.host, QStringLiteral("127.0.0.1"));
        QCOMPARE(p.config.port, 1443);
        QCOMPARE(p.config.caFile, ca);
        QCOMPARE(p.config.timeoutMs, 7000);
        QCOMPARE(p.folder, QStringLiteral("Sent"));
        QCOMPARE(p.rule.rule, Rule::Between);
        QCOMPARE(p.rule.startMarker, QStringLiteral("<b>"));
        QCOMPARE(p.rule.endMarker, QStringLiteral("</b>"));
        QVERIFY(p.rule.showDuplicates);
        QCOMPARE(p.format, Format::Tab);
        QCOMPARE(p.output, QStringLiteral("o.txt"));
        QCOMPARE(p.errorLog, QStringLiteral("l.txt"));
        QVERIFY(p.progress);
        QCOMPARE(p.passwordEnv, QStringLiteral("PW"));

        const Options t = parsed("--user u --rule text-set --item one --items-file f1 --item two --items-file f2");
        QCOMPARE(t.rule.textSet, (QStringList{"one", "two"}));
        QCOMPARE(t.itemFiles, (QStringList{"f1", "f2"}));

        // An empty --text is a text like any other (the value after "=" may be empty).
        const Options e = parsed("--user u --rule not-containing --text=");
        QCOMPARE(e.rule.rule, Rule::NotContaining);
        QVERIFY(e.rule.notContaining.isEmpty());
        const Options a = parsed("--user u --attachments --save-attachments d --attachment-glob *.pdf "
                                 "--attachment-glob=*.CSV");
        QVERIFY(a.attachments);
        QCOMPARE(a.saveAttachments, QStringLiteral("d"));
        QCOMPARE(a.attachmentGlobs, (QStringList{"*.pdf", "*.CSV"}));
        QVERIFY(!parsed("--user u").attachments);

        QVERIFY(parseArguments({"--help"}).options.help);
        QVERIFY(parseArguments({"--version"}).options.version);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("message");  // part of the error text
        QTest::newRow("no user") << "--folder Inbox"
                                 << "--user";
        QTest::newRow("unknown option") << "--user u --colour red"
                                        << "Unknown option 'colour'";
        QTest::newRow("stray word") << "--user u Inbox"
                                    << "unexpected";
        QTest::newRow("missing value") << "--user"
                                       << "Missing value after '--user'";
        QTest::newRow("empty output") << "--user u --output="
                                      << "--output needs a value";
        QTest::newRow("password on command line") << "--user u --password secret"
                                                  << "never";
        QTest::newRow("two password sources") << "--user u --password-env A --password-file B"
                                              << "exclude";
        QTest::newRow("bad rule") << "--user u --rule everything"
                                  << "unknown rule";
        QTest::newRow("bad format") << "--user u --format xml"
                                    << "unknown format";
        QTest::newRow("bad port") << "--user u --server host:99999"
                                  << "--server";
        QTest::newRow("containing needs text") << "--user u --rule containing"
                                               << "--text";
        QTest::newRow("text with wrong rule") << "--user u --text x"
                                              << "--text";
        QTest::newRow("between needs both") << "--user u --rule between --start x"
                                            << "--end";
        QTest::newRow("markers with wrong rule") << "--user u --start x --end y"
                                                 << "--rule between";
        QTest::newRow("text set needs items") << "--user u --rule text-set"
                                              << "--item";
        QTest::newRow("items with wrong rule") << "--user u --item x"
                                               << "text-set";
        QTest::newRow("flag with value") << "--user u --progress=yes"
                                         << "Unexpected value after '--progress'";
        QTest::newRow("password with =") << "--user u --password=secret"
                                         << "never";
        QTest::newRow("bad timeout") << "--user u --timeout 0"
                                     << "--timeout";
        QTest::newRow("word timeout") << "--user u --timeout=soon"
                                      << "--timeout";
        QTest::newRow("missing CA file") << "--user u --ca-file /nonexistent/ca.pem"
                                         << "/nonexistent/ca.pem";
        const QString lines = QStringLiteral("Entry must be number or numbers separated by commas.");
        QTest::newRow("lines missing") << "--user u --rule lines" << lines;
        QTest::newRow("lines word") << "--user u --rule lines --lines 1,x" << lines;
        QTest::newRow("lines trailing comma") << "--user u --rule lines --lines 1,2," << lines;
        QTest::newRow("lines with wrong rule") << "--user u --lines 1"
                                               << "--rule lines";
        QTest::newRow("raw cells without csv") << "--user u --raw-cells"
                                               << "--raw-cells is used only with --format csv";
        QTest::newRow("glob without folder") << "--user u --attachment-glob *.pdf"
                                             << "--attachment-glob is used only with --save-attachments";
        QTest::newRow("empty glob") << "--user u --save-attachments d --attachment-glob="
                                    << "--attachment-glob needs a value";
        QTest::newRow("empty attachment folder") << "--user u --save-attachments="
                                                 << "--save-attachments needs a value";
        QTest::newRow("no cache and a cache folder") << "--user u --no-cache --cache-dir d"
                                                     << "--no-cache and --cache-dir exclude each other";
        QTest::newRow("no cache and forget it") << "--user u --no-cache --forget-cache"
                                                << "--no-cache and --forget-cache exclude each other";
        QTest::newRow("empty cache folder") << "--user u --cache-dir="
                                            << "option --cache-dir needs a value";
    }

    void usageErrors()
    {
        QFETCH(QString, line);
        QFETCH(QString, message);
        const ParseResult r = parseArguments(line.split(u' ', Qt::SkipEmptyParts));
        QVERIFY2(!r.ok(), qPrintable(line));
        QVERIFY2(r.error.contains(message), qPrintable(r.error));
    }

    void linesEntriesThatPass()
    {
        QVERIFY(parseArguments(args("--user u --rule lines --lines 3")).ok());
        QVERIFY(parseArguments({"--user", "u", "--rule", "lines", "--lines", " 2 ,2.5,-1"}).ok());
    }

    void itemFilesAreAppended()
    {
        const QString path = tmp.filePath(QStringLiteral("items.txt"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("alpha\nbeta\r\n\r\ngamma");
        f.close();
        Options o = parsed("--user u --rule text-set --item first");
        o.itemFiles << path;
        QVERIFY(!loadItemFiles(o));
        QCOMPARE(o.rule.textSet, (QStringList{"first", "alpha", "beta", "", "gamma"}));
        o.itemFiles = {tmp.filePath(QStringLiteral("missing.txt"))};
        const auto err = loadItemFiles(o);
        QVERIFY(err && err->contains(QStringLiteral("File not found")));
    }

    void formats()
    {
        const QStringList rows{"plain", "", "with,comma", "say \"hi\"", "two\r\nlines", "tab\there", "ünï"};
        const ResultsRowSource src(rows, true);
        QCOMPARE(formatRows(rows, Format::Text), textFileBytes(src));
        QCOMPARE(formatRows(rows, Format::Comma), commaFileBytes(src));
        QCOMPARE(formatRows(rows, Format::Space), spaceLayout(src).toUtf8());
        QCOMPARE(formatRows(rows, Format::Tab), tabLayout(src).toUtf8());
        QVERIFY(!formatRows(rows, Format::Space).isEmpty());

        QCOMPARE(formatRows(rows, Format::Csv),
                 QByteArray("\"plain\"\r\n\"\"\r\n\"with,comma\"\r\n\"say \"\"hi\"\"\"\r\n\"two\r\nlines\"\r\n"
                            "\"tab\there\"\r\n\"\xc3\xbcn\xc3\xaf\"\r\n"));

        // Every jsonl line is one JSON string that reads back as the row.
        const QByteArray jsonl = formatRows(rows, Format::Jsonl);
        QVERIFY(jsonl.endsWith('\n'));
        const QList<QByteArray> lines = jsonl.left(jsonl.size() - 1).split('\n');
        QCOMPARE(lines.size(), rows.size());
        for (int i = 0; i < rows.size(); ++i) {
            const QJsonDocument doc = QJsonDocument::fromJson("[" + lines[i] + "]");
            QVERIFY2(doc.isArray(), lines[i].constData());
            QCOMPARE(doc.array().at(0).toString(), rows[i]);
        }
        QCOMPARE(jsonString(QStringLiteral("a\x01"
                                           "b")),
                 QByteArray("\"a\\u0001b\""));
        QCOMPARE(jsonString(QString(QChar(0xD800))), QByteArray("\"\\ud800\""));
        QCOMPARE(jsonString(QString::fromUtf8("\xf0\x9f\x98\x80")), QByteArray("\"\xf0\x9f\x98\x80\""));
        QCOMPARE(formatRows({}, Format::Jsonl), QByteArray());
        QCOMPARE(formatRows({}, Format::Csv), QByteArray());
    }

    // What a sender wrote stays inert: CSV cells that a spreadsheet would run
    // get a "'" first (--raw-cells keeps them), and on a terminal every format
    // shows control and bidi characters as escapes.
    void rowSafety_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<bool>("rawCells");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("csv to a file") << int(Format::Csv) << false << false
                                       << QByteArray("\"'=HYPERLINK(\"\"http://x\"\")\"\r\n\"'+1\"\r\n\"'-2\"\r\n"
                                                     "\"'@SUM(A1)\"\r\n\"'\tindent\"\r\n\"plain\"\r\n"
                                                     "\"\x1b]52;c;ZXZpbA==\x07\x1b[2J\"\r\n");
        QTest::newRow("csv, raw cells") << int(Format::Csv) << false << true
                                        << QByteArray("\"=HYPERLINK(\"\"http://x\"\")\"\r\n\"+1\"\r\n\"-2\"\r\n"
                                                      "\"@SUM(A1)\"\r\n\"\tindent\"\r\n\"plain\"\r\n"
                                                      "\"\x1b]52;c;ZXZpbA==\x07\x1b[2J\"\r\n");
        QTest::newRow("text on a terminal") << int(Format::Text) << true << false
                                            << QByteArray("=HYPERLINK(\"http://x\")\r\n+1\r\n-2\r\n@SUM(A1)\r\n"
                                                          "\tindent\r\nplain\r\n\\x1b]52;c;ZXZpbA==\\x07\\x1b[2J\r\n");
        QTest::newRow("jsonl on a terminal") << int(Format::Jsonl) << true << false
                                             << QByteArray("\"=HYPERLINK(\\\"http://x\\\")\"\n\"+1\"\n\"-2\"\n"
                                                           "\"@SUM(A1)\"\n\"\\tindent\"\n\"plain\"\n"
                                                           "\"\\\\x1b]52;c;ZXZpbA==\\\\x07\\\\x1b[2J\"\n");
    }
    void rowSafety()
    {
        QFETCH(int, format);
        QFETCH(bool, terminal);
        QFETCH(bool, rawCells);
        const QStringList rows{"=HYPERLINK(\"http://x\")",     "+1", "-2", "@SUM(A1)", "\tindent", "plain",
                               "\x1b]52;c;ZXZpbA==\x07\x1b[2J"};
        const QByteArray out = formatRows(rows, Format(format), {terminal, rawCells});
        QTEST(out, "expected");
        // The row writer gives the same bytes, message by message.
        QByteArray written;
        RowWriter w(Format(format), QString(),
                    [&written](const QByteArray &b) {
                        written += b;
                        return true;
                    },
                    {terminal, rawCells});
        w.add(rows.mid(0, 3));
        w.add(rows.mid(3));
        QVERIFY(w.finish());
        QCOMPARE(written, out);
        // A padded layout on a terminal measures the escaped rows.
        if (terminal)
            QVERIFY(!formatRows(rows, Format::Space, {true, false}).contains('\x1b'));
    }

    void runsAgainstTheFakeComponent()
    {
        const QString log = tmp.filePath(QStringLiteral("fake.log"));
        Options o = parsed("--user u --format jsonl");
        o.errorLog = log;
        {
            vc::test::ScriptedDialogs boxes;
            FakeImap imap;
            fill(imap, 2);
            QByteArray out;
            QCOMPARE(runExtraction(o, imap, QStringLiteral("pw"),
                                   [&](const QByteArray &b) {
                                       out += b;
                                       return true;
                                   }),
                     0);
            QCOMPARE(boxes.texts(), QStringList{"Done."});
            QCOMPARE(out.count('\n'), 2 * (3 + 1 + 2));  // three header rows, the body, two lines each
            QVERIFY(out.contains("\"hello 2\""));
        }
        {
            vc::test::ScriptedDialogs boxes;
            FakeImap imap;
            fill(imap, 2);
            imap.loginOk = false;
            QByteArray out = "untouched";
            QCOMPARE(runExtraction(o, imap, QString(),
                                   [&](const QByteArray &b) {
                                       out = b;
                                       return true;
                                   }),
                     3);
            QCOMPARE(out, QByteArray("untouched"));
        }
        {
            vc::test::ScriptedDialogs boxes;
            FakeImap imap;
            fill(imap, 2);
            Options missing = o;
            missing.folder = QStringLiteral("Nowhere");
            QCOMPARE(runExtraction(missing, imap, QString(), [](const QByteArray &) { return true; }), 4);
        }
        {
            vc::test::ScriptedDialogs boxes;
            FakeImap imap;
            imap.folder(QStringLiteral("Inbox"));
            QByteArray out;
            QCOMPARE(runExtraction(o, imap, QString(),
                                   [&](const QByteArray &b) {
                                       out += b;
                                       return true;
                                   }),
                     0);
            QCOMPARE(boxes.texts(), QStringList{"There are no emails in the Folder you selected."});
            QVERIFY(out.isEmpty());
        }
        {
            // A failing output stream is a failure, not a success.
            vc::test::ScriptedDialogs boxes;
            FakeImap imap;
            fill(imap, 1);
            QCOMPARE(runExtraction(o, imap, QString(), [](const QByteArray &) { return false; }), 1);
        }
    }

    // --folder given again keeps every folder in order; --label reads Gmail's
    // folder of all mail unless a folder is given; the folder options that
    // cannot go together are usage errors.
    void folderOptions()
    {
        Options o = parsed("--user u --folder Sent --folder Inbox --folder Sent");
        QCOMPARE(o.folder, QStringLiteral("Sent"));
        QCOMPARE(o.folders, (QStringList{"Sent", "Inbox", "Sent"}));
        o = parsed("--user u --label Receipts");
        QCOMPARE(o.folder, QStringLiteral("[Gmail]/All Mail"));
        QCOMPARE(o.filter.gmailLabel, QStringLiteral("Receipts"));
        o = parsed("--user u --label Receipts --folder INBOX");
        QCOMPARE(o.folder, QStringLiteral("INBOX"));
        for (const char *line : {"--user u --list-folders --all-folders", "--user u --list-folders --new-only",
                                 "--user u --label x --all-folders", "--user u --label="}) {
            QStringList a = args(line);
            a << "--auth"
              << "password";
            QVERIFY2(!parseArguments(a).ok(), line);
        }
    }

    // A server without Gmail's labels: --label is a usage error that says why, and nothing is read.
    void labelNeedsGmail()
    {
        Options o = parsed("--user u --label Receipts");
        o.errorLog = tmp.filePath(QStringLiteral("label.log"));
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        imap.folder(QStringLiteral("[Gmail]/All Mail"));
        fill(imap, 1);
        QByteArray out;
        QCOMPARE(runExtraction(o, imap, QStringLiteral("pw"),
                               [&](const QByteArray &b) {
                                   out += b;
                                   return true;
                               }),
                 2);
        QVERIFY(out.isEmpty());
        QCOMPARE(imap.count(QStringLiteral("fetch 1")), 0);
    }

    void rowsWrittenPerMessageEqualTheWholeListsBytes()
    {
        // The row-by-row formats are written message by message; the result
        // must be the bytes of the whole list in every format.
        const QString log = tmp.filePath(QStringLiteral("chunks.log"));
        auto run = [&](const char *line) {
            vc::test::ScriptedDialogs boxes;
            FakeImap imap;
            fill(imap, 4);
            Options o = parsed(line);
            o.errorLog = log;
            QByteArray out;
            const int code = runExtraction(o, imap, QString(), [&](const QByteArray &b) {
                out += b;
                return true;
            });
            return code == 0 ? out : QByteArray("exit ") + QByteArray::number(code);
        };
        QStringList rows;
        const QList<QByteArray> lines = run("--user u --format jsonl").split('\n');
        for (const QByteArray &l : lines) {
            if (!l.isEmpty())
                rows << QJsonDocument::fromJson("[" + l + "]").array().at(0).toString();
        }
        QCOMPARE(rows.size(), 4 * 6);
        QCOMPARE(run("--user u --format text"), formatRows(rows, Format::Text));
        QCOMPARE(run("--user u --format comma"), formatRows(rows, Format::Comma));
        QCOMPARE(run("--user u --format csv"), formatRows(rows, Format::Csv));
        QCOMPARE(run("--user u --format space"), formatRows(rows, Format::Space));
        QCOMPARE(run("--user u --format tab"), formatRows(rows, Format::Tab));

        // The between rule still sees the rows of earlier messages: the item
        // every message carries is listed once.
        const QByteArray between = run("--user u --rule between --start bye, --end all --format csv");
        QCOMPARE(between, QByteArray("\" \"\"\"\r\n"));
        const QByteArray dups = run("--user u --rule between --start bye, --end all --show-duplicates --format csv");
        QCOMPARE(dups.count("\r\n"), 4);
    }

    void interruptKeepsTheRowsSoFar()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, 6);
        // Ctrl+C arrives while message 3 is being fetched.
        imap.onFetch = [](int n) {
            if (n == 3)
                requestInterrupt();
        };
        Options o = parsed("--user u --format jsonl");
        o.errorLog = tmp.filePath(QStringLiteral("int.log"));
        QByteArray out;
        QCOMPARE(runExtraction(o, imap, QString(),
                               [&](const QByteArray &b) {
                                   out += b;
                                   return true;
                               }),
                 130);
        QVERIFY(out.contains("\"Subject 1\""));
        QVERIFY(out.contains("\"Subject 2\""));
        QVERIFY(!out.contains("\"Subject 3\""));
        QVERIFY(!out.contains("\"Subject 4\""));
        QCOMPARE(out.count('\n'), 2 * 6);
    }

    void outputFileIsReplacedWhole()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, 1);
        const QString path = tmp.filePath(QStringLiteral("out.txt"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(10000, 'z'));
        }
        Options o = parsed("--user u");
        o.output = path;
        o.errorLog = tmp.filePath(QStringLiteral("o.log"));
        QCOMPARE(runExtraction(o, imap, QString(), [](const QByteArray &) { return false; }), 0);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(!bytes.contains('z'));
        QVERIFY(bytes.startsWith("Ann Example <ann@example.org>\r\n"));

        // A target that cannot be written leaves exit status 1.
        o.output = tmp.path();  // a folder
        QCOMPARE(runExtraction(o, imap, QString(), [](const QByteArray &) { return true; }), 1);
    }

    void passwordSources()
    {
        QString error;
        Options o = parsed("--user u --password-env VC_TEST_CLI_PW");
        qputenv("VC_TEST_CLI_PW", "s3cr\xc3\xa9t");
        QCOMPARE(readPassword(o, &error).value_or(QString()), QString::fromUtf8("s3cr\xc3\xa9t"));
        // Read once and gone from the environment: a program started later
        // (a token command, a browser) does not inherit it.
        QVERIFY(!qEnvironmentVariableIsSet("VC_TEST_CLI_PW"));
        QVERIFY(!readPassword(o, &error));
        QVERIFY(error.contains(QStringLiteral("VC_TEST_CLI_PW")));

        const QString file = tmp.filePath(QStringLiteral("pw.txt"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(" pass word \r\nsecond line\n");
        f.close();
        o = parsed("--user u");
        o.passwordFile = file;
        QCOMPARE(readPassword(o, &error).value_or(QString()), QStringLiteral(" pass word "));
        o.passwordFile = tmp.filePath(QStringLiteral("none.txt"));
        QVERIFY(!readPassword(o, &error));
    }

    void binaryUsageErrorsAndHelp()
    {
        ProcessResult r = runBinary({"--user", "u", "--rule", "lines", "--lines", "1,,2"});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.startsWith("vellumcast-cli: Entry must be number or numbers separated by commas.\n"),
                 r.err.constData());
        QVERIFY(r.out.isEmpty());

        r = runBinary({"--rule", "all"});
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains("--user"));

        r = runBinary({"--user", "u", "--rule", "text-set", "--items-file", tmp.filePath(QStringLiteral("no.txt"))});
        QCOMPARE(r.code, 2);

        r = runBinary({"--help"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.err.isEmpty());
        QCOMPARE(QString::fromLocal8Bit(r.out), usageText());
        QVERIFY(r.out.startsWith("Usage: vellumcast-cli "));
        // Every option, every rule and format name, examples and exit statuses,
        // laid out for a manual page.
        for (const char *line : {"\n  --user NAME ",
                                 "\n  --password-file FILE ",
                                 "\n  --server HOST[:PORT] ",
                                 "\n  --ca-file FILE ",
                                 "\n  --timeout SECONDS ",
                                 "\n  --folder NAME ",
                                 "\n  --rule RULE ",
                                 "\n  --items-file FILE ",
                                 "\n  --format FORMAT ",
                                 "\n  --show-duplicates ",
                                 "\n  --progress ",
                                 "\n  -h, --help ",
                                 "(e.g. --timeout 120)\n",
                                 "\nRules:\n  all ",
                                 "\nFormats:\n  text ",
                                 " not-containing ",
                                 " text-set ",
                                 " jsonl ",
                                 "\nExamples:\n",
                                 "\nExit status:\n  0 ",
                                 "\n  130 "})
            QVERIFY2(r.out.contains(line), line);
        QVERIFY(!r.out.contains("--password "));  // refused, not offered
        r = runBinary({"--version"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.startsWith("vellumcast-cli "));
    }

    // --timeout bounds how long the program waits for a silent server: here
    // a listener that never answers its TLS handshake.
    void timeoutBoundsTheWaitForASilentServer()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const ProcessResult r =
            runBinary({"--user", "u", "--server", QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), "--timeout",
                       "1", "--error-log", tmp.filePath(QStringLiteral("t.log"))},
                      "password\n", 20000);
        QCOMPARE(r.code, 3);
        // The box names the silence, not the login.
        QVERIFY2(
            r.err.contains(
                QStringLiteral("vellumcast-cli: 127.0.0.1:%1 stopped answering (").arg(silent.serverPort()).toUtf8()),
            r.err.constData());
        QVERIFY2(r.err.contains("timed out after 1 s"), r.err.constData());
    }

    // Messages that could not be read make the run a failure: the rows of the
    // others are written, the closing line says what is missing instead of
    // "Done.", and the status is 1.
    void unreadMessagesAreAFailure()
    {
        vc::test::ScriptedDialogs boxes;
        FakeImap imap;
        fill(imap, 3);
        imap.folder(QStringLiteral("Inbox")).messages[2].reset();
        Options o = parsed("--user u --format csv");
        o.errorLog = tmp.filePath(QStringLiteral("unread.log"));
        QByteArray out;
        QCOMPARE(runExtraction(o, imap, QString(),
                               [&](const QByteArray &b) {
                                   out += b;
                                   return true;
                               }),
                 1);
        QCOMPARE(boxes.texts(),
                 QStringList{QStringLiteral("1 of 3 messages could not be read (see %1)").arg(o.errorLog)});
        QVERIFY(out.contains("Subject 2"));
        QVERIFY(!out.contains("Subject 3"));
    }

    // An --output that cannot be written ends the program before it connects
    // (nothing listens at the server given: a connect would end with status 3).
    void unusableOutputFailsBeforeConnecting()
    {
        const QString target = tmp.filePath(QStringLiteral("no-such-folder/rows.txt"));
        const ProcessResult r = runBinary({"--user", "u", "--server", "127.0.0.1:1", "--output", target, "--error-log",
                                           tmp.filePath(QStringLiteral("early.log"))},
                                          "password\n");
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(target.toLocal8Bit()), r.err.constData());
        QVERIFY2(!r.err.contains("Invalid login"), r.err.constData());
        QVERIFY(!QFile::exists(tmp.filePath(QStringLiteral("early.log"))));  // no fetch was tried
    }

    void binaryConnectFailure()
    {
        // Nothing listens on port 1 of this machine: connect fails, status 3,
        // and the box that names the problem reaches standard error with the
        // program's prefix, and the error log.
        const ProcessResult r =
            runBinary({"--user", "u", "--server", "127.0.0.1:1", "--error-log", tmp.filePath(QStringLiteral("b.log"))},
                      "password\n");
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains("vellumcast-cli: 127.0.0.1 refused the connection on port 1.\n"), r.err.constData());
        QVERIFY(!r.err.contains("Invalid login"));
        QFile log(tmp.filePath(QStringLiteral("b.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains(" : 127.0.0.1 refused the connection on port 1. Please check"));
        QVERIFY(!r.err.contains("Done."));
        QVERIFY(r.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "test_cli.moc"
