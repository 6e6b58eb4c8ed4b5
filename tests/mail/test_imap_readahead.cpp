// The IMAP client's read-ahead of an ascending walk, against the scripted server:
// few round trips, the same per-message answers as one fetch at a time, and a
// clean protocol state whenever the walk is left.
#include "FakeImapServer.h"
#include "MailTestSupport.h"
#include "mail/ImapClient.h"

#include <QElapsedTimer>
#include <QtTest>

#include <set>

using vc::failureName;
using vc::ImapClient;
using vc::MailRecord;

namespace {

QByteArray message(int n, int bodyLines = 3)
{
    return vc::test::message("m" + QByteArray::number(n), bodyLines);
}

QList<QByteArray> messages(int count, int bodyLines = 3)
{
    QList<QByteArray> out;
    for (int n = 1; n <= count; ++n)
        out << message(n, bodyLines);
    return out;
}

QString subject(int n)
{
    return QStringLiteral("m%1").arg(n);
}

// A range handler: answers a range's first `answered` messages (the last of them
// only half when `halfLast`), then nothing more; single numbers get the usual answer.
void answerPartOfRanges(FakeImapServer &server, int answered, bool halfLast)
{
    server.handlers["FETCH"] = [&server, answered, halfLast](const QByteArray &tag, const QByteArray &args) {
        const QList<int> set = server.sequenceSet(args.split(' ').value(0));
        if (set.size() == 1) {
            server.send(server.fetchResponse(set.first()) + tag + " OK Fetch completed.\r\n");
            return;
        }
        QByteArray out;
        for (int i = 0; i < answered && i < set.size(); ++i) {
            QByteArray r = server.fetchResponse(set[i]);
            if (halfLast && i == answered - 1)
                r = r.left(r.size() / 2);
            out += r;
        }
        server.send(out);
    };
}

}  // namespace

class TestImapReadAhead : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void walkOnTheWire();
    void ascendingWalkTakesFewRoundTrips();
    void latencyIsPaidPerRangeNotPerMessage();
    void messagesMissingFromARange();
    void otherRequestsLeaveTheReadAheadCleanly();
    void abortWhileWaitingForAReadAheadMessage();
    void stalledRangeTimesOutAndRefusesOtherCalls();
    void connectionDroppedMidRange();
    void bigMessagesStayWithinTheBudget();
    void oversizedMessageInARange();
    void progressFollowsTheMessageWaitedFor();

private:
    bool open(ImapClient &client);
    std::unique_ptr<FakeImapServer> server;
};

void TestImapReadAhead::init()
{
    server = std::make_unique<FakeImapServer>();
}

bool TestImapReadAhead::open(ImapClient &client)
{
    client.setSsl(false);
    client.setPort(server->port());
    return client.Connect(QStringLiteral("127.0.0.1")) && client.SelectMailbox(QStringLiteral("INBOX"));
}

// The exact dialogue of a short walk with a window of 4: one fetch on its own,
// then ranges pipelined ahead of the caller with tags from the same counter as
// every other command; the line drops in the middle of message 5.
void TestImapReadAhead::walkOnTheWire()
{
    for (int n = 1; n <= 6; ++n)
        server->literals["m" + QByteArray::number(n)] = message(n);
    server->scripts = {R"(
        S: * OK [CAPABILITY IMAP4rev1] ready
        C: V0001 SELECT "INBOX"
        S: * 6 EXISTS
        S: V0001 OK [READ-WRITE] done
        C: V0002 FETCH 1 (UID BODY.PEEK[])
        S: * 1 FETCH (BODY[] {{m1}})
        S: V0002 OK done
        # From the second number on: two ranges of half the window at once.
        C: V0003 FETCH 2:3 (UID BODY.PEEK[])
        C: V0004 FETCH 4:5 (UID BODY.PEEK[])
        S: * 2 FETCH (BODY[] {{m2}})
        S: * 3 FETCH (BODY[] {{m3}})
        S: V0003 OK done
        # Handing out 2 tops the window up to the folder's end.
        C: V0005 FETCH 6 (UID BODY.PEEK[])
        S: * 4 FETCH (BODY[] {{m4}})
        P: * 5 FETCH (BODY[] {600}\r\nFrom: Ann <ann@example.org>\r\n
        DROP
    )"};
    ImapClient client;
    client.setReadAheadWindow(4);
    client.setSsl(false);
    client.setPort(server->port());
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    for (int n = 1; n <= 4; ++n) {
        const auto m = client.FetchSingle(n, false);
        QVERIFY2(m, qPrintable(client.LastErrorText()));
        QCOMPARE(m->Subject, subject(n));
        QCOMPARE(failureName(client.lastFailure()), "None");
    }
    QVERIFY(!client.FetchSingle(5, false));
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 5 failed: the connection was closed by the server"));
    QCOMPARE(failureName(client.lastFailure()), "ClosedByServer");
    QVERIFY(!client.FetchSingle(6, false));
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 6 failed: not connected"));
    QCOMPARE(failureName(client.lastFailure()), "NotConnected");
    QCOMPARE(server->scriptError(), QString());
}

void TestImapReadAhead::ascendingWalkTakesFewRoundTrips()
{
    const int count = 200;
    server->messages = messages(count);
    ImapClient client;
    QCOMPARE(client.readAheadWindow(), vc::ReadAheadPlanner::kDefaultWindow);
    QVERIFY(open(client));
    QCOMPARE(client.NumMessages(), count);

    int lastPct = -1;
    int reports = 0;
    connect(
        &client, &ImapClient::PercentDone, this, [&](int p) { lastPct = p, ++reports; }, Qt::DirectConnection);
    int mostHeld = 0;
    for (int n = 1; n <= count; ++n) {
        lastPct = -1;
        reports = 0;
        const vc::ImapResult<MailRecord> m = client.FetchSingle(n, false);
        QVERIFY2(m, qPrintable(client.LastErrorText()));
        QCOMPARE(m->Subject, subject(n));
        QVERIFY(m->PlainTextBody.contains(QStringLiteral("Body line 2 of m%1").arg(n)));
        QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH %1: OK").arg(n));
        QVERIFY(reports >= 1);
        QCOMPARE(lastPct, 100);
        mostHeld = qMax(mostHeld, client.readAheadMessages());
        QVERIFY(!client.isBusy());
    }
    QVERIFY(mostHeld <= client.readAheadWindow());
    QVERIFY(mostHeld > 1);                       // it did read ahead
    QVERIFY(client.messagesDecodedAhead() > 0);  // and decoded ahead

    // One fetch for the first message, then ranges that cover the rest exactly once.
    const int fetches = server->count("FETCH");
    QVERIFY2(fetches <= 1 + (count + 15) / 16 + 1, qPrintable(QString::number(fetches)));
    QCOMPARE(server->commands.value(2), QByteArray("FETCH 1 (UID BODY.PEEK[])"));
    QVERIFY(server->commands.value(3).startsWith("FETCH 2:"));
    std::multiset<int> asked;
    for (const QByteArray &c : server->commands) {
        if (!c.startsWith("FETCH "))
            continue;
        QVERIFY2(c.endsWith(" (UID BODY.PEEK[])"), c.constData());
        for (const int n : server->sequenceSet(c.split(' ').value(1)))
            asked.insert(n);
    }
    QCOMPARE(int(asked.size()), count);
    for (int n = 1; n <= count; ++n)
        QCOMPARE(int(asked.count(n)), 1);
    QCOMPARE(client.readAheadMessages(), 0);

    // The connection is as usable as after single fetches.
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QVERIFY(client.Disconnect());
    QCOMPARE(server->count("LOGOUT"), 1);
}

void TestImapReadAhead::latencyIsPaidPerRangeNotPerMessage()
{
    const int count = 60;
    server->messages = messages(count);
    server->latencyMs = 15;
    const auto walk = [&](int window, QStringList &subjects) {
        ImapClient client;
        client.setReadAheadWindow(window);
        if (!open(client))
            return qint64(-1);
        QElapsedTimer t;
        t.start();
        for (int n = 1; n <= count; ++n) {
            const auto m = client.FetchSingle(n, false);
            subjects << (m ? m->Subject : client.LastErrorText());
        }
        return t.elapsed();
    };
    QStringList one;
    QStringList ahead;
    const int before = server->count("FETCH");
    const qint64 oneByOne = walk(0, one);
    QCOMPARE(server->count("FETCH") - before, count);
    const qint64 pipelined = walk(32, ahead);
    QVERIFY(oneByOne >= count * 15);
    QVERIFY2(pipelined * 3 < oneByOne, qPrintable(QStringLiteral("%1 ms against %2 ms").arg(pipelined).arg(oneByOne)));
    QCOMPARE(ahead, one);
    QCOMPARE(ahead.value(count - 1), subject(count));
}

void TestImapReadAhead::messagesMissingFromARange()
{
    const int count = 40;
    server->messages = messages(count);
    server->missingInRanges = {5};  // a hiccup: there when asked for alone
    server->missing = {7, 20};      // really gone
    ImapClient client;
    QVERIFY(open(client));
    QStringList errors;
    for (int n = 1; n <= count; ++n) {
        const auto m = client.FetchSingle(n, false);
        errors << client.LastErrorText();
        if (n == 7 || n == 20) {
            QVERIFY(!m);
            QVERIFY2(client.LastErrorText().startsWith(QStringLiteral("FETCH %1 failed: ").arg(n)),
                     qPrintable(client.LastErrorText()));
        } else {
            QVERIFY2(m, qPrintable(client.LastErrorText()));
            QCOMPARE(m->Subject, subject(n));
            QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH %1: OK").arg(n));
        }
    }
    QVERIFY(client.isConnected());
    // Each missing number was asked for once more on its own, and only those.
    QCOMPARE(server->commands.count("FETCH 5 (UID BODY.PEEK[])"), 1);
    QCOMPARE(server->commands.count("FETCH 7 (UID BODY.PEEK[])"), 1);
    QCOMPARE(server->commands.count("FETCH 20 (UID BODY.PEEK[])"), 1);
    QVERIFY(server->count("FETCH") <= 3 + 1 + (count + 15) / 16 + 1);
}

void TestImapReadAhead::otherRequestsLeaveTheReadAheadCleanly()
{
    const int count = 60;
    server->messages = messages(count);
    server->latencyMs = 100;  // ranges are still on their way when the next request comes
    ImapClient client;
    client.setReadAheadWindow(32);  // ranges of 16
    QVERIFY(open(client));
    const auto fetch = [&](int n, bool uid = false) {
        const auto m = client.FetchSingle(n, uid);
        return m ? m->Subject : QStringLiteral("<none: %1>").arg(client.LastErrorText());
    };
    // Up to where the next range has just been asked for.
    for (int n = 1; n <= 17; ++n)
        QCOMPARE(fetch(n), subject(n));
    QTRY_COMPARE_WITH_TIMEOUT(server->last("FETCH").left(9), QByteArray("FETCH 34:"), 80);

    // Back, forward and far ahead: each answers for its own number.
    QCOMPARE(fetch(2), subject(2));
    QCOMPARE(server->last("FETCH"), QByteArray("FETCH 2 (UID BODY.PEEK[])"));
    QCOMPARE(fetch(3), subject(3));
    QCOMPARE(fetch(4), subject(4));
    for (int n = 5; n <= 17; ++n)
        QCOMPARE(fetch(n), subject(n));
    QCOMPARE(fetch(40), subject(40));
    QCOMPARE(server->last("FETCH"), QByteArray("FETCH 40 (UID BODY.PEEK[])"));
    QCOMPARE(client.readAheadMessages(), 0);
    QCOMPARE(fetch(41), subject(41));
    QCOMPARE(fetch(42), subject(42));

    // By UID, while a read-ahead is under way.
    QCOMPARE(fetch(9, true), subject(9));
    QCOMPARE(client.LastErrorText(), QStringLiteral("UID FETCH 9: OK"));
    QCOMPARE(fetch(10), subject(10));
    QCOMPARE(fetch(11), subject(11));

    // A raw command gets its own answer only, none of the read-ahead's data.
    const QString reply = client.SendRawCommand(QStringLiteral("CAPABILITY")).value();
    QVERIFY2(reply.startsWith(QStringLiteral("* CAPABILITY ")), qPrintable(reply.left(200)));
    QVERIFY(!reply.contains(QStringLiteral("FETCH")));
    QCOMPARE(reply.count(QStringLiteral("\r\n")), 1);
    QCOMPARE(fetch(12), subject(12));
    QCOMPARE(server->last("FETCH"), QByteArray("FETCH 12 (UID BODY.PEEK[])"));  // a new start after anything else
    QCOMPARE(fetch(13), subject(13));

    // SELECT and LIST in the middle of a read-ahead.
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QCOMPARE(client.NumMessages(), count);
    QCOMPARE(fetch(14), subject(14));
    QCOMPARE(fetch(15), subject(15));
    QVERIFY(client.ListMailboxes(QString(), QStringLiteral("*")));
    QCOMPARE(fetch(16), subject(16));
    QCOMPARE(fetch(17), subject(17));
    QCOMPARE(fetch(18), subject(18));
    QVERIFY(client.Disconnect());
    QCOMPARE(client.LastErrorText(), QStringLiteral("LOGOUT: OK"));
    QVERIFY(!client.isConnected());

    // Every command but the ranges went out with nothing outstanding before it.
    int pipelined = 0;
    for (int i = 0; i < server->commands.size(); ++i) {
        const QByteArray &c = server->commands[i];
        const bool range = c.startsWith("FETCH ") && c.split(' ').value(1).contains(':');
        if (range)
            pipelined += server->unanswered[i] > 0;
        else
            QVERIFY2(server->unanswered[i] == 0, c.constData());
    }
    QVERIFY(pipelined > 0);

    // And a fresh connection starts clean.
    QVERIFY(open(client));
    QCOMPARE(fetch(1), subject(1));
    QCOMPARE(fetch(2), subject(2));
}

void TestImapReadAhead::abortWhileWaitingForAReadAheadMessage()
{
    server->messages = messages(40);
    answerPartOfRanges(*server, 1, false);  // a range brings its first message, then stalls
    ImapClient client;
    client.setTimeoutMs(10000);
    QVERIFY(open(client));
    QVERIFY(client.FetchSingle(1, false));
    const auto second = client.FetchSingle(2, false);
    QVERIFY(second);
    QCOMPARE(second->Subject, subject(2));

    QElapsedTimer t;
    t.start();
    QList<qint64> checks;
    connect(
        &client, &ImapClient::AbortCheck, this,
        [&](int &answer) {
            checks << t.elapsed();
            if (checks.size() == 5)
                answer = 1;
        },
        Qt::DirectConnection);
    QVERIFY(!client.FetchSingle(3, false));
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 3 failed: aborted"));
    QCOMPARE(failureName(client.lastFailure()), "Aborted");
    QCOMPARE(checks.size(), 5);
    // Every 50 ms; the bound leaves room for a machine under load, and still
    // tells a check every tick from one at the time-out.
    for (int i = 1; i < checks.size(); ++i)
        QVERIFY2(checks[i] - checks[i - 1] <= 500, qPrintable(QString::number(checks[i] - checks[i - 1])));
    QVERIFY(!client.isConnected());
    QVERIFY(!client.isBusy());
    QCOMPARE(client.readAheadMessages(), 0);
    QCOMPARE(client.readAheadBytes(), 0);
    QVERIFY(!client.FetchSingle(4, false));
    QVERIFY(client.LastErrorText().contains(QStringLiteral("not connected")));

    server->handlers.remove("FETCH");
    client.disconnect(this);
    QVERIFY(open(client));
    const auto again = client.FetchSingle(3, false);
    QVERIFY(again);
    QCOMPARE(again->Subject, subject(3));
}

void TestImapReadAhead::stalledRangeTimesOutAndRefusesOtherCalls()
{
    server->messages = messages(40);
    answerPartOfRanges(*server, 1, false);
    ImapClient client;
    client.setTimeoutMs(800);
    QVERIFY(open(client));
    QVERIFY(client.FetchSingle(1, false));
    QVERIFY(client.FetchSingle(2, false));
    int checks = 0;
    QString selectError;
    QString fetchError;
    connect(
        &client, &ImapClient::AbortCheck, this,
        [&](int &) {
            if (++checks == 2) {
                QVERIFY(client.isBusy());
                QVERIFY(!client.SelectMailbox(QStringLiteral("INBOX")));
                selectError = client.LastErrorText();
                QVERIFY(!client.FetchSingle(4, false));
                fetchError = client.LastErrorText();
            }
        },
        Qt::DirectConnection);
    QElapsedTimer t;
    t.start();
    QVERIFY(!client.FetchSingle(3, false));
    QVERIFY(t.elapsed() >= 800);
    QVERIFY(t.elapsed() < 3000);
    QCOMPARE(client.LastErrorText(),
             QStringLiteral("FETCH 3 failed: timed out after 1 s without an answer from the server"));
    QCOMPARE(failureName(client.lastFailure()), "TimedOut");
    QCOMPARE(selectError, QStringLiteral("SELECT INBOX failed: another operation is in progress"));
    QCOMPARE(fetchError, QStringLiteral("FETCH 4 failed: another operation is in progress"));
    QCOMPARE(server->count("SELECT"), 1);
    QVERIFY(!client.isConnected());
    QCOMPARE(client.readAheadMessages(), 0);
}

void TestImapReadAhead::connectionDroppedMidRange()
{
    server->messages = messages(40);
    // The first range brings three whole messages and half of the fourth, then
    // the line drops; later ranges of that connection get no answer.
    int ranges = 0;
    server->handlers["FETCH"] = [&](const QByteArray &tag, const QByteArray &args) {
        const QList<int> set = server->sequenceSet(args.split(' ').value(0));
        if (set.size() == 1) {
            QByteArray out;
            for (const int n : set)
                out += server->fetchResponse(n);
            server->send(out + tag + " OK Fetch completed.\r\n");
        } else if (++ranges == 1) {
            const QByteArray fifth = server->fetchResponse(set[3]);
            server->send(server->fetchResponse(set[0]) + server->fetchResponse(set[1]) + server->fetchResponse(set[2])
                         + fifth.left(fifth.size() / 2));
            QTimer::singleShot(50, server.get(), [&] { server->drop(); });
        }
    };
    ImapClient client;
    client.setTimeoutMs(5000);
    QVERIFY(open(client));
    QVERIFY(client.FetchSingle(1, false));
    QVERIFY(client.FetchSingle(2, false));  // the range 2:... brings 2, 3, 4 and half of 5
    QTest::qWait(300);                      // the line drops while the caller is busy
    QVERIFY(!client.isConnected());

    // What arrived whole is still handed out, in order; then the loss is reported once.
    for (int n = 3; n <= 4; ++n) {
        const auto m = client.FetchSingle(n, false);
        QVERIFY2(m, qPrintable(client.LastErrorText()));
        QCOMPARE(m->Subject, subject(n));
        QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH %1: OK").arg(n));
    }
    QElapsedTimer t;
    t.start();
    QVERIFY(!client.FetchSingle(5, false));
    QVERIFY(t.elapsed() < 1000);
    QVERIFY2(client.LastErrorText().startsWith(QStringLiteral("FETCH 5 failed: ")), qPrintable(client.LastErrorText()));
    QVERIFY2(client.LastErrorText().contains(QStringLiteral("closed")), qPrintable(client.LastErrorText()));
    QCOMPARE(failureName(client.lastFailure()), "ClosedByServer");
    QVERIFY(!client.FetchSingle(6, false));
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 6 failed: not connected"));

    // Dropped while the caller waits: that fetch fails at once.
    QVERIFY(open(client));
    QVERIFY(client.FetchSingle(10, false));
    QTimer::singleShot(100, server.get(), [&] { server->drop(); });
    t.restart();
    QVERIFY(!client.FetchSingle(11, false));  // its range gets no answer
    QVERIFY(t.elapsed() < 3000);
    QVERIFY2(client.LastErrorText().startsWith(QStringLiteral("FETCH 11 failed: ")),
             qPrintable(client.LastErrorText()));
    QVERIFY2(client.LastErrorText().contains(QStringLiteral("closed")), qPrintable(client.LastErrorText()));
    QVERIFY(!client.FetchSingle(12, false));
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 12 failed: not connected"));

    server->handlers.remove("FETCH");
    QVERIFY(open(client));
    const auto m = client.FetchSingle(5, false);
    QVERIFY(m);
    QCOMPARE(m->Subject, subject(5));
}

void TestImapReadAhead::bigMessagesStayWithinTheBudget()
{
    const int count = 30;
    server->messages = messages(count, 2500);
    const qint64 size = server->messages.first().size();
    QVERIFY(size > 50000);
    ImapClient client;
    client.setReadAheadWindow(16);
    client.setReadAheadBudget(4 * size);
    QVERIFY(open(client));
    qint64 mostBytes = 0;
    int mostHeld = 0;
    for (int n = 1; n <= count; ++n) {
        const auto m = client.FetchSingle(n, false);
        QVERIFY2(m, qPrintable(client.LastErrorText()));
        QCOMPARE(m->Subject, subject(n));
        QVERIFY(m->PlainTextBody.contains(QStringLiteral("Body line 2499 of m%1").arg(n)));
        QTest::qWait(15);  // a slow caller: everything asked for has time to arrive
        mostBytes = qMax(mostBytes, client.readAheadBytes());
        mostHeld = qMax(mostHeld, client.readAheadMessages());
    }
    QVERIFY2(mostBytes <= client.readAheadBudget() + size, qPrintable(QString::number(mostBytes)));
    QVERIFY(mostHeld >= 2);  // it still reads ahead
    QVERIFY(mostHeld < 16);  // but not the whole window
    QCOMPARE(client.readAheadBytes(), 0);
}

void TestImapReadAhead::oversizedMessageInARange()
{
    server->messages = messages(10);
    server->messages[5] = message(6, 300);  // over the limit
    ImapClient client;
    client.setMaxMessageBytes(3000);
    QVERIFY(open(client));
    // The messages before it come through as they would one at a time.
    for (int n = 1; n <= 5; ++n) {
        const auto m = client.FetchSingle(n, false);
        QVERIFY2(m, qPrintable(client.LastErrorText()));
        QCOMPARE(m->Subject, subject(n));
    }
    QVERIFY(!client.FetchSingle(6, false));
    QVERIFY2(client.LastErrorText().startsWith(QStringLiteral("FETCH 6 failed: ")), qPrintable(client.LastErrorText()));
    QVERIFY2(client.LastErrorText().contains(QStringLiteral("limit of 3000 bytes")),
             qPrintable(client.LastErrorText()));
    QCOMPARE(failureName(client.lastFailure()), "TooLarge");
    QVERIFY(!client.isConnected());
    QVERIFY(!client.FetchSingle(7, false));
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 7 failed: not connected"));

    QVERIFY(open(client));
    const auto m = client.FetchSingle(7, false);
    QVERIFY(m);
    QCOMPARE(m->Subject, subject(7));
}

void TestImapReadAhead::progressFollowsTheMessageWaitedFor()
{
    server->messages = messages(4, 4000);
    server->literalPieces = 40;
    server->pieceDelayMs = 15;
    ImapClient client;
    QVERIFY(open(client));
    QList<int> seen;
    connect(
        &client, &ImapClient::PercentDone, this, [&](int p) { seen << p; }, Qt::DirectConnection);
    QVERIFY(client.FetchSingle(1, false));
    // The range's answers come last first: the message waited for arrives after
    // the others, whose progress is not its progress.
    server->handlers["FETCH"] = [&](const QByteArray &tag, const QByteArray &args) {
        const QList<int> set = server->sequenceSet(args.split(' ').value(0));
        QByteArray out;
        for (qsizetype i = set.size() - 1; i >= 0; --i)
            out += server->fetchResponse(set[i]);
        server->sendInPieces(out + tag + " OK Fetch completed.\r\n", 40, 15);
    };
    for (int n = 2; n <= 4; ++n) {
        seen.clear();
        const auto m = client.FetchSingle(n, false);
        QVERIFY(m);
        QCOMPARE(m->Subject, subject(n));
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last(), 100);
        for (int i = 1; i < seen.size(); ++i)
            QVERIFY2(seen[i] > seen[i - 1], qPrintable(QString::number(n)));
    }
}

QTEST_GUILESS_MAIN(TestImapReadAhead)
#include "test_imap_readahead.moc"
