// The read-ahead planner on its own, without a socket: which ranges it asks
// for, what it files, what it hands out and what it keeps after a loss.
#include "mail/ReadAheadPlanner.h"

#include <QtTest>

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
    // Four messages fit the budget; the next range is cut to one, then it stops.
    QTest::newRow("budget") << 32 << qint64(450) << qint64(100) << 200 << "2:5 6";
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

QTEST_APPLESS_MAIN(TestReadAheadPlanner)
#include "test_readahead_planner.moc"
