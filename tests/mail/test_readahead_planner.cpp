// The read-ahead planner on its own, without a socket: which ranges it asks
// for, what it files, what it hands out and what it keeps after a loss.
#include "mail/ReadAheadPlanner.h"

#include <QtTest>

#include <deque>

using vc::ImapFailure;
using vc::ImapFault;
using vc::ReadAheadPlanner;

namespace {

QByteArray body(int n, qint64 size)
{
    QByteArray b = "message " + QByteArray::number(n) + ' ';
    b.append(qMax<qint64>(0, size - b.size()), 'x');
    return b;
}

QString text(ReadAheadPlanner::Range r)
{
    return r.first == r.last ? QString::number(r.first) : QStringLiteral("%1:%2").arg(r.first).arg(r.last);
}

// Asks for every range that is due from `from`; they are written "2:17 18:33".
QString topUp(ReadAheadPlanner &p, int from, int exists, int *tags)
{
    QStringList out;
    while (const auto r = p.nextRange(from, exists)) {
        p.requested("T" + QByteArray::number(++*tags), *r);
        out << text(*r);
    }
    return out.join(QLatin1Char(' '));
}

// A planner whose walk has begun: message 1 of `size` bytes fetched on its own,
// and the caller now asks for 2.
void startWalk(ReadAheadPlanner &p, qint64 size)
{
    p.fetchedAlone(1);
    p.measured(size);
    QVERIFY(p.continuesWalk(2, INT_MAX));
    p.enter(2);
}

// A link in simulated time (microseconds). The server answers the ranges in the
// order asked, each message `transferUs(size)` after the one before; the first
// bytes of an answer come a round trip after its request at the earliest. The
// walk takes message 1 on its own, then each message as soon as it is there,
// and spends `workUs` on each.
struct LinkSim {
    qint64 rttUs = 0;
    qint64 bytesPerSecond = 0;
    qint64 size = 0;
    qint64 workUs = 0;
    int exists = 0;

    qint64 now = 0;
    qint64 linkFree = 0;
    struct Arrival {
        qint64 at;
        int number;
        QByteArray tag;  // the range's, on its last message
    };
    std::deque<Arrival> pending;
    qint64 mostAhead = 0;  // held plus asked for and not arrived, in bytes
    int tags = 0;

    qint64 transferUs(qint64 bytes) const { return bytes * 1'000'000 / bytesPerSecond; }

    void ask(ReadAheadPlanner &p, int from)
    {
        while (const auto r = p.nextRange(from, exists)) {
            const QByteArray tag = "T" + QByteArray::number(++tags);
            p.requested(tag, *r);
            qint64 at = qMax(now + rttUs, linkFree);
            for (int n = r->first; n <= r->last; ++n) {
                at += transferUs(size);
                pending.push_back({at, n, n == r->last ? tag : QByteArray()});
            }
            linkFree = at;
        }
        mostAhead = qMax(mostAhead, p.bytes() + qint64(pending.size()) * size);
    }

    void deliverOne(ReadAheadPlanner &p)
    {
        const Arrival a = pending.front();
        pending.pop_front();
        now = qMax(now, a.at);
        QByteArray b = body(a.number, size);
        QVERIFY(p.arrived(a.number, &b));
        if (!a.tag.isEmpty())
            QVERIFY(p.answered(a.tag));
    }

    // The whole walk; returns false when a message did not come.
    bool walk(ReadAheadPlanner &p)
    {
        p.setClock([this] { return now; });
        now += rttUs + transferUs(size);
        p.fetchedAlone(1);
        p.measured(size, rttUs + transferUs(size));
        now += workUs;
        for (int n = 2; n <= exists; ++n) {
            while (!pending.empty() && pending.front().at <= now)
                deliverOne(p);
            p.enter(n);
            ask(p, n);
            while (!p.has(n) && p.inFlight(n) && !pending.empty())
                deliverOne(p);
            if (!p.take(n))
                return false;
            now += workUs;
            ask(p, n + 1);
        }
        return pending.empty() && !p.rangesOutstanding();
    }
};

}  // namespace

class TestReadAheadPlanner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void whenAFetchContinuesTheWalk_data();
    void whenAFetchContinuesTheWalk();
    void firstRanges_data();
    void firstRanges();
    void walkAsksForEveryMessageOnceWithinLimits_data();
    void walkAsksForEveryMessageOnceWithinLimits();
    void filesOnlyWhatARangeBrings();
    void keepsWhatArrivedWholeAfterALoss_data();
    void keepsWhatArrivedWholeAfterALoss();
    void forgetDrainAndReset();
    void estimatesTheLink();
    void keepsThePipeFull_data();
    void keepsThePipeFull();
};

void TestReadAheadPlanner::whenAFetchContinuesTheWalk_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("lastAlone");  // fetched on its own before (0: by UID or nothing)
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("exists");
    QTest::addColumn<bool>("continues");
    QTest::newRow("n then n + 1") << 32 << 1 << 2 << 10 << true;
    QTest::newRow("n then n") << 32 << 1 << 1 << 10 << false;
    QTest::newRow("n then n + 2") << 32 << 1 << 3 << 10 << false;
    QTest::newRow("going back") << 32 << 5 << 4 << 10 << false;
    QTest::newRow("nothing before") << 32 << 0 << 2 << 10 << false;
    QTest::newRow("beyond the end") << 32 << 10 << 11 << 10 << false;
    QTest::newRow("window 1: off") << 1 << 1 << 2 << 10 << false;
    QTest::newRow("window 0: off") << 0 << 1 << 2 << 10 << false;
    QTest::newRow("window 2") << 2 << 1 << 2 << 10 << true;
}

void TestReadAheadPlanner::whenAFetchContinuesTheWalk()
{
    QFETCH(int, window);
    QFETCH(int, lastAlone);
    QFETCH(int, number);
    QFETCH(int, exists);
    QFETCH(bool, continues);
    ReadAheadPlanner p;
    p.setWindow(window);
    p.fetchedAlone(lastAlone);
    QCOMPARE(p.continuesWalk(number, exists), continues);
}

void TestReadAheadPlanner::firstRanges_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<qint64>("size");  // of every message
    QTest::addColumn<int>("exists");
    QTest::addColumn<QString>("ranges");
    const qint64 big = qint64(32) << 20;
    QTest::newRow("default window") << 32 << big << qint64(2000) << 200 << "2:17 18:33";
    QTest::newRow("short folder") << 32 << big << qint64(2000) << 20 << "2:17 18:20";
    QTest::newRow("two messages") << 32 << big << qint64(2000) << 2 << "2";
    QTest::newRow("small window") << 4 << big << qint64(2000) << 200 << "2:3 4:5";
    QTest::newRow("window 2") << 2 << big << qint64(2000) << 200 << "2 3";
    // Four messages fit the budget (the most it aims to have on the way), then it stops.
    QTest::newRow("budget") << 32 << qint64(450) << qint64(100) << 200 << "2:5";
    // A message above the whole budget: the one the caller waits for is still asked for.
    QTest::newRow("message above the budget") << 32 << qint64(1000) << qint64(5000) << 200 << "2";
    QTest::newRow("read-ahead off") << 1 << big << qint64(2000) << 200 << "";
}

void TestReadAheadPlanner::firstRanges()
{
    QFETCH(int, window);
    QFETCH(qint64, budget);
    QFETCH(qint64, size);
    QFETCH(int, exists);
    QFETCH(QString, ranges);
    ReadAheadPlanner p;
    p.setWindow(window);
    p.setBudget(budget);
    p.fetchedAlone(1);
    p.measured(size);
    p.enter(2);
    int tags = 0;
    QCOMPARE(topUp(p, 2, exists, &tags), ranges);
    QCOMPARE(p.rangesOutstanding(), !ranges.isEmpty());
    if (!ranges.isEmpty())
        QVERIFY(p.inFlight(2));
}

void TestReadAheadPlanner::walkAsksForEveryMessageOnceWithinLimits_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("exists");
    QTest::addColumn<int>("answerEvery");  // the server answers the oldest range once this many messages were taken
    QTest::newRow("default, prompt server") << 32 << (qint64(32) << 20) << qint64(3000) << 300 << 1;
    QTest::newRow("default, slow server") << 32 << (qint64(32) << 20) << qint64(3000) << 300 << 7;
    QTest::newRow("tight budget") << 16 << qint64(4 * 50000) << qint64(50000) << 60 << 1;
    QTest::newRow("budget below one message") << 8 << qint64(1000) << qint64(5000) << 30 << 1;
    QTest::newRow("odd window") << 5 << (qint64(32) << 20) << qint64(100) << 41 << 2;
}

// A whole walk against a server that answers each range in full: every message
// is asked for exactly once, handed out in order, and what is held stays within
// the window and (one message over at most) the budget.
void TestReadAheadPlanner::walkAsksForEveryMessageOnceWithinLimits()
{
    QFETCH(int, window);
    QFETCH(qint64, budget);
    QFETCH(qint64, size);
    QFETCH(int, exists);
    QFETCH(int, answerEvery);
    ReadAheadPlanner p;
    p.setWindow(window);
    p.setBudget(budget);
    QVERIFY(!p.continuesWalk(1, exists));
    p.fetchedAlone(1);
    p.measured(size);

    std::deque<std::pair<QByteArray, ReadAheadPlanner::Range>> sent;
    QList<int> asked(exists + 1, 0);
    int tags = 0;
    const auto ask = [&](int from) {
        while (const auto r = p.nextRange(from, exists)) {
            const QByteArray tag = "T" + QByteArray::number(++tags);
            p.requested(tag, *r);
            sent.emplace_back(tag, *r);
            for (int n = r->first; n <= r->last; ++n)
                ++asked[n];
        }
    };
    const auto answerOldest = [&] {
        const auto [tag, r] = sent.front();
        sent.pop_front();
        for (int n = r.first; n <= r.last; ++n) {
            QByteArray b = body(n, size);
            QVERIFY(p.arrived(n, &b));
        }
        QVERIFY(p.answered(tag));
    };
    int mostHeld = 0;
    qint64 mostBytes = 0;
    for (int n = 2; n <= exists; ++n) {
        QVERIFY2(p.continuesWalk(n, exists), qPrintable(QString::number(n)));
        p.enter(n);
        ask(n);
        while (!p.has(n) && p.inFlight(n))
            answerOldest();
        if ((n % answerEvery) == 0 && !sent.empty())
            answerOldest();
        mostHeld = qMax(mostHeld, p.messages());
        mostBytes = qMax(mostBytes, p.bytes());
        const std::optional<QByteArray> got = p.take(n);
        QVERIFY2(got, qPrintable(QString::number(n)));
        QCOMPARE(*got, body(n, size));
        ask(n + 1);
    }
    while (!sent.empty())
        answerOldest();
    QCOMPARE(asked.value(1), 0);
    for (int n = 2; n <= exists; ++n)
        QVERIFY2(asked[n] == 1, qPrintable(QStringLiteral("message %1 asked for %2 times").arg(n).arg(asked[n])));
    QVERIFY(mostHeld <= window);
    QVERIFY2(mostBytes <= budget + size, qPrintable(QString::number(mostBytes)));
    QCOMPARE(p.messages(), 0);
    QCOMPARE(p.bytes(), 0);
    QVERIFY(!p.rangesOutstanding());
}

void TestReadAheadPlanner::filesOnlyWhatARangeBrings()
{
    ReadAheadPlanner p;
    p.setWindow(8);
    startWalk(p, 100);
    int tags = 0;
    QCOMPARE(topUp(p, 2, 100, &tags), QStringLiteral("2:5 6:9"));

    QByteArray b = body(12, 100);
    QVERIFY(!p.arrived(12, &b));  // not asked for: someone else's FETCH data
    QVERIFY(!p.arrived(1, &b));
    QVERIFY(p.arrived(3, nullptr));  // asked for, but brought no body (FLAGS alone)
    QVERIFY(!p.has(3));
    b = body(3, 100);
    QVERIFY(p.arrived(3, &b));
    QCOMPARE(p.messages(), 1);
    QCOMPARE(p.bytes(), 100);
    b = body(3, 250);
    QVERIFY(p.arrived(3, &b));  // the same number again: the first one stays
    QCOMPARE(p.bytes(), 100);
    QVERIFY(!p.answered("T9"));
    QVERIFY(!p.answered("V0001"));

    // Answered without 2 and 4: those are no longer on their way, so the walk
    // asks for them on its own.
    QVERIFY(p.answered("T1"));
    QVERIFY(!p.inFlight(2));
    QVERIFY(p.inFlight(6));
    QVERIFY(!p.take(2));
    QCOMPARE(p.take(3).value_or("none"), body(3, 100));
    QCOMPARE(p.bytes(), 0);

    // Once the walk has passed a number, its late arrival is not kept.
    b = body(5, 100);
    QVERIFY(!p.arrived(5, &b));  // its range was answered
    QVERIFY(!p.take(4));
    QVERIFY(!p.take(5));
    QVERIFY(!p.take(6));
    b = body(6, 100);
    QVERIFY(p.arrived(6, &b));  // still taken off the stream
    QVERIFY(!p.has(6));
    b = body(7, 100);
    QVERIFY(p.arrived(7, &b));
    QCOMPARE(p.take(7).value_or("none"), body(7, 100));
    QCOMPARE(p.messages(), 0);
}

void TestReadAheadPlanner::keepsWhatArrivedWholeAfterALoss_data()
{
    QTest::addColumn<QList<int>>("arrived");
    QTest::addColumn<qint64>("failedAt");
    QTest::addColumn<QList<int>>("handedOut");  // from 2 on, before the loss is reported
    QTest::newRow("line dropped") << QList<int>{2, 3, 4} << qint64(0) << QList<int>{2, 3, 4};
    QTest::newRow("gap") << QList<int>{2, 4} << qint64(0) << QList<int>{2};
    QTest::newRow("stream broke at 4") << QList<int>{2, 3, 5} << qint64(4) << QList<int>{2, 3};
    QTest::newRow("stream broke at 2") << QList<int>{2, 3} << qint64(2) << QList<int>{};
    QTest::newRow("nothing arrived") << QList<int>{} << qint64(0) << QList<int>{};
}

void TestReadAheadPlanner::keepsWhatArrivedWholeAfterALoss()
{
    QFETCH(QList<int>, arrived);
    QFETCH(qint64, failedAt);
    QFETCH(QList<int>, handedOut);
    ReadAheadPlanner p;
    startWalk(p, 100);
    int tags = 0;
    topUp(p, 2, 100, &tags);
    for (const int n : arrived) {
        QByteArray b = body(n, 100);
        QVERIFY(p.arrived(n, &b));
    }
    const ImapFault loss{ImapFailure::ClosedByServer, QStringLiteral("the connection was closed by the server")};
    p.keep(loss, failedAt);
    p.reset();  // the connection goes
    QCOMPARE(p.messages(), 0);
    QVERIFY(!p.rangesOutstanding());

    int n = 2;
    for (const int expected : handedOut) {
        QVERIFY(p.keeps(n));
        ImapFault why;
        const std::optional<QByteArray> got = p.takeKept(n, why);
        QVERIFY2(got, qPrintable(QString::number(n)));
        QCOMPARE(*got, body(expected, 100));
        ++n;
    }
    QVERIFY(!p.keeps(n + 1));
    QVERIFY(p.keeps(n));
    ImapFault why;
    QVERIFY(!p.takeKept(n, why));
    QCOMPARE(why.kind, ImapFailure::ClosedByServer);
    QCOMPARE(why.reason, loss.reason);
    QVERIFY(!p.keeps(n + 1));  // reported once; later fetches find no connection
    QVERIFY(!p.continuesWalk(n + 1, 100));
}

void TestReadAheadPlanner::forgetDrainAndReset()
{
    const ImapFault loss{ImapFailure::TimedOut, QStringLiteral("timed out")};
    ReadAheadPlanner p;
    p.setWindow(32);  // two ranges of 16
    startWalk(p, 100);
    int tags = 0;
    topUp(p, 2, 100, &tags);
    QByteArray b = body(2, 100);
    QVERIFY(p.arrived(2, &b));

    // Another command comes: wait for the ranges, filing nothing more.
    p.drain();
    QCOMPARE(p.messages(), 0);
    b = body(3, 100);
    QVERIFY(p.arrived(3, &b));  // still taken off the stream...
    QCOMPARE(p.messages(), 0);  // ...but not kept
    p.keep(loss, 0);            // a loss while draining keeps nothing for the walk
    QVERIFY(!p.keeps(3));
    QVERIFY(p.answered("T1"));
    QVERIFY(p.rangesOutstanding());
    QVERIFY(p.answered("T2"));
    QVERIFY(!p.rangesOutstanding());
    p.forget();
    QVERIFY(!p.continuesWalk(4, 100));  // the walk starts anew after anything else
    QVERIFY(!p.nextRange(4, 100));

    // A dropped line: nothing is on its way any more.
    startWalk(p, 100);
    topUp(p, 2, 100, &tags);
    p.reset();
    QVERIFY(!p.inFlight(2));
    QVERIFY(!p.answered("T3"));
    p.keep(loss, 0);  // no walk left: nothing to keep
    QVERIFY(!p.keeps(2));
}

// Round trip and throughput from the clock: a range asked for on an idle line
// times the round trip to its first message; the messages after it the transfer.
void TestReadAheadPlanner::estimatesTheLink()
{
    qint64 now = 0;
    ReadAheadPlanner p;
    p.setClock([&now] { return now; });
    QCOMPARE(p.roundTripUs(), 0);
    QCOMPARE(p.bytesPerSecond(), 0);
    QCOMPARE(p.target(), ReadAheadPlanner::kMinTarget);
    p.fetchedAlone(1);
    p.measured(10000, 80000);  // a first guess: 80 ms for the message alone
    QCOMPARE(p.roundTripUs(), 80000);
    p.enter(2);
    const auto r = p.nextRange(2, 100000);
    QVERIFY(r);
    p.requested("T1", *r);
    now += 50000;  // 50 ms later, the first message
    QByteArray b = body(2, 10000);
    QVERIFY(p.arrived(2, &b));
    QCOMPARE(p.roundTripUs(), 50000);
    QCOMPARE(p.bytesPerSecond(), 0);  // no transfer seen yet
    for (int n = 3; n <= 12; ++n) {
        now += 1000;  // 10 kB a millisecond: 10 MB/s
        b = body(n, 10000);
        QVERIFY(p.arrived(n, &b));
    }
    QCOMPARE(p.bytesPerSecond(), 10'000'000);
    // Three round trips' worth: 3 x 10 MB/s x 50 ms.
    QCOMPARE(p.target(), qMax<qint64>(ReadAheadPlanner::kMinTarget, 1'500'000));
    p.setBudget(1'000'000);
    QCOMPARE(p.target(), 1'000'000);
}

void TestReadAheadPlanner::keepsThePipeFull_data()
{
    QTest::addColumn<qint64>("rttUs");
    QTest::addColumn<qint64>("rate");  // bytes per second
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("workUs");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<int>("exists");
    const qint64 mib = qint64(1) << 20;
    QTest::newRow("loopback") << qint64(200) << qint64(200'000'000) << qint64(6000) << qint64(0) << 32 * mib << 20000;
    QTest::newRow("20 ms") << qint64(20000) << qint64(50'000'000) << qint64(6000) << qint64(0) << 32 * mib << 20000;
    QTest::newRow("100 ms") << qint64(100000) << qint64(50'000'000) << qint64(6000) << qint64(0) << 32 * mib << 20000;
    QTest::newRow("100 ms, slow line, small messages")
        << qint64(100000) << qint64(2'000'000) << qint64(1500) << qint64(0) << 32 * mib << 5000;
    QTest::newRow("100 ms, fast line, big messages")
        << qint64(100000) << qint64(100'000'000) << qint64(200000) << qint64(0) << 32 * mib << 1000;
    QTest::newRow("slow reader") << qint64(20000) << qint64(100'000'000) << qint64(6000) << qint64(300) << 32 * mib
                                 << 10000;
    QTest::newRow("budget binds") << qint64(100000) << qint64(100'000'000) << qint64(6000) << qint64(0) << 4 * mib
                                  << 20000;
}

// A whole walk over a simulated link: it takes about as long as the link (or
// the reader) needs, not a round trip per window of messages, and what it
// holds and has on its way stays within the budget.
void TestReadAheadPlanner::keepsThePipeFull()
{
    QFETCH(qint64, rttUs);
    QFETCH(qint64, rate);
    QFETCH(qint64, size);
    QFETCH(qint64, workUs);
    QFETCH(qint64, budget);
    QFETCH(int, exists);
    ReadAheadPlanner p;
    p.setBudget(budget);
    LinkSim sim;
    sim.rttUs = rttUs;
    sim.bytesPerSecond = rate;
    sim.size = size;
    sim.workUs = workUs;
    sim.exists = exists;
    QVERIFY(sim.walk(p));

    const qint64 bytes = qint64(exists) * size;
    // The link's own time, the reader's, and what a pipe of half the budget per
    // round trip allows.
    const qint64 linkUs = rttUs + sim.transferUs(bytes);
    const qint64 readerUs = qint64(exists) * workUs;
    const qint64 budgetUs = qint64(double(bytes) / double(budget / 2) * double(rttUs));
    const qint64 bound = qMax(qMax(linkUs, readerUs), budgetUs);
    // A few round trips to find the link's measure, then within a quarter.
    QVERIFY2(sim.now <= bound * 5 / 4 + 4 * rttUs,
             qPrintable(QStringLiteral("%1 ms, bound %2 ms").arg(sim.now / 1000).arg(bound / 1000)));
    QVERIFY2(sim.mostAhead <= budget + size, qPrintable(QString::number(sim.mostAhead)));
    QVERIFY(p.roundTripUs() >= rttUs);
    QVERIFY(p.roundTripUs() <= rttUs + 2 * sim.transferUs(size) + workUs);
}

QTEST_APPLESS_MAIN(TestReadAheadPlanner)
#include "test_readahead_planner.moc"
