// The message walk when the connection fails under it, through our IMAP client
// and a fake server: it reconnects and resumes at the failed message, skips a
// message that breaks the stream, gives up after three reconnects, and ends
// with a reason when the server's count cannot be right.
#include "FakeImapServer.h"
#include "ScriptedDialogs.h"
#include "extract/clsChilkatIMAP.h"
#include "mail/ImapClient.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using vc::clsChilkatIMAP;
using vc::ImapClient;

namespace {

QByteArray message(int n, int bodyBytes = 40)
{
    return "From: Ann <ann@example.org>\r\nSubject: message " + QByteArray::number(n)
           + "\r\nDate: Mon, 2 Mar 2015 10:00:00 +0000\r\n\r\n" + QByteArray(bodyBytes, 'b') + "\r\n";
}

enum class Fault { DropOnce, DropAlways, StallOnce, TooLarge, ClaimsMore, NewUidValidity };

// One walk over a fake INBOX of five messages with a fault of the server's.
struct Walk : vc::WalkObserver {
    FakeImapServer server;
    ImapClient client;
    clsChilkatIMAP conn;
    QTemporaryDir dir;
    QList<int> uids;
    vc::WalkOutcome outcome;
    int fetches = 0;
    int selects = 0;

    void delivered(const vc::MailRecord &record) override { uids << record.uID; }

    explicit Walk(Fault fault)
    {
        for (int n = 1; n <= 5; ++n)
            server.messages << message(n, fault == Fault::TooLarge && n == 2 ? 5000 : 40);
        client.setReadAheadWindow(0);  // one fetch per message, as the faults expect
        client.setTimeoutMs(400);
        client.setMaxMessageBytes(2000);
        conn.setChilkatIMAPObject(&client);
        conn.setSSL(false);
        conn.setPORT(server.port());
        conn.setIMAPServer(QStringLiteral("127.0.0.1"));
        conn.setUsername(QStringLiteral("u"));
        conn.setPassword(QStringLiteral("p"));
        conn.setErrorLogPath(dir.filePath(QStringLiteral("errorlog.txt")));
        conn.setReconnectPauseMs(10);
        server.handlers["SELECT"] = [this, fault](const QByteArray &tag, const QByteArray &) {
            ++selects;
            const int exists = fault == Fault::ClaimsMore ? 40 : int(server.messages.size());
            const int validity = fault == Fault::NewUidValidity ? selects : 7;
            server.send("* " + QByteArray::number(exists) + " EXISTS\r\n* OK [UIDVALIDITY "
                        + QByteArray::number(validity) + "] ok\r\n" + tag + " OK [READ-WRITE] done\r\n");
        };
        server.handlers["FETCH"] = [this, fault](const QByteArray &tag, const QByteArray &args) {
            ++fetches;
            const int n = args.split(' ').value(0).toInt();
            const bool faulty = n == 3 && (fault == Fault::DropAlways || selects == 1);
            if (faulty && (fault == Fault::DropOnce || fault == Fault::DropAlways || fault == Fault::NewUidValidity)) {
                server.send(server.fetchResponse(3).left(60));
                server.drop();
            } else if (faulty && fault == Fault::StallOnce) {
                // silence: the client times out
            } else if (n >= 1 && n <= server.messages.size()) {
                server.send(server.fetchResponse(n) + tag + " OK done\r\n");
            } else {
                server.send(tag + " BAD Error in IMAP command FETCH: Invalid messageset\r\n");
            }
        };
    }

    void run(int last)
    {
        conn.setCurrentLocation(1);
        conn.setMaxRecord(last);
        outcome = conn.StartMailExtraction(QStringLiteral("INBOX"), this);
    }

    int logRecords()
    {
        QFile f(dir.filePath(QStringLiteral("errorlog.txt")));
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count(QByteArray(52, '*'))) : -1;
    }
};

}  // namespace

class TestWalkRecovery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void faults_data();
    void faults();
};

void TestWalkRecovery::faults_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("last");
    QTest::addColumn<QList<int>>("delivered");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("reconnects");
    QTest::addColumn<int>("fetches");
    QTest::addColumn<bool>("folderChanged");
    QTest::addColumn<QString>("reason");

    const QList<int> all{1, 2, 3, 4, 5};
    const int completed = int(vc::WalkOutcome::End::Completed);
    const int broken = int(vc::WalkOutcome::End::Broken);
    QTest::newRow("dropped mid-literal once: resumes at that message")
        << int(Fault::DropOnce) << 5 << all << completed << 1 << 6 << false << QString();
    QTest::newRow("stalled once: resumes at that message")
        << int(Fault::StallOnce) << 5 << all << completed << 1 << 6 << false << QString();
    QTest::newRow("dropped at every try: three reconnects, then the end")
        << int(Fault::DropAlways) << 5 << QList<int>{1, 2} << broken << 3 << 6 << false
        << "could not be restored after 3 attempts";
    QTest::newRow("a message over the limit is skipped")
        << int(Fault::TooLarge) << 5 << QList<int>{1, 3, 4, 5} << completed << 1 << 5 << false << QString();
    QTest::newRow("a count the server contradicts ends the walk")
        << int(Fault::ClaimsMore) << 40 << all << broken << 0 << 25 << false
        << "reported 40 messages in the folder, but sent none of messages 6 to 25";
    QTest::newRow("another UIDVALIDITY after reconnecting")
        << int(Fault::NewUidValidity) << 5 << all << completed << 1 << 6 << true << QString();
}

void TestWalkRecovery::faults()
{
    QFETCH(int, fault);
    QFETCH(int, last);
    QFETCH(QList<int>, delivered);
    QFETCH(QString, reason);
    vc::test::ScriptedDialogs boxes;
    Walk walk{Fault(fault)};
    walk.run(last);
    QCOMPARE(walk.uids, delivered);
    QTEST(int(walk.outcome.end), "end");
    const vc::WalkStats &stats = walk.outcome.stats;
    QTEST(stats.reconnects, "reconnects");
    QTEST(walk.fetches, "fetches");
    QTEST(stats.folderChanged, "folderChanged");
    QCOMPARE(stats.read, qint64(delivered.size()));
    QCOMPARE(stats.asked, qint64(last));
    QVERIFY2(stats.endReason.contains(reason), qPrintable(stats.endReason));
    // A record per fetch, per reconnect attempt, and for the count asked for again.
    const int recount = reason.contains(QLatin1String("reported")) ? 1 : 0;
    QCOMPARE(walk.logRecords(), walk.fetches + stats.reconnects + recount);
    QVERIFY2(boxes.boxes.isEmpty(), qPrintable(boxes.texts().join(QLatin1Char('|'))));
}

QTEST_GUILESS_MAIN(TestWalkRecovery)
#include "test_walk_recovery.moc"
