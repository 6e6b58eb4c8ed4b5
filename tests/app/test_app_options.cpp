// The window program's command line.
#include "app/AppOptions.h"

#include <QTemporaryFile>
#include <QTest>

using namespace vc;

namespace {
AppOptions parse(QStringList args)
{
    args.prepend(QStringLiteral("vellumcast"));
    return parseAppOptions(args);
}
}  // namespace

class TestAppOptions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void defaults()
    {
        const AppOptions o = parse({});
        QVERIFY(o.error.isEmpty());
        QCOMPARE(o.window.connection.host, product::kImapHost);
        QCOMPARE(o.window.connection.port, 993);
        QCOMPARE(o.window.connection.timeoutMs, 60000);
        QVERIFY(o.window.onlineCheck);
        QVERIFY(!o.help && !o.version);
    }

    void accepted()
    {
        QTemporaryFile ca;
        QVERIFY(ca.open());
        const AppOptions o =
            parse({"--server", "127.0.0.1:10993", "--ca-file=" + ca.fileName(), "--timeout", "5", "--no-online-check"});
        QVERIFY2(o.error.isEmpty(), qPrintable(o.error));
        QCOMPARE(o.window.connection.host, QStringLiteral("127.0.0.1"));
        QCOMPARE(o.window.connection.port, 10993);
        QCOMPARE(o.window.connection.caFile, ca.fileName());
        QCOMPARE(o.window.connection.timeoutMs, 5000);
        QVERIFY(!o.window.onlineCheck);
        QVERIFY(parse({"--help"}).help);
        QVERIFY(parse({"--version"}).version);
        QCOMPARE(parse({"--server=mail.example.org"}).window.connection.port, 993);
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
        QTest::newRow("unknown option") << QStringList{"--verbose"};
        QTest::newRow("stray argument") << QStringList{"inbox"};
        QTest::newRow("value on a switch") << QStringList{"--no-online-check=yes"};
    }
    void refused()
    {
        QFETCH(QStringList, args);
        const AppOptions o = parse(args);
        QVERIFY(!o.error.isEmpty());
    }

    void usageNamesEveryOption()
    {
        const QString u = appUsage();
        for (const char *opt : {"--server", "--ca-file", "--timeout", "--no-online-check", "--help", "--version"})
            QVERIFY2(u.contains(QLatin1String(opt)), opt);
    }
};

QTEST_APPLESS_MAIN(TestAppOptions)
#include "test_app_options.moc"
