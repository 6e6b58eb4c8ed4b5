// Watching a folder for new mail, through our IMAP client and a fake server
// whose mailbox grows while the watch waits: new messages are delivered once
// each and in UID order, with IDLE and with NOOP polling; a dropped line, a
// refused sign-in and a replaced folder are waited out; the watch ends on a
// stop, after N messages and on its time-out.
#include "FakeImapServer.h"
#include "extract/WatchStep.h"
#include "extract/clsChilkatIMAP.h"
#include "mail/ImapClient.h"

#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using vc::clsChilkatIMAP;
using vc::ImapClient;
using vc::WatchEvent;
using vc::WatchRequest;
using vc::WatchStats;
using vc::WatchStep;

namespace {

QByteArray message(int n)
{
    return "From: Ann <ann@example.org>\r\nSubject: message " + QByteArray::number(n)
           + "\r\nDate: Mon, 2 Mar 2015 10:00:00 +0000\r\n\r\nbody " + QByteArray::number(n) + "\r\n";
}

// The first UID of "UID SEARCH ... UID n:*", or 0.
quint32 searchedFrom(const QByteArray &args)
{
    const qsizetype at = args.lastIndexOf("UID ");
    const qsizetype colon = args.indexOf(":*", at);
    if (at < 0 || colon < 0)
        return 0;
    return args.mid(at + 4, colon - at - 4).toUInt();
}

// A fake INBOX whose UIDs are its message numbers, and a connection object
// signed in to it with the folder selected, as a walk leaves it.
struct Watch : vc::WalkObserver {
    FakeImapServer server;
    ImapClient client;
    clsChilkatIMAP conn;
    QTemporaryDir dir;
    QList<quint32> uids;  // delivered, in order
    QList<WatchEvent> events;
    std::function<void(quint32 uid)> onDelivered;
    quint32 validity = 7;
    int toldExists = 0;  // the count the server last told on this connection
    QByteArray idleTag;  // of the IDLE under way
    int refuseLogins = 0;
    int logins = 0;
    int selects = 0;

    void delivered(const vc::MailRecord &record) override
    {
        uids << record.uid;
        if (onDelivered)
            onDelivered(record.uid);
    }

    explicit Watch(bool idle, int messages = 2)
    {
        for (int n = 1; n <= messages; ++n)
            server.messages << message(n);
        server.capability = idle ? "IMAP4rev1 ID IDLE" : "IMAP4rev1 ID";
        client.setTimeoutMs(2000);
        conn.setChilkatIMAPObject(&client);
        conn.setSSL(false);
        conn.setPORT(server.port());
        conn.setIMAPServer(QStringLiteral("127.0.0.1"));
        conn.setUsername(QStringLiteral("u"));
        conn.setPassword(QStringLiteral("p"));
        conn.setErrorLogPath(dir.filePath(QStringLiteral("errorlog.txt")));
        server.handlers["LOGIN"] = [this](const QByteArray &tag, const QByteArray &) {
            ++logins;
            toldExists = 0;
            idleTag.clear();
            if (refuseLogins > 0) {
                --refuseLogins;
                server.send(tag + " NO [UNAVAILABLE] Temporary failure\r\n");
                return;
            }
            server.send(tag + " OK [CAPABILITY " + server.capability + "] Logged in\r\n");
        };
        server.handlers["SELECT"] = [this](const QByteArray &tag, const QByteArray &) {
            ++selects;
            toldExists = int(server.messages.size());
            server.send("* " + QByteArray::number(toldExists) + " EXISTS\r\n* OK [UIDVALIDITY "
                        + QByteArray::number(validity) + "] ok\r\n" + tag + " OK [READ-WRITE] done\r\n");
        };
        // As real servers do, "n:*" above the last UID still names the last message.
        server.handlers["UID SEARCH"] = [this](const QByteArray &tag, const QByteArray &args) {
            const int count = int(server.messages.size());
            QByteArray hits;
            const int from = int(searchedFrom(args));
            for (int n = qMin(qMax(from, 1), count); n >= 1 && n <= count; ++n)
                hits += ' ' + QByteArray::number(n);
            server.send("* SEARCH" + hits + "\r\n" + tag + " OK Search completed.\r\n");
        };
        server.handlers["NOOP"] = [this](const QByteArray &tag, const QByteArray &) {
            server.send(news() + tag + " OK NOOP completed.\r\n");
        };
        server.handlers["IDLE"] = [this](const QByteArray &tag, const QByteArray &) {
            idleTag = tag;
            server.send("+ idling\r\n" + news());
        };
        // DONE comes as a line of its own, a command without a verb to the server.
        server.handlers[""] = [this](const QByteArray &, const QByteArray &) {
            if (!idleTag.isEmpty())
                server.send(std::exchange(idleTag, QByteArray()) + " OK Idle completed.\r\n");
        };
    }

    QByteArray news()
    {
        if (toldExists == server.messages.size())
            return {};
        toldExists = int(server.messages.size());
        return "* " + QByteArray::number(toldExists) + " EXISTS\r\n";
    }

    // A new message; an IDLE under way hears of it at once.
    void arrive()
    {
        server.messages << message(int(server.messages.size()) + 1);
        if (!idleTag.isEmpty())
            server.send(news());
    }
    void arriveIn(int ms, int count = 1)
    {
        QTimer::singleShot(ms, &server, [this, count] {
            for (int i = 0; i < count; ++i)
                arrive();
        });
    }

    WatchStats run(WatchRequest request, quint32 highestUid)
    {
        request.on = true;
        request.firstPauseMs = 10;
        if (!conn.Connect().ok() || !conn.GetTotalMessage(QStringLiteral("INBOX")).ok())
            return {};
        return conn.WatchFolder(QStringLiteral("INBOX"), request, highestUid, validity, this,
                                [this](const WatchEvent &e) { events << e; });
    }

    int count(WatchEvent::Kind kind) const
    {
        return int(std::count_if(events.begin(), events.end(), [kind](const WatchEvent &e) { return e.kind == kind; }));
    }
};

QList<quint32> range(quint32 first, quint32 last)
{
    QList<quint32> out;
    for (quint32 u = first; u <= last; ++u)
        out << u;
    return out;
}

}  // namespace

class TestWatchStep : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newMailSearch_data();
    void newMailSearch();
    void pauses_data();
    void pauses();

    void newMailIsDeliveredOnceInUidOrder_data();
    void newMailIsDeliveredOnceInUidOrder();
    void droppedLineIsWaitedOut_data();
    void droppedLineIsWaitedOut();
    void refusedSignInIsToldOnceAndRetried();
    void replacedFolderIsReadWholeAgain();
    void stopEndsAfterTheMessageInHand();
    void timeOutEndsAnEmptyWatch();
    void idleIsIssuedAfreshEachPeriod();
};

void TestWatchStep::newMailSearch_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<quint32>("uid");
    QTest::addColumn<QString>("keys");
    QTest::newRow("everything") << QString() << 0u << "UID 1:*";
    QTest::newRow("above 41") << QString() << 41u << "UID 42:*";
    QTest::newRow("user's keys kept apart") << "OR FLAGGED ANSWERED" << 9u << "(OR FLAGGED ANSWERED) UID 10:*";
    QTest::newRow("the last UID") << QString() << 4294967295u << "UID 4294967295:*";
}

void TestWatchStep::newMailSearch()
{
    QFETCH(QString, raw);
    QFETCH(quint32, uid);
    QFETCH(QString, keys);
    vc::SearchFilter filter;
    filter.raw = raw;
    filter.from = QStringLiteral("billing@");
    const vc::SearchFilter f = WatchStep::newMailFilter(filter, uid);
    QCOMPARE(f.raw, keys);
    QCOMPARE(f.from, filter.from);
    // The server gets them as one search: the filter's keys and the UID range.
    const auto built = vc::searchKeys(f);
    QVERIFY(built.ok());
    QStringList shown;
    for (const vc::SearchKey &k : *built)
        shown << k.shown;
    QVERIFY2(shown.join(u' ').endsWith(keys), qPrintable(shown.join(u' ')));
    QVERIFY(shown.first().startsWith(QStringLiteral("FROM")));
}

void TestWatchStep::pauses_data()
{
    QTest::addColumn<int>("attempt");
    QTest::addColumn<qint64>("ms");
    QTest::newRow("1") << 1 << qint64(1000);
    QTest::newRow("2") << 2 << qint64(2000);
    QTest::newRow("3") << 3 << qint64(4000);
    QTest::newRow("9") << 9 << qint64(256000);
    QTest::newRow("10: five minutes") << 10 << qint64(300000);
    QTest::newRow("1000: still five minutes") << 1000 << qint64(300000);
}

void TestWatchStep::pauses()
{
    QFETCH(int, attempt);
    QFETCH(qint64, ms);
    QCOMPARE(WatchStep::pauseMs(WatchRequest(), attempt), ms);
}

void TestWatchStep::newMailIsDeliveredOnceInUidOrder_data()
{
    QTest::addColumn<bool>("idle");
    QTest::newRow("IDLE") << true;
    QTest::newRow("NOOP polling") << false;
}

// Two messages are there when the watch begins; two more arrive at once, then
// one more: messages 3, 4 and 5, each once, even though the server names the
// last message for every "n:*" search above it.
void TestWatchStep::newMailIsDeliveredOnceInUidOrder()
{
    QFETCH(bool, idle);
    Watch w(idle);
    w.arriveIn(200, 2);
    w.arriveIn(700);
    WatchRequest r;
    r.pollSeconds = 1;
    r.exitAfter = 3;
    r.timeoutSeconds = 20;
    const WatchStats s = w.run(r, 2);
    QCOMPARE(w.uids, range(3, 5));
    QCOMPARE(s.end, WatchStats::End::ExitAfter);
    QCOMPARE(s.delivered, qint64(3));
    QCOMPARE(s.highestUid, 5u);
    QCOMPARE(s.reconnects, 0);
    QCOMPARE(w.server.count("IDLE") > 0, idle);
    QCOMPARE(w.server.count("NOOP") > 0, !idle);
    QCOMPARE(w.count(WatchEvent::Started), 1);
    QCOMPARE(w.count(WatchEvent::Ended), 1);
    QVERIFY(w.events.first().text.contains(idle ? QStringLiteral("IDLE") : QStringLiteral("every 1 s")));
    QCOMPARE(w.events.last().delivered, qint64(3));
    QCOMPARE(w.events.last().folder, QStringLiteral("INBOX"));
}

void TestWatchStep::droppedLineIsWaitedOut_data()
{
    QTest::addColumn<bool>("idle");
    QTest::newRow("IDLE") << true;
    QTest::newRow("NOOP polling") << false;
}

// The line drops after message 3; messages 4 and 5 arrive while the watch is
// signing in again: every message once, in order, and the loss told once.
void TestWatchStep::droppedLineIsWaitedOut()
{
    QFETCH(bool, idle);
    Watch w(idle);
    w.onDelivered = [&w](quint32 uid) {
        if (uid != 3)
            return;
        QTimer::singleShot(100, &w.server, [&w] {
            w.server.messages << message(4) << message(5);
            w.server.drop();
        });
    };
    w.arriveIn(100);
    WatchRequest r;
    r.pollSeconds = 1;
    r.exitAfter = 3;
    r.timeoutSeconds = 20;
    const WatchStats s = w.run(r, 2);
    QCOMPARE(w.uids, range(3, 5));
    QCOMPARE(s.end, WatchStats::End::ExitAfter);
    QCOMPARE(s.reconnects, 1);
    QCOMPARE(w.count(WatchEvent::Lost), 1);
    QCOMPARE(w.count(WatchEvent::Restored), 1);
    QCOMPARE(w.count(WatchEvent::FolderReplaced), 0);
}

// The server refuses three sign-ins in a row after a drop: told once, tried
// again with a growing pause, and the watch goes on where it was.
void TestWatchStep::refusedSignInIsToldOnceAndRetried()
{
    Watch w(false);
    w.onDelivered = [&w](quint32 uid) {
        if (uid != 3)
            return;
        w.refuseLogins = 3;
        QTimer::singleShot(50, &w.server, [&w] {
            w.server.drop();
            w.server.messages << message(4);
        });
    };
    w.arriveIn(100);
    WatchRequest r;
    r.pollSeconds = 1;
    r.exitAfter = 2;
    r.timeoutSeconds = 20;
    const int loginsBefore = 1;  // the sign-in before the watch
    const WatchStats s = w.run(r, 2);
    QCOMPARE(w.uids, range(3, 4));
    QCOMPARE(s.reconnects, 1);
    QCOMPARE(w.logins, loginsBefore + 3 + 1);
    QStringList lost;
    for (const WatchEvent &e : w.events)
        if (e.kind == WatchEvent::Lost)
            lost << e.text;
    // The drop, and the refusal once (not three times).
    QCOMPARE(lost.size(), 2);
    QVERIFY2(lost.last().contains(QStringLiteral("Signing in again failed")), qPrintable(lost.last()));
}

// The folder comes back under another UIDVALIDITY: said so, and its messages
// are delivered again, all of them, once.
void TestWatchStep::replacedFolderIsReadWholeAgain()
{
    Watch w(true, 3);
    w.onDelivered = [&w](quint32 uid) {
        if (w.uids.size() != 1)
            return;
        QCOMPARE(uid, 4u);
        w.validity = 8;
        QTimer::singleShot(50, &w.server, [&w] { w.server.drop(); });
    };
    w.arriveIn(100);
    WatchRequest r;
    r.exitAfter = 5;
    r.timeoutSeconds = 20;
    const WatchStats s = w.run(r, 3);
    QCOMPARE(w.uids, QList<quint32>{4} + range(1, 4));
    QCOMPARE(s.folderReplaced, 1);
    QCOMPARE(w.count(WatchEvent::FolderReplaced), 1);
}

// A stop asked for while messages arrive: the message delivered last is
// whole, nothing comes after it, and the watch says it was stopped.
void TestWatchStep::stopEndsAfterTheMessageInHand()
{
    Watch w(true);
    w.onDelivered = [&w](quint32 uid) {
        if (uid == 4)
            w.conn.AbortProcess = true;
    };
    w.arriveIn(100, 4);
    WatchRequest r;
    r.timeoutSeconds = 20;
    const WatchStats s = w.run(r, 2);
    QCOMPARE(w.uids, range(3, 4));
    QCOMPARE(s.end, WatchStats::End::Stopped);
    QVERIFY(w.events.last().text.contains(QStringLiteral("stopped")));
}

void TestWatchStep::timeOutEndsAnEmptyWatch()
{
    Watch w(true);
    WatchRequest r;
    r.timeoutSeconds = 1;
    QElapsedTimer clock;
    clock.start();
    const WatchStats s = w.run(r, 2);
    QCOMPARE(s.end, WatchStats::End::TimedOut);
    QCOMPARE(s.delivered, qint64(0));
    QVERIFY(w.uids.isEmpty());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(w.server.count("IDLE"), 1);
}

// An IDLE lasts one period, then a new one is issued; mail that arrives in
// the third still comes at once.
void TestWatchStep::idleIsIssuedAfreshEachPeriod()
{
    Watch w(true);
    w.arriveIn(1000);
    WatchRequest r;
    r.idlePeriodMs = 300;
    r.exitAfter = 1;
    r.timeoutSeconds = 20;
    const WatchStats s = w.run(r, 2);
    QCOMPARE(w.uids, QList<quint32>{3});
    QCOMPARE(s.end, WatchStats::End::ExitAfter);
    QVERIFY2(w.server.count("IDLE") >= 3, qPrintable(QString::number(w.server.count("IDLE"))));
    QCOMPARE(s.reconnects, 0);
}

QTEST_GUILESS_MAIN(TestWatchStep)
#include "test_watch_step.moc"
