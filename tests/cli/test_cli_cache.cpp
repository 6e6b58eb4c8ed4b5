// vellumcast-cli with the local mail copy against the throw-away Dovecot: a
// re-run gives the same bytes as a run that fetches everything and fetches
// nothing itself; expunged messages and a recreated folder give their own
// rows; a damaged or foreign file is set aside with one warning; two programs
// share one copy.
#include "TestProcess.h"
#include "TestRunHost.h"
#include "TestServer.h"

#include "extract/ExtractionRun.h"
#include "mail/ImapClient.h"
#include "mail/MimeDecode.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using vc::test::ProcessResult;
using vc::test::runProgram;
using vc::test::TestServer;

namespace {

const QString kFixtures = QStringLiteral(VC_FIXTURE_DIR);

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray note(const QByteArray &subject, const QByteArray &body)
{
    return "From: Ann <ann@example.org>\r\nTo: tester@example.org\r\nSubject: " + subject
           + "\r\nDate: Mon, 05 Feb 2024 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
             "Content-Type: text/plain; charset=utf-8\r\n\r\n"
           + body + "\r\n";
}

}  // namespace

class CliCacheTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    int logs = 0;
    QString lastLog;

    // A run on `folder` with the local copy in `cacheDir` (none: --no-cache).
    ProcessResult cli(const QString &cacheDir, const QString &folder, const QStringList &extra)
    {
        lastLog = tmp.filePath(QStringLiteral("fetch-%1.log").arg(++logs));
        QStringList args = TestServer::cliSignIn(lastLog) + QStringList{"--folder", folder} + extra;
        args += cacheDir.isEmpty() ? QStringList{"--no-cache"} : QStringList{"--cache-dir", cacheDir};
        return runProgram(QStringLiteral("vellumcast-cli"), args);
    }

    // The messages the last run fetched, by its fetch log.
    int fetchesOfLastRun() const
    {
        static const QRegularExpression fetch(QStringLiteral("\\bFETCH\\b"));
        int n = 0;
        for (const QByteArray &line : readAll(lastLog).split('\n'))
            n += QString::fromUtf8(line).contains(fetch) ? 1 : 0;
        return n;
    }

    // The searches of the last run, by its fetch log.
    int searchesOfLastRun() const
    {
        int n = 0;
        for (const QByteArray &line : readAll(lastLog).split('\n'))
            n += line.contains("UID SEARCH") ? 1 : 0;
        return n;
    }

    static QString cacheFile(const QString &dir) { return dir + QStringLiteral("/mail-cache.sqlite"); }

    void makeFolder(const QString &name, const QList<QByteArray> &messages)
    {
        TestServer::script({"doveadm", "mailbox", "create", "-u", TestServer::user(), name});
        for (const QByteArray &m : messages)
            TestServer::deliver(name, m);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test IMAP server is not running");
        qunsetenv("VC_NO_CACHE");  // the programs run here use their local copy
        TestServer::resetMailbox();
        QStringList files;
        for (const QString &name : QDir(kFixtures).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name))
            files << kFixtures + u'/' + name;
        for (const QString &name :
             QDir(kFixtures + QStringLiteral("/records")).entryList({QStringLiteral("*.eml")}, QDir::Files))
            files << kFixtures + QStringLiteral("/records/") + name;
        for (const QString &file : std::as_const(files))
            TestServer::deliver(QStringLiteral("Inbox"), readAll(file));
    }

    // Every row of a run through the local copy, first filling it and then
    // reading from it, is the row of a run that fetches everything. The rows
    // share one copy, so a record kept for one run's needs (header fields,
    // attachment text) meets runs with other needs.
    void rerunGivesTheSameBytes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("all text") << QStringList{"--rule", "all"};
        QTest::newRow("containing csv") << QStringList{"--rule", "containing", "--text", "order", "--format", "csv"};
        QTest::newRow("not-containing comma")
            << QStringList{"--rule", "not-containing", "--text", "e", "--format", "comma"};
        QTest::newRow("lines space") << QStringList{"--rule", "lines", "--lines", "1,2,5", "--format", "space"};
        QTest::newRow("between tab") << QStringList{"--rule", "between", "--start",  "<",
                                                    "--end",  ">",       "--format", "tab"};
        QTest::newRow("text-set jsonl") << QStringList{"--rule", "text-set", "--item",   "Total",
                                                       "--item", "@",        "--format", "jsonl"};
        QTest::newRow("attachment text") << QStringList{"--attachments", "--rule", "all"};
        QTest::newRow("all again without attachment text") << QStringList{"--rule", "all", "--format", "csv"};
        QTest::newRow("with-source csv") << QStringList{"--with-source", "--format", "csv"};
        QTest::newRow("orders csv") << QStringList{"--template", "orders"};
        QTest::newRow("addresses jsonl") << QStringList{"--template", "addresses", "--format", "jsonl"};
    }
    void rerunGivesTheSameBytes()
    {
        QFETCH(QStringList, args);
        const QString shared = tmp.filePath(QStringLiteral("shared"));
        const ProcessResult plain = cli(QString(), QStringLiteral("Inbox"), args);
        QCOMPARE(plain.code, 0);
        QVERIFY(fetchesOfLastRun() > 0);
        const ProcessResult first = cli(shared, QStringLiteral("Inbox"), args);
        QCOMPARE(first.code, 0);
        const ProcessResult again = cli(shared, QStringLiteral("Inbox"), args);
        QCOMPARE(again.code, 0);
        QCOMPARE(fetchesOfLastRun(), 0);
        QVERIFY2(!plain.out.isEmpty(), plain.err.constData());
        QCOMPARE(again.out, first.out);
        QCOMPARE(again.err, first.err);
        QCOMPARE(again.out, plain.out);
    }

    // A message expunged between runs loses its rows, and its record.
    void expungedMessageIsGone()
    {
        const QString folder = QStringLiteral("Cache Expunge");
        makeFolder(folder, {note("first-note", "one"), note("second-note", "two"), note("third-note", "three")});
        const QString dir = tmp.filePath(QStringLiteral("expunge"));
        QVERIFY(cli(dir, folder, {"--rule", "all"}).out.contains("second-note"));
        QCOMPARE(TestServer::script({"doveadm", "expunge", "-u", TestServer::user(), "mailbox", folder, "uid", "2"}),
                 0);
        const ProcessResult after = cli(dir, folder, {"--rule", "all"});
        QCOMPARE(after.code, 0);
        QCOMPARE(fetchesOfLastRun(), 0);
        QVERIFY(!after.out.contains("second-note"));
        QVERIFY(after.out.contains("first-note") && after.out.contains("third-note"));
        QCOMPARE(after.out, cli(QString(), folder, {"--rule", "all"}).out);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("expunge"));
        db.setDatabaseName(cacheFile(dir));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("SELECT group_concat(uid) FROM messages")) && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("1,3"));
    }

    // Mail delivered between runs is all the next run fetches, and its rows
    // come in their place among the kept ones.
    void onlyNewMailIsFetched()
    {
        const QString folder = QStringLiteral("Cache New");
        makeFolder(folder, {note("kept-one", "one"), note("kept-two", "two")});
        const QString dir = tmp.filePath(QStringLiteral("new"));
        QCOMPARE(cli(dir, folder, {"--rule", "all"}).code, 0);
        QCOMPARE(fetchesOfLastRun(), 2);
        TestServer::deliver(folder, note("new-three", "three"));
        TestServer::deliver(folder, note("new-four", "four"));
        const ProcessResult after = cli(dir, folder, {"--rule", "all", "--format", "csv"});
        QCOMPARE(after.code, 0);
        QCOMPARE(fetchesOfLastRun(), 2);
        QCOMPARE(after.out, cli(QString(), folder, {"--rule", "all", "--format", "csv"}).out);
        QVERIFY(after.out.indexOf("kept-two") < after.out.indexOf("new-three"));
    }

    // While the folder's select shows the UIDVALIDITY, count and UIDNEXT it
    // showed when the last complete walk began, its UIDs come from the copy:
    // no search, no fetch, the same bytes. A message expunged and one
    // delivered leave the count as it was but not UIDNEXT: the run searches
    // again and gets it right.
    void unchangedFolderIsNotSearched()
    {
        const QString folder = QStringLiteral("Cache Same Count");
        makeFolder(folder, {note("first-note", "one"), note("second-note", "two"), note("third-note", "three")});
        const QString dir = tmp.filePath(QStringLiteral("same-count"));
        const QStringList args{"--rule", "all", "--format", "csv"};
        const ProcessResult first = cli(dir, folder, args);
        QCOMPARE(first.code, 0);
        QCOMPARE(searchesOfLastRun(), 1);
        QCOMPARE(fetchesOfLastRun(), 3);
        const ProcessResult same = cli(dir, folder, args);
        QCOMPARE(same.code, 0);
        QCOMPARE(searchesOfLastRun(), 0);
        QCOMPARE(fetchesOfLastRun(), 0);
        QCOMPARE(same.out, first.out);

        QCOMPARE(TestServer::script({"doveadm", "expunge", "-u", TestServer::user(), "mailbox", folder, "uid", "2"}),
                 0);
        TestServer::deliver(folder, note("fourth-note", "four"));
        const ProcessResult after = cli(dir, folder, args);
        QCOMPARE(after.code, 0);
        QCOMPARE(searchesOfLastRun(), 1);
        QCOMPARE(fetchesOfLastRun(), 1);
        QVERIFY(!after.out.contains("second-note"));
        QVERIFY(after.out.contains("fourth-note"));
        QCOMPARE(after.out, cli(QString(), folder, args).out);

        const ProcessResult again = cli(dir, folder, args);
        QCOMPARE(searchesOfLastRun(), 0);
        QCOMPARE(fetchesOfLastRun(), 0);
        QCOMPARE(again.out, after.out);

        TestServer::deliver(folder, note("fifth-note", "five"));
        const ProcessResult grown = cli(dir, folder, args);
        QCOMPARE(searchesOfLastRun(), 1);
        QCOMPARE(fetchesOfLastRun(), 1);
        QVERIFY(grown.out.contains("fifth-note"));
        QCOMPARE(grown.out, cli(QString(), folder, args).out);
    }

    // The line lost while the walk fetches what the copy lacks: the walk
    // signs in again and goes on, every message once and in order.
    void lostLineDuringTheFetches()
    {
        const QString folder = QStringLiteral("Cache Reconnect");
        QList<QByteArray> first;
        const QByteArray body = QByteArray(300000, 'x');
        for (int i = 1; i <= 10; ++i)
            first << note("message-" + QByteArray::number(i), body);
        makeFolder(folder, first);
        const QString dir = tmp.filePath(QStringLiteral("reconnect"));
        QCOMPARE(cli(dir, folder, {"--rule", "all"}).code, 0);
        for (int i = 11; i <= 30; ++i)
            TestServer::deliver(folder, note("message-" + QByteArray::number(i), body));

        vc::ImapClient imap;
        imap.configure(TestServer::config());
        vc::DecodeNeeds asTheProgram;  // what the command-line program decodes: no HTML body
        asTheProgram.htmlBody = false;
        imap.setDecodeNeeds(asTheProgram);
        const auto host = vc::test::TestRunHost::onTestServer(imap, tmp.filePath(QStringLiteral("reconnect.log")));
        host->folder = folder;
        host->cache = {true, dir, vc::MailCache::kDefaultSizeCap};
        host->onMessage = [](int n) {
            if (n == 11)
                TestServer::script({"kick"});
        };
        const vc::RunOutcome outcome = vc::ExtractEmail(*host);
        QCOMPARE(vc::test::outcomeName(outcome), QStringLiteral("Completed"));
        QCOMPARE(outcome.walk.cache.fromDisk, 10);
        QVERIFY2(outcome.walk.reconnects >= 1, "the line was not lost during the walk");
        QCOMPARE(host->delivered.size(), 30);
        for (int i = 0; i < 30; ++i)
            QCOMPARE(host->delivered[i].Subject, QStringLiteral("message-%1").arg(i + 1));
    }

    // A folder made afresh under the same name numbers its messages from 1
    // again, under another UIDVALIDITY: the rows are the new messages'.
    void recreatedFolderGivesItsOwnRows()
    {
        const QString folder = QStringLiteral("Cache Recreated");
        makeFolder(folder, {note("old-one", "old"), note("old-two", "old")});
        const QString dir = tmp.filePath(QStringLiteral("recreated"));
        QVERIFY(cli(dir, folder, {"--rule", "all"}).out.contains("old-two"));
        QCOMPARE(TestServer::script({"doveadm", "mailbox", "delete", "-u", TestServer::user(), folder}), 0);
        makeFolder(folder, {note("new-one", "new"), note("new-two", "new")});
        const ProcessResult after = cli(dir, folder, {"--rule", "all"});
        QCOMPARE(after.code, 0);
        QVERIFY(fetchesOfLastRun() > 0);
        QVERIFY2(!after.out.contains("old-"), after.out.constData());
        QCOMPARE(after.out, cli(QString(), folder, {"--rule", "all"}).out);
    }

    void damagedFileIsSetAside_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("cut in the middle") << QStringLiteral("cut");
        QTest::newRow("garbage") << QStringLiteral("garbage");
        QTest::newRow("another program's database") << QStringLiteral("foreign");
    }
    void damagedFileIsSetAside()
    {
        QFETCH(QString, damage);
        const QString dir = tmp.filePath(QStringLiteral("damaged-") + damage);
        const QStringList args{"--rule", "all", "--format", "csv"};
        const QByteArray plain = cli(QString(), QStringLiteral("Inbox"), args).out;
        QCOMPARE(cli(dir, QStringLiteral("Inbox"), args).code, 0);
        const QString file = cacheFile(dir);
        QFile f(file);
        if (damage == QLatin1String("cut")) {
            const qint64 size = f.size();
            QVERIFY(size > 8192);
            QVERIFY(f.resize(size / 2));
        } else if (damage == QLatin1String("garbage")) {
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QByteArray junk(200000, '\0');
            for (qsizetype i = 0; i < junk.size(); ++i)
                junk[i] = char((i * 7919 + 13) % 251);
            f.write(junk);
            f.close();
        } else {
            QVERIFY(QFile::remove(file));
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), damage);
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("CREATE TABLE messages (id INTEGER PRIMARY KEY, body TEXT)")));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO messages (body) VALUES ('not mail')")));
            db.close();
        }
        const ProcessResult r = cli(dir, QStringLiteral("Inbox"), args);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, plain);
        QCOMPARE(r.err.count("set aside"), 1);
        QVERIFY(QFileInfo::exists(file + QStringLiteral(".damaged")));
        // Made afresh: the next run reads from it, without a word.
        const ProcessResult next = cli(dir, QStringLiteral("Inbox"), args);
        QCOMPARE(next.out, plain);
        QVERIFY2(!next.err.contains("set aside"), next.err.constData());
        QCOMPARE(fetchesOfLastRun(), 0);
    }

    // A record that no longer reads back (changed on disk) is fetched again,
    // on its own, and the rows stay right.
    void unreadableRecordIsFetchedAgain()
    {
        const QString dir = tmp.filePath(QStringLiteral("unreadable"));
        const QStringList args{"--rule", "all"};
        const QByteArray plain = cli(QString(), QStringLiteral("Inbox"), args).out;
        QCOMPARE(cli(dir, QStringLiteral("Inbox"), args).out, plain);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("unreadable"));
            db.setDatabaseName(cacheFile(dir));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("UPDATE messages SET record = zeroblob(64) WHERE uid = (SELECT min(uid) + 2 "
                                          "FROM messages)")));
            QCOMPARE(q.numRowsAffected(), 1);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("unreadable"));
        QCOMPARE(cli(dir, QStringLiteral("Inbox"), args).out, plain);
        QCOMPARE(fetchesOfLastRun(), 1);
        QCOMPARE(cli(dir, QStringLiteral("Inbox"), args).out, plain);
        QCOMPARE(fetchesOfLastRun(), 0);
    }

    // Two programs filling one copy at once both give every row.
    void twoProgramsAtOnce()
    {
        const QString dir = tmp.filePath(QStringLiteral("together"));
        const QStringList args{"--rule", "all"};
        const QByteArray plain = cli(QString(), QStringLiteral("Inbox"), args).out;
        QList<QProcess *> runs;
        for (int i = 0; i < 2; ++i) {
            auto *p = new QProcess(this);
            p->start(qEnvironmentVariable("VC_BIN_DIR") + QStringLiteral("/vellumcast-cli"),
                     TestServer::cliSignIn(tmp.filePath(QStringLiteral("together-%1.log").arg(i)))
                         + QStringList{"--cache-dir", dir} + args);
            p->closeWriteChannel();
            runs << p;
        }
        for (QProcess *p : std::as_const(runs)) {
            QVERIFY(p->waitForFinished(120000));
            QCOMPARE(p->exitCode(), 0);
            QCOMPARE(p->readAllStandardOutput(), plain);
            delete p;
        }
        QCOMPARE(cli(dir, QStringLiteral("Inbox"), args).out, plain);
        QCOMPARE(fetchesOfLastRun(), 0);
    }

    // --offline: the folder as its last complete read found it, from the
    // copy alone: no password, nothing asked of the server, the same bytes.
    // What the copy cannot give ends the run with status 4 and says why.
    void offlineRunReadsTheCopyAlone()
    {
        const QString folder = QStringLiteral("Cache Offline");
        makeFolder(folder, {note("off-one", "one"), note("off-two", "two"), note("off-three", "three")});
        const QString dir = tmp.filePath(QStringLiteral("offline"));
        const QStringList args{"--rule", "all", "--format", "csv"};
        auto offline = [&](const QString &name, const QStringList &more) {
            lastLog = tmp.filePath(QStringLiteral("fetch-%1.log").arg(++logs));
            QStringList a = TestServer::cliSignIn(lastLog);
            const qsizetype at = a.indexOf(QStringLiteral("--password-file"));
            a.remove(at, 2);
            if (!name.isEmpty())
                a << "--folder" << name;
            return runProgram(QStringLiteral("vellumcast-cli"),
                              a + QStringList{"--cache-dir", dir, "--offline"} + more);
        };

        const ProcessResult unread = offline(folder, args);
        QCOMPARE(unread.code, 4);
        QVERIFY2(unread.err.contains("has no complete read of Cache Offline of " + TestServer::user().toUtf8()),
                 unread.err.constData());
        QVERIFY(unread.out.isEmpty());
        QVERIFY2(!unread.err.contains("There are no emails"), unread.err.constData());

        const ProcessResult online = cli(dir, folder, args);
        QCOMPARE(online.code, 0);
        const ProcessResult first = offline(folder, args);
        QCOMPARE(first.code, 0);
        QCOMPARE(first.out, online.out);
        QVERIFY(first.out.contains("off-three"));
        const QByteArray log = readAll(lastLog);
        QVERIFY2(!log.contains("FETCH") && !log.contains("LOGIN") && !log.contains("SELECT"), log.constData());

        // Mail that came since is not seen until a run with the server reads it.
        TestServer::deliver(folder, note("off-four", "four"));
        QCOMPARE(offline(folder, args).out, online.out);
        QVERIFY(cli(dir, folder, args).out.contains("off-four"));
        QVERIFY(offline(folder, args).out.contains("off-four"));

        // Attachment text was never kept for this folder: a run that
        // searches it cannot be served.
        const ProcessResult lacking = offline(folder, {"--attachments", "--rule", "all"});
        QCOMPARE(lacking.code, 4);
        QVERIFY2(lacking.err.contains("lacks 4 of the 4 messages of Cache Offline"), lacking.err.constData());

        // What needs the server is a usage error.
        for (const QStringList &more : {QStringList{"--since", "2024-01-01"}, QStringList{"--new-only"},
                                        QStringList{"--no-cache"}, QStringList{"--watch"}}) {
            const ProcessResult refused = offline(folder, more);
            QCOMPARE(refused.code, 2);
            QVERIFY2(refused.err.contains("--offline"), refused.err.constData());
        }

        // The folders are those the copy has a complete read of.
        const ProcessResult listed = offline(QString(), {"--list-folders"});
        QCOMPARE(listed.code, 0);
        QCOMPARE(listed.out, QByteArray("Cache Offline\t\t\n"));

        // A damaged file is set aside, and the run says that is why it has nothing.
        QFile f(cacheFile(dir));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray(100000, 'x'));
        f.close();
        const ProcessResult damaged = offline(folder, args);
        QCOMPARE(damaged.code, 4);
        QVERIFY2(damaged.err.contains("set aside") && damaged.err.contains("has no complete read"),
                 damaged.err.constData());
        QVERIFY(damaged.out.isEmpty());
    }

    // --forget-cache drops the account's records without signing in; the
    // next run fetches everything again.
    void forgetCacheDropsTheAccount()
    {
        const QString dir = tmp.filePath(QStringLiteral("forget"));
        const QStringList args{"--rule", "all"};
        QCOMPARE(cli(dir, QStringLiteral("Inbox"), args).code, 0);
        const ProcessResult forgot = cli(dir, QStringLiteral("Inbox"), {"--forget-cache"});
        QCOMPARE(forgot.code, 0);
        QVERIFY(forgot.out.isEmpty());
        QVERIFY2(QRegularExpression(QStringLiteral("Forgot [1-9][0-9]* cached message")).match(forgot.err).hasMatch(),
                 forgot.err.constData());
        QCOMPARE(readAll(lastLog), QByteArray());  // nothing asked of the server
        QCOMPARE(cli(dir, QStringLiteral("Inbox"), args).code, 0);
        QVERIFY(fetchesOfLastRun() > 0);
    }
};

QTEST_GUILESS_MAIN(CliCacheTest)
#include "test_cli_cache.moc"
