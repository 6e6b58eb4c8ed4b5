// vellumcast-cli --watch against the throw-away Dovecot: messages delivered
// one by one while it watches show up in the output within seconds, each
// once and in UID order, also when the server's IMAP process is killed and
// when the whole server restarts; SIGTERM ends it with 0, Ctrl+C with 130,
// --watch-exit-after and --watch-timeout on their own; and the options that
// cannot go with a watch are refused.
#include "OAuthTestProvider.h"
#include "TestProcess.h"
#include "TestServer.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

using vc::test::OAuthTestProvider;
using vc::test::runProgram;
using vc::test::TestServer;

namespace {

QByteArray message(const QByteArray &token)
{
    return "From: Billing <billing@example.org>\r\nTo: tester@example.org\r\nSubject: Invoice " + token
           + "\r\nDate: Mon, 2 Jun 2025 10:00:00 +0200\r\nMessage-ID: <" + token
           + "@example.org>\r\n\r\nHello,\r\nTotal " + token + ": 12.50 EUR\r\nThanks\r\n";
}

// One row of the output: the rule's text and the message's UID.
struct Row {
    QString text;
    qint64 uid = 0;
};

QList<Row> rowsOf(const QByteArray &jsonl)
{
    QList<Row> rows;
    for (const QByteArray &line : jsonl.split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        rows << Row{o.value(QStringLiteral("text")).toString(), o.value(QStringLiteral("uid")).toString().toLongLong()};
    }
    return rows;
}

}  // namespace

class CliWatchTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString output;
    std::unique_ptr<QProcess> p;
    QByteArray err;

    // vellumcast-cli --watch, each message's "Total" line with its UID as JSON lines in `output`.
    void start(const QStringList &extra = {}, bool freshOutput = true, QStringList signIn = {})
    {
        if (signIn.isEmpty())
            signIn = TestServer::cliSignIn(tmp.filePath(QStringLiteral("cli.log")));
        output = tmp.filePath(QStringLiteral("%1.jsonl").arg(QTest::currentTestFunction()));
        if (freshOutput)
            QFile::remove(output);
        err.clear();
        p = std::make_unique<QProcess>();
        p->setProgram(qEnvironmentVariable("VC_BIN_DIR") + QStringLiteral("/vellumcast-cli"));
        p->setArguments(signIn
                        + QStringList{"--rule", "containing", "--text", "Total", "--with-source", "--format", "jsonl",
                                      "--output", output, "--watch"}
                        + extra);
        connect(p.get(), &QProcess::readyReadStandardError, this, [this] { err += p->readAllStandardError(); });
        p->start();
        QVERIFY(p->waitForStarted());
    }

    QByteArray rows() const
    {
        QFile f(output);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Waits up to `ms` for `done`; the time it took, or -1.
    static qint64 within(int ms, const std::function<bool()> &done)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            if (done())
                return clock.elapsed();
            QTest::qWait(50);
        }
        return done() ? clock.elapsed() : -1;
    }

    bool watching()
    {
        return within(15000, [this] { return err.contains("Watching Inbox"); }) >= 0;
    }

    // Waits up to 5 s for `text` on the program's standard error.
    bool says(const QByteArray &text)
    {
        return within(5000, [&] {
            err += p->readAllStandardError();
            return err.contains(text);
        }) >= 0;
    }

    // Delivers the message of `token` and waits for its row.
    qint64 deliverAndWait(const QByteArray &token, int ms)
    {
        TestServer::deliver(QStringLiteral("Inbox"), message(token));
        return within(ms, [&] { return rows().contains("Total " + token); });
    }

    // True once the program has ended (also when it ended while the test waited for something else).
    bool ended(int ms)
    {
        const bool done = p->state() == QProcess::NotRunning || p->waitForFinished(ms);
        err += p->readAllStandardError();
        return done;
    }

    // Ends the program with `signal`; its exit status.
    int endWith(int signal)
    {
        ::kill(pid_t(p->processId()), signal);
        if (!ended(15000)) {
            p->kill();
            p->waitForFinished();
            return -1;
        }
        err += p->readAllStandardError();
        return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    }

    // Every token's row once, in this order, under ascending UIDs.
    void checkOnceInOrder(const QList<QByteArray> &tokens)
    {
        const QList<Row> got = rowsOf(rows());
        QStringList texts;
        for (const Row &r : got)
            texts << r.text;
        QStringList want;
        for (const QByteArray &t : tokens)
            want << QStringLiteral("Total %1: 12.50 EUR").arg(QString::fromUtf8(t));
        QCOMPARE(texts, want);
        for (qsizetype i = 1; i < got.size(); ++i)
            QVERIFY2(got[i].uid > got[i - 1].uid, qPrintable(QStringLiteral("row %1").arg(i)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test IMAP server is not running");
    }
    void init() { TestServer::resetMailbox(); }
    void cleanup()
    {
        if (p && p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished();
        }
        if (QTest::currentTestFailed())
            qWarning("standard error: %s", err.constData());
    }

    void refusedWithWatch_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("xlsx") << QStringList{"--watch", "--format", "xlsx", "--output", "x.xlsx"}
                              << "--format xlsx cannot be used with --watch: a workbook is written whole";
        QTest::newRow("comma") << QStringList{"--watch", "--format", "comma"} << "with --watch use text, csv or jsonl";
        QTest::newRow("poll alone") << QStringList{"--poll", "5"} << "--poll is used only with --watch";
        QTest::newRow("exit-after alone")
            << QStringList{"--watch-exit-after", "5"} << "--watch-exit-after is used only with --watch";
        QTest::newRow("no seconds") << QStringList{"--watch", "--watch-timeout", "0"}
                                    << "--watch-timeout takes a whole number of seconds from 1 on, not '0'";
        QTest::newRow("poll not a number") << QStringList{"--watch", "--poll", "soon"}
                                           << "--poll takes a whole number of seconds from 1 on, not 'soon'";
    }
    void refusedWithWatch()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        const auto r = runProgram(QStringLiteral("vellumcast-cli"), QStringList{"--user", "tester"} + args);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(says.toUtf8()), r.err.constData());
    }

    // One message is there before; three arrive one by one, each row in the
    // file within 5 s of its delivery; SIGTERM then ends the watch with 0.
    void newMailWithinSecondsAndSigterm()
    {
        TestServer::deliver(QStringLiteral("Inbox"), message("A0"));
        start();
        QVERIFY2(watching(), err.constData());
        QVERIFY(rows().contains("Total A0"));
        for (const QByteArray token : {"A1", "A2", "A3"}) {
            const qint64 ms = deliverAndWait(token, 5000);
            QVERIFY2(ms >= 0, token.constData());
        }
        QCOMPARE(endWith(SIGTERM), 0);
        checkOnceInOrder({"A0", "A1", "A2", "A3"});
        QVERIFY2(err.contains("Stopped watching Inbox (3 new message(s)): it was stopped."), err.constData());
    }

    // The IMAP process is killed, then the whole server restarts, each time
    // with mail delivered meanwhile: every message once, in UID order, and the
    // watch ends on its own after its fifth new message.
    void survivesKilledProcessAndRestart()
    {
        start({"--watch-exit-after", "5"});
        QVERIFY2(watching(), err.constData());
        QVERIFY(deliverAndWait("B1", 5000) >= 0);
        QCOMPARE(TestServer::script({QStringLiteral("kick")}), 0);
        TestServer::deliver(QStringLiteral("Inbox"), message("B2"));
        QVERIFY(deliverAndWait("B3", 15000) >= 0);
        // The row may reach the file before the line about signing in again
        // has been read from the pipe.
        QVERIFY2(says("Signed in again"), err.constData());
        QCOMPARE(TestServer::script({QStringLiteral("restart")}), 0);
        TestServer::deliver(QStringLiteral("Inbox"), message("B4"));
        QVERIFY(deliverAndWait("B5", 20000) >= 0);
        QVERIFY(ended(10000));
        QCOMPARE(p->exitCode(), 0);
        checkOnceInOrder({"B1", "B2", "B3", "B4", "B5"});
        QVERIFY2(err.contains("Stopped watching Inbox (5 new message(s)): 5 new message(s) were read."),
                 err.constData());
    }

    // Ctrl+C ends a watch with 130; --watch-timeout ends one with 0.
    void interruptAndTimeout()
    {
        start();
        QVERIFY2(watching(), err.constData());
        QCOMPARE(endWith(SIGINT), 130);

        start({"--watch-timeout", "1"});
        QVERIFY(ended(15000));
        QCOMPARE(p->exitCode(), 0);
        err += p->readAllStandardError();
        QVERIFY2(err.contains("its 1 s were over"), err.constData());
    }

    // Rows that cannot be written end the watch at once, with the reason and
    // exit status 1, instead of reading on while they go nowhere.
    void unwritableOutputEndsTheWatch()
    {
        TestServer::deliver(QStringLiteral("Inbox"), message("D1"));
        const auto r = runProgram(QStringLiteral("vellumcast-cli"),
                                  TestServer::cliSignIn(tmp.filePath(QStringLiteral("cli.log")))
                                      + QStringList{"--output", "/dev/full", "--watch", "--watch-timeout", "60"},
                                  {}, 30000);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("cannot write '/dev/full'"), r.err.constData());
        QVERIFY2(!r.err.contains("Watching Inbox"), r.err.constData());
    }

    // Over OAuth 2.0: the token expires while the program watches and the
    // line drops; the sign-in is renewed with the refresh token, and the
    // message delivered meanwhile arrives.
    void oauthSignInIsRenewedDuringTheWatch()
    {
        const std::unique_ptr<OAuthTestProvider> provider = OAuthTestProvider::ofTestServer();
        QVERIFY(provider);
        QVERIFY(provider->control({{QStringLiteral("reset"), true}}));
        QVERIFY(provider->control({{QStringLiteral("device_interval"), 1}}));
        QVERIFY(provider->control({{QStringLiteral("device_script"), QJsonArray{QStringLiteral("approve")}}}));
        start({"--watch-exit-after", "1"}, true,
              {"--user", TestServer::user(), "--server", QStringLiteral("127.0.0.1:%1").arg(TestServer::port()),
               "--ca-file", TestServer::caFile(), "--auth", "oauth2", "--oauth-provider", "microsoft",
               "--oauth-authority", provider->authority(), "--oauth-client-id", "cli-test", "--no-keychain",
               "--error-log", tmp.filePath(QStringLiteral("oauth.log"))});
        QVERIFY2(watching(), err.constData());
        QVERIFY(provider->control({{QStringLiteral("expire"), QStringLiteral("all")}}));
        QCOMPARE(TestServer::script({QStringLiteral("kick")}), 0);
        QVERIFY2(deliverAndWait("E1", 20000) >= 0, err.constData());
        QVERIFY(ended(10000));
        QCOMPARE(p->exitCode(), 0);
        checkOnceInOrder({"E1"});
        const QList<QJsonObject> tokens = provider->requests(QStringLiteral("token"));
        QVERIFY(!tokens.isEmpty());
        QCOMPARE(tokens.last().value(QLatin1String("params")).toObject().value(QLatin1String("grant_type")),
                 QJsonValue(QStringLiteral("refresh_token")));
        // The row may reach the file before the line about signing in again
        // has been read from the pipe.
        QVERIFY2(says("Signed in again"), err.constData());
    }

    // With --new-only, a watched message counts as soon as its rows are
    // written: a watch killed outright (no chance to tidy up) leaves the mark
    // after the last message it wrote, so the next run reads only what came
    // after it.
    void newOnlyWatchKilledOutright()
    {
        qputenv("XDG_DATA_HOME", tmp.filePath(QStringLiteral("data")).toUtf8());
        TestServer::deliver(QStringLiteral("Inbox"), message("F0"));
        start({"--new-only"});
        QVERIFY2(watching(), err.constData());
        // The mark moves just after a message's rows are written; a kill in
        // between would read that one message again. Killed once it moved:
        const auto marks = [this] {
            QDirIterator it(tmp.filePath(QStringLiteral("data")), {QStringLiteral("new-only-marks.json")}, QDir::Files,
                            QDirIterator::Subdirectories);
            if (!it.hasNext())
                return QByteArray();
            QFile f(it.next());
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        QVERIFY(within(5000, [&] { return !marks().isEmpty(); }) >= 0);  // the walk's F0
        for (const QByteArray &token : {QByteArray("F1"), QByteArray("F2")}) {
            const QByteArray before = marks();
            QVERIFY(deliverAndWait(token, 5000) >= 0);
            QVERIFY(within(5000, [&] { return marks() != before; }) >= 0);
        }
        p->kill();
        QVERIFY(p->waitForFinished(10000));
        checkOnceInOrder({"F0", "F1", "F2"});

        TestServer::deliver(QStringLiteral("Inbox"), message("F3"));
        start({"--new-only", "--watch-timeout", "1"}, false);
        QVERIFY(ended(20000));
        QCOMPARE(p->exitCode(), 0);
        checkOnceInOrder({"F0", "F1", "F2", "F3"});
        qunsetenv("XDG_DATA_HOME");
    }

    // A watch appends to --output: what the file held stays, and the rows of
    // the new messages come after it.
    void outputIsAppendedTo()
    {
        start({"--watch-exit-after", "1"});
        QVERIFY2(watching(), err.constData());
        QVERIFY(deliverAndWait("C1", 5000) >= 0);
        QVERIFY(ended(10000));
        QCOMPARE(p->exitCode(), 0);
        const QByteArray before = rows();
        start({"--watch-exit-after", "1"}, false);
        QVERIFY2(watching(), err.constData());
        QVERIFY(deliverAndWait("C2", 5000) >= 0);
        QVERIFY(ended(10000));
        const QByteArray after = rows();
        QVERIFY(after.startsWith(before));
        // The walk of the second run read C1 again; the watch added C2.
        QStringList texts;
        for (const Row &r : rowsOf(after))
            texts << r.text;
        QCOMPARE(texts, QStringList({"Total C1: 12.50 EUR", "Total C1: 12.50 EUR", "Total C2: 12.50 EUR"}));
    }
};

QTEST_GUILESS_MAIN(CliWatchTest)
#include "test_cli_watch.moc"
