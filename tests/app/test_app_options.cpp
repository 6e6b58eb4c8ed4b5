// The window program's command line: the connection options it shares with
// vellumcast-cli, its own options, and --help.
#include "TestProcess.h"
#include "app/AppOptions.h"

#include <QTemporaryFile>
#include <QTest>

using namespace vc;

namespace {
struct Result {
    AppOptions options;
    cmdline::Parsed parsed;
};

Result parse(QStringList args)
{
    Result r;
    args.prepend(QStringLiteral("vellumcast"));
    r.parsed = cmdline::parse(appProgram(r.options), args);
    return r;
}
}  // namespace

class TestAppOptions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void defaults()
    {
        const Result r = parse({});
        QVERIFY(r.parsed.error.isEmpty());
        QCOMPARE(r.options.window.connection.host, product::kImapHost);
        QCOMPARE(r.options.window.connection.port, 993);
        QCOMPARE(r.options.window.connection.timeoutMs, 60000);
        QVERIFY(r.options.window.onlineCheck);
        QVERIFY(r.options.settingsFile.isEmpty());
        QVERIFY(!r.parsed.help && !r.parsed.version);
    }

    void accepted()
    {
        QTemporaryFile ca;
        QVERIFY(ca.open());
        const Result r = parse({"--server", "127.0.0.1:10993", "--ca-file=" + ca.fileName(), "--timeout", "5",
                                "--no-online-check", "--settings", "/tmp/demo.ini"});
        QVERIFY2(r.parsed.error.isEmpty(), qPrintable(r.parsed.error));
        const Form1Options &o = r.options.window;
        QCOMPARE(o.connection.host, QStringLiteral("127.0.0.1"));
        QCOMPARE(o.connection.port, 10993);
        QCOMPARE(o.connection.caFile, ca.fileName());
        QCOMPARE(o.connection.timeoutMs, 5000);
        QVERIFY(!o.onlineCheck);
        QCOMPARE(r.options.settingsFile, QStringLiteral("/tmp/demo.ini"));
        QCOMPARE(parse({"--password-file", "pw.txt"}).options.window.passwordFile, QStringLiteral("pw.txt"));
        QVERIFY(parse({"--help"}).parsed.help);
        QVERIFY(parse({"-h"}).parsed.help);
        QVERIFY(parse({"--version"}).parsed.version);
        QCOMPARE(parse({"--server=mail.example.org"}).options.window.connection.port, 993);
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("server without value") << QStringList{"--server"};
        QTest::newRow("bad port") << QStringList{"--server", "host:99999"};
        QTest::newRow("empty server") << QStringList{"--server="};
        QTest::newRow("zero timeout") << QStringList{"--timeout", "0"};
        QTest::newRow("word timeout") << QStringList{"--timeout", "soon"};
        QTest::newRow("missing CA file") << QStringList{"--ca-file", "/nonexistent/ca.pem"};
        QTest::newRow("empty settings file") << QStringList{"--settings="};
        QTest::newRow("empty password file") << QStringList{"--password-file="};
        QTest::newRow("unknown option") << QStringList{"--verbose"};
        QTest::newRow("stray argument") << QStringList{"inbox"};
        QTest::newRow("value on a switch") << QStringList{"--no-online-check=yes"};
    }
    void refused()
    {
        QFETCH(QStringList, args);
        QVERIFY(!parse(args).parsed.error.isEmpty());
    }

    // The program answers --help and usage errors without a display.
    void helpAndUsageErrorsOfTheBinary()
    {
        const test::ProcessResult help = test::runProgram(QStringLiteral("vellumcast"), {"--help"});
        QCOMPARE(help.code, 0);
        QVERIFY(help.out.startsWith("Usage: vellumcast [OPTION]...\n"));
        for (const char *line :
             {"\n  --server HOST[:PORT] ", "\n  --ca-file FILE ", "\n  --timeout SECONDS ", "\n  --settings FILE ",
              "\n  --no-online-check ", "\n  -h, --help ", "\nExamples:\n", "\nExit status:\n"})
            QVERIFY2(help.out.contains(line), line);
        // No example sends the user to a shared folder, where another user
        // could have made the file first.
        QVERIFY2(!help.out.contains("/tmp/"), help.out.constData());

        const test::ProcessResult wrong = test::runProgram(QStringLiteral("vellumcast"), {"--timeout", "0"});
        QCOMPARE(wrong.code, 2);
        QVERIFY(wrong.out.isEmpty());
        QVERIFY2(wrong.err.startsWith("vellumcast: invalid --timeout '0'"), wrong.err.constData());
    }
};

QTEST_APPLESS_MAIN(TestAppOptions)
#include "test_app_options.moc"
