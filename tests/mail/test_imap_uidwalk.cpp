// The client's walk over a list of UIDs: pipelined UID FETCH ranges, messages
// missing or out of order, a lost line, a changed UIDVALIDITY, Gmail labels.
#include "FakeImapServer.h"
#include "MailTestSupport.h"
#include "mail/ImapClient.h"

#include <QtTest>

#include <map>

using vc::failureName;
using vc::ImapClient;
using vc::MailRecord;
using vc::UidSet;

namespace {

QByteArray message(quint32 uid, int bodyLines = 3)
{
    return vc::test::message("u" + QByteArray::number(uid), bodyLines);
}

QString subject(quint32 uid)
{
    return QStringLiteral("u%1").arg(uid);
}

// A mailbox whose message n has UID uids[n - 1], served through the fake
// server's UID FETCH handler; each range answers in ascending UID order, or
// in reverse.
struct UidMailbox {
    std::vector<quint32> uids;
    QSet<quint32> missing;          // never answered
    QSet<quint32> missingInRanges;  // answered only when asked for alone
    bool reversed = false;
    int bodyLines = 3;
    QList<QByteArray> sets;  // every UID set asked for

    void serve(FakeImapServer &s)
    {
        s.messages.clear();
        for (const quint32 uid : uids)
            s.messages << message(uid, bodyLines);
        s.handlers["UID FETCH"] = [this, &s](const QByteArray &tag, const QByteArray &args) {
            const QByteArray text = args.split(' ').value(0);
            sets << text;
            const std::optional<UidSet> set = UidSet::parse(text);
            if (!set) {
                s.send(tag + " BAD Error in IMAP command UID FETCH: Invalid uidset\r\n");
                return;
            }
            std::vector<QByteArray> answers;
            for (size_t i = 0; i < uids.size(); ++i) {
                const quint32 uid = uids[i];
                if (!set->contains(uid) || missing.contains(uid) || (set->size() > 1 && missingInRanges.contains(uid)))
                    continue;
                answers.push_back(s.fetchResponse(int(i + 1), "UID " + QByteArray::number(uid) + ' '));
            }
            if (reversed)
                std::reverse(answers.begin(), answers.end());
            QByteArray out;
            for (const QByteArray &a : answers)
                out += a;
            s.send(out + tag + " OK Fetch completed.\r\n");
        };
    }
};

}  // namespace

class TestImapUidWalk : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { server = std::make_unique<FakeImapServer>(); }

    void walkOnTheWire();
    void scatteredUidsInShortCommands();
    void missingAndHiccups();
    void lostLineKeepsWhatArrivedThenGoesOnAfterReselect();
    void changedUidValidityEndsTheWalk();
    void gmailLabels();
    void progressFollowsTheUidWaitedFor();
    void sequenceFetchesInBetween();
    void rangesInFlightWithinTheBudget_data();
    void rangesInFlightWithinTheBudget();

private:
    bool open(ImapClient &client);
    std::unique_ptr<FakeImapServer> server;
};

bool TestImapUidWalk::open(ImapClient &client)
{
    vc::test::connectPlain(client, *server);
    return client.Connect(QStringLiteral("127.0.0.1")).ok() && client.SelectMailbox(QStringLiteral("INBOX")).ok();
}

// The exact dialogue of a short walk with a window of 4: the first UID on its
// own, then positions in pipelined ranges as compressed UID sets; answers out
// of order, a UID the server no longer has, and the line lost in the middle of
// the last message.
void TestImapUidWalk::walkOnTheWire()
{
    for (const quint32 uid : {3, 4, 7, 10, 12, 20})
        server->literals["m" + QByteArray::number(uid)] = message(uid);
    server->scripts = {R"(
        S: * OK [CAPABILITY IMAP4rev1] ready
        C: V0001 SELECT "INBOX"
        S: * 9 EXISTS
        S: * OK [UIDVALIDITY 5] valid
        S: V0001 OK [READ-WRITE] done
        C: V0002 UID FETCH 3 (BODY.PEEK[])
        S: * 1 FETCH (UID 3 BODY[] {{m3}})
        S: V0002 OK done
        C: V0003 UID FETCH 4,7 (BODY.PEEK[])
        C: V0004 UID FETCH 10:11 (BODY.PEEK[])
        S: * 3 FETCH (UID 7 BODY[] {{m7}})
        S: * 2 FETCH (FLAGS (\\Seen) UID 4 BODY[] {{m4}})
        S: V0003 OK done
        # Taking position 3 tops the window up to the end.
        C: V0005 UID FETCH 12,20 (BODY.PEEK[])
        S: * 4 FETCH (UID 10 BODY[] {{m10}})
        S: V0004 OK done
        # 11 did not come with its range: asked for alone, while 12 arrives.
        C: V0006 UID FETCH 11 (BODY.PEEK[])
        S: * 6 FETCH (UID 12 BODY[] {{m12}})
        S: V0006 OK done
        P: * 7 FETCH (UID 20 BODY[] {600}\r\nFrom: Ann <ann@example.org>\r\n
        DROP
    )"};
    ImapClient client;
    client.setReadAheadWindow(4);
    QVERIFY(open(client));
    QCOMPARE(client.uidValidity(), 5u);
    QVERIFY(client.startUidWalk(*UidSet::parse("3:4,7,10:12,20")));
    QCOMPARE(client.uidWalkSize(), 7);
    QCOMPARE(client.uidWalkAt(5), 11u);
    QStringList got;
    for (qint64 p = 1; p <= 7; ++p) {
        const vc::ImapResult<MailRecord> m = client.fetchUidWalk(p);
        QCOMPARE(client.LastErrorText(),
                 m ? QStringLiteral("UID FETCH %1: OK").arg(client.uidWalkAt(p)) : m.fault().reason);
        if (m) {
            QCOMPARE(m->Subject, subject(m->uid));
            QCOMPARE(m->uidValidity, 5u);
            got << QString::number(m->uid);
        } else {
            got << m.fault().reason + QLatin1Char('/') + QLatin1String(failureName(m.fault().kind));
        }
    }
    QCOMPARE(got, (QStringList{
                      QStringLiteral("3"),
                      QStringLiteral("4"),
                      QStringLiteral("7"),
                      QStringLiteral("10"),
                      QStringLiteral("UID FETCH 11 failed: the server sent no message (it may have been removed)/"
                                     "NoMessage"),
                      QStringLiteral("12"),
                      QStringLiteral("UID FETCH 20 failed: the connection was closed by the server/ClosedByServer"),
                  }));
    QCOMPARE(server->scriptError(), QString());
}

// Scattered UIDs do not compress: the ranges are cut so that no command line
// grows beyond a few KiB, and still every UID is asked for once, in order.
void TestImapUidWalk::scatteredUidsInShortCommands()
{
    UidMailbox box;
    for (quint32 n = 0; n < 3000; ++n)
        box.uids.push_back(1000000 + 2 * n);
    box.reversed = true;
    box.serve(*server);
    ImapClient client;
    QVERIFY(open(client));
    QVERIFY(client.startUidWalk(UidSet::of(box.uids)));
    for (qint64 p = 1; p <= 3000; ++p) {
        const auto m = client.fetchUidWalk(p);
        QVERIFY2(m, qPrintable(m.fault().reason));
        QCOMPARE(m->uid, box.uids[size_t(p - 1)]);
        QCOMPARE(m->Subject, subject(m->uid));
        QVERIFY(!client.isBusy());
    }
    UidSet asked;
    qint64 total = 0;
    for (const QByteArray &set : std::as_const(box.sets)) {
        QVERIFY2(set.size() <= 6000, qPrintable(QString::number(set.size())));
        const UidSet s = *UidSet::parse(set);
        total += s.size();
        for (const auto &r : s.ranges())
            asked.add(r.first, r.last);
    }
    QCOMPARE(total, 3000);  // none asked for twice
    QCOMPARE(asked, UidSet::of(box.uids));
    QVERIFY2(box.sets.size() >= 5 && box.sets.size() <= 20, qPrintable(QString::number(box.sets.size())));
    QVERIFY(client.messagesDecodedAhead() > 0);
    // The connection is as usable as after single fetches.
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")).ok());
    QVERIFY(client.Disconnect().ok());
}

void TestImapUidWalk::missingAndHiccups()
{
    UidMailbox box;
    for (quint32 uid = 1; uid <= 120; ++uid)
        box.uids.push_back(uid * 3);
    box.missing = {30, 31 * 3, 300};         // gone from the server
    box.missingInRanges = {15, 60, 61 * 3};  // there when asked for alone
    box.serve(*server);
    ImapClient client;
    QVERIFY(open(client));
    // 31 and 10000 were never in the folder; a UID the server has but the
    // walk was not given (33) is not fetched either.
    std::vector<quint32> walk = box.uids;
    walk.push_back(31);
    walk.push_back(10000);
    walk.erase(std::find(walk.begin(), walk.end(), 33u));
    QVERIFY(client.startUidWalk(UidSet::of(walk)));
    const UidSet set = UidSet::of(walk);
    QStringList failed;
    for (qint64 p = 1; p <= set.size(); ++p) {
        const quint32 uid = set.at(p - 1);
        const auto m = client.fetchUidWalk(p);
        if (m) {
            QCOMPARE(m->uid, uid);
            QCOMPARE(m->Subject, subject(uid));
        } else {
            QCOMPARE(failureName(m.fault().kind), "NoMessage");
            failed << QString::number(uid);
        }
    }
    QCOMPARE(failed, (QStringList{QStringLiteral("30"), QStringLiteral("31"), QStringLiteral("93"),
                                  QStringLiteral("300"), QStringLiteral("10000")}));
    QVERIFY(client.isConnected());
    // Each UID a range did not bring was asked for once on its own, and only those.
    QStringList alone;
    for (const QByteArray &s : std::as_const(box.sets)) {
        if (!s.contains(',') && !s.contains(':'))
            alone << QString::fromLatin1(s);
    }
    QCOMPARE(alone, (QStringList{QStringLiteral("3"), QStringLiteral("15"), QStringLiteral("30"), QStringLiteral("31"),
                                 QStringLiteral("60"), QStringLiteral("93"), QStringLiteral("183"),
                                 QStringLiteral("300"), QStringLiteral("10000")}));
}

void TestImapUidWalk::lostLineKeepsWhatArrivedThenGoesOnAfterReselect()
{
    UidMailbox box;
    for (quint32 uid = 1; uid <= 40; ++uid)
        box.uids.push_back(uid + 500);
    box.serve(*server);
    // The first range brings three whole messages and half of the fourth, then
    // the line drops.
    const auto whole = server->handlers["UID FETCH"];
    bool cut = true;
    server->handlers["UID FETCH"] = [&](const QByteArray &tag, const QByteArray &args) {
        const UidSet set = *UidSet::parse(args.split(' ').value(0));
        if (set.size() == 1 || !cut) {
            whole(tag, args);
            return;
        }
        cut = false;
        QByteArray out;
        for (qint64 i = 0; i < 3; ++i)
            out += server->fetchResponse(int(set.at(i) - 500), "UID " + QByteArray::number(set.at(i)) + ' ');
        const QByteArray fourth =
            server->fetchResponse(int(set.at(3) - 500), "UID " + QByteArray::number(set.at(3)) + ' ');
        server->send(out + fourth.left(fourth.size() / 2));
        QTimer::singleShot(50, server.get(), [&] { server->drop(); });
    };
    ImapClient client;
    client.setTimeoutMs(5000);
    QVERIFY(open(client));
    QVERIFY(client.startUidWalk(UidSet::of(box.uids)));
    QVERIFY(client.fetchUidWalk(1));
    QVERIFY(client.fetchUidWalk(2));  // its range brings 2, 3, 4 and half of 5
    QTest::qWait(300);                // the line drops while the caller is busy
    QVERIFY(!client.isConnected());
    for (qint64 p = 3; p <= 4; ++p) {
        const auto m = client.fetchUidWalk(p);
        QVERIFY2(m, qPrintable(m.fault().reason));
        QCOMPARE(m->uid, quint32(500 + p));
    }
    const auto fifth = client.fetchUidWalk(5);
    QVERIFY(!fifth);
    QVERIFY2(fifth.fault().reason.startsWith(QStringLiteral("UID FETCH 505 failed: ")),
             qPrintable(fifth.fault().reason));
    QCOMPARE(failureName(fifth.fault().kind), "ClosedByServer");
    QCOMPARE(client.fetchUidWalk(6).fault().reason, QStringLiteral("UID FETCH 506 failed: not connected"));

    // Connected and selected again, the walk goes on where it failed.
    QVERIFY(open(client));
    for (qint64 p = 5; p <= 40; ++p) {
        const auto m = client.fetchUidWalk(p);
        QVERIFY2(m, qPrintable(m.fault().reason));
        QCOMPARE(m->uid, quint32(500 + p));
    }
    QCOMPARE(box.sets.count("505"), 1);  // on its own, then ranges again
    QVERIFY(box.sets.size() <= 8);
}

void TestImapUidWalk::changedUidValidityEndsTheWalk()
{
    server->literals["m8"] = message(8);
    server->literals["m9"] = message(9);
    server->scripts = {R"(
        S: * OK [CAPABILITY IMAP4rev1] ready
        C: V0001 SELECT "INBOX"
        S: * 2 EXISTS
        S: * OK [UIDVALIDITY 100] valid
        S: V0001 OK done
        C: V0002 UID FETCH 8 (BODY.PEEK[])
        S: * 1 FETCH (UID 8 BODY[] {{m8}})
        S: V0002 OK done
        C: V0003 SELECT "Other"
        S: * 0 EXISTS
        S: * OK [UIDVALIDITY 100] valid
        S: V0003 OK done
        C: V0004 SELECT "INBOX"
        S: * 2 EXISTS
        S: * OK [UIDVALIDITY 101] valid
        S: V0004 OK done
    )"};
    ImapClient client;
    QVERIFY(open(client));
    QVERIFY(!client.fetchUidWalk(1));
    QCOMPARE(client.LastErrorText(), QStringLiteral("UID FETCH failed: position 1 is outside the walk of 0 messages"));
    QVERIFY(client.startUidWalk(*UidSet::parse("8:9")));
    QCOMPARE(client.fetchUidWalk(1)->Subject, subject(8));
    QCOMPARE(client.fetchUidWalk(3).fault().reason,
             QStringLiteral("UID FETCH failed: position 3 is outside the walk of 2 messages"));
    QVERIFY(client.SelectMailbox(QStringLiteral("Other")).ok());
    QCOMPARE(client.fetchUidWalk(2).fault().reason,
             QStringLiteral("UID FETCH 9 failed: the walk's folder INBOX is not the one selected"));
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")).ok());
    const auto m = client.fetchUidWalk(2);
    QCOMPARE(m.fault().reason, QStringLiteral("UID FETCH 9 failed: the folder's UIDVALIDITY changed from 100 to 101, "
                                              "so its UIDs no longer name the walk's messages"));
    QCOMPARE(failureName(m.fault().kind), "NotSelected");
    QCOMPARE(server->scriptError(), QString());
}

void TestImapUidWalk::gmailLabels()
{
    for (const quint32 uid : {5, 6, 7})
        server->literals["m" + QByteArray::number(uid)] = message(uid);
    server->scripts = {R"(
        S: * OK [CAPABILITY IMAP4rev1 X-GM-EXT-1] ready
        C: V0001 SELECT "INBOX"
        S: * 3 EXISTS
        S: V0001 OK done
        C: V0002 UID FETCH 5 (X-GM-LABELS BODY.PEEK[])
        S: * 1 FETCH (X-GM-LABELS (\\Inbox "Big Clients" Entw&APw-rfe) UID 5 BODY[] {{m5}})
        S: V0002 OK done
        C: V0003 UID FETCH 6:7 (X-GM-LABELS BODY.PEEK[])
        S: * 3 FETCH (UID 7 X-GM-LABELS () BODY[] {{m7}})
        S: * 2 FETCH (UID 6 X-GM-LABELS ({7}\r\nA (b) c \\Important) BODY[] {{m6}})
        S: V0003 OK done
    )"};
    ImapClient client;
    QVERIFY(open(client));
    QVERIFY(client.startUidWalk(*UidSet::parse("5:7"), {.gmailLabels = true}));
    QStringList labels;
    for (qint64 p = 1; p <= 3; ++p) {
        const auto m = client.fetchUidWalk(p);
        QVERIFY2(m, qPrintable(m.fault().reason));
        labels << QString::number(m->uid) + QLatin1Char(':') + m->gmailLabels.join(QLatin1Char('|'));
    }
    QCOMPARE(labels, (QStringList{QStringLiteral("5:\\Inbox|Big Clients|Entwürfe"),
                                  QStringLiteral("6:A (b) c|\\Important"), QStringLiteral("7:")}));
    QCOMPARE(server->scriptError(), QString());

    // Elsewhere labels cannot be asked for.
    FakeImapServer plain;
    plain.messages = {message(1)};
    ImapClient other;
    vc::test::connectPlain(other, plain);
    QVERIFY(other.Connect(QStringLiteral("127.0.0.1")) && other.SelectMailbox(QStringLiteral("INBOX")));
    const auto refused = other.startUidWalk(*UidSet::parse("1"), {.gmailLabels = true});
    QCOMPARE(refused.fault().reason, QStringLiteral("UID walk failed: labels are a feature of Gmail, and this server "
                                                    "is not Gmail's (it does not offer X-GM-EXT-1)"));
}

void TestImapUidWalk::progressFollowsTheUidWaitedFor()
{
    UidMailbox box;
    box.uids = {11, 12, 13, 14};
    box.serve(*server);
    for (size_t i = 0; i < box.uids.size(); ++i)
        server->messages[qsizetype(i)] = message(box.uids[i], 4000);
    ImapClient client;
    QVERIFY(open(client));
    QVERIFY(client.startUidWalk(UidSet::of(box.uids)));
    QList<int> seen;
    connect(
        &client, &ImapClient::PercentDone, this, [&](int p) { seen << p; }, Qt::DirectConnection);
    QVERIFY(client.fetchUidWalk(1));
    // The range's answers come last first and slowly: the message waited for
    // arrives after the others, whose progress is not its progress.
    server->handlers["UID FETCH"] = [&](const QByteArray &tag, const QByteArray &args) {
        const UidSet set = *UidSet::parse(args.split(' ').value(0));
        QByteArray out;
        for (qint64 i = set.size() - 1; i >= 0; --i) {
            const quint32 uid = set.at(i);
            out += server->fetchResponse(int(uid - 10), "UID " + QByteArray::number(uid) + ' ');
        }
        server->sendInPieces(out + tag + " OK Fetch completed.\r\n", 40, 15);
    };
    for (qint64 p = 2; p <= 4; ++p) {
        seen.clear();
        const auto m = client.fetchUidWalk(p);
        QVERIFY2(m, qPrintable(m.fault().reason));
        QCOMPARE(m->uid, quint32(10 + p));
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last(), 100);
        for (int i = 1; i < seen.size(); ++i)
            QVERIFY2(seen[i] > seen[i - 1], qPrintable(QString::number(p)));
    }
}

// Fetches by sequence number in the middle of a UID walk answer for their own
// message; the walk then goes on, asking afresh.
void TestImapUidWalk::sequenceFetchesInBetween()
{
    UidMailbox box;
    for (quint32 uid = 1; uid <= 30; ++uid)
        box.uids.push_back(uid * 10);
    box.serve(*server);
    server->latencyMs = 30;  // ranges are still on their way when the next request comes
    ImapClient client;
    QVERIFY(open(client));
    QVERIFY(client.startUidWalk(UidSet::of(box.uids)));
    for (qint64 p = 1; p <= 3; ++p)
        QCOMPARE(client.fetchUidWalk(p)->uid, quint32(p * 10));
    const auto seq = client.FetchSingle(7, false);
    QVERIFY2(seq, qPrintable(client.LastErrorText()));
    QCOMPARE(seq->Subject, subject(70));
    QCOMPARE(client.LastErrorText(), QStringLiteral("FETCH 7: OK"));
    const auto seqNext = client.FetchSingle(8, false);  // a sequence walk of its own
    QVERIFY(seqNext);
    QCOMPARE(seqNext->Subject, subject(80));
    for (qint64 p = 4; p <= 30; ++p) {
        const auto m = client.fetchUidWalk(p);
        QVERIFY2(m, qPrintable(m.fault().reason));
        QCOMPARE(m->uid, quint32(p * 10));
        QCOMPARE(m->Subject, subject(quint32(p * 10)));
    }
    client.endUidWalk();
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")).ok());
    // Every command but the ranges went out with nothing outstanding before it.
    for (int i = 0; i < server->commands.size(); ++i) {
        const QByteArray &c = server->commands[i];
        const QByteArray set = c.split(' ').value(c.startsWith("UID ") ? 2 : 1);
        const bool range = c.startsWith("UID FETCH ") ? set.contains(':') || set.contains(',')
                                                      : c.startsWith("FETCH ") && set.contains(':');
        if (!range)
            QVERIFY2(server->unanswered[i] == 0, c.constData());
    }
}

void TestImapUidWalk::rangesInFlightWithinTheBudget_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("bodyLines");
    QTest::addColumn<int>("budgetMessages");  // the budget in messages of this size; 0: the default
    QTest::addColumn<int>("mostCommands");    // the most UID FETCH commands the walk may take
    QTest::addColumn<int>("callerMs");        // how long the caller takes over each message

    // Many small messages: a few large ranges, each asked for while the one before is on its way.
    QTest::newRow("small messages") << 400 << 3 << 0 << 30 << 0;
    // Large ones: the budget, not the window, bounds what is asked for ahead.
    QTest::newRow("large messages, tight budget") << 40 << 2500 << 4 << 40 << 15;
}

// Over a slow link the walk keeps asking for the next UID ranges while earlier
// ones are still being answered, as the walk by number does, and never holds
// more than its budget (plus the one message that always fits).
void TestImapUidWalk::rangesInFlightWithinTheBudget()
{
    QFETCH(int, count);
    QFETCH(int, bodyLines);
    QFETCH(int, budgetMessages);
    QFETCH(int, mostCommands);
    QFETCH(int, callerMs);
    UidMailbox box;
    box.bodyLines = bodyLines;
    for (int n = 0; n < count; ++n)
        box.uids.push_back(quint32(100 + 3 * n));  // scattered: every set is a list
    box.serve(*server);
    server->latencyMs = 20;
    const qint64 size = message(box.uids.front(), bodyLines).size();
    ImapClient client;
    client.setReadAheadWindow(64);
    if (budgetMessages > 0)
        client.setReadAheadBudget(budgetMessages * size);
    QVERIFY(open(client));
    QVERIFY(client.startUidWalk(UidSet::of(box.uids)));
    qint64 mostBytes = 0;
    int mostHeld = 0;
    for (qint64 p = 1; p <= count; ++p) {
        const auto m = client.fetchUidWalk(p);
        QVERIFY2(m, qPrintable(m.fault().reason));
        QCOMPARE(m->uid, box.uids[size_t(p - 1)]);
        QCOMPARE(m->Subject, subject(m->uid));
        if (callerMs > 0)
            QTest::qWait(callerMs);  // everything asked for has time to arrive
        mostBytes = qMax(mostBytes, client.readAheadBytes());
        mostHeld = qMax(mostHeld, client.readAheadMessages());
    }
    client.endUidWalk();
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")).ok());

    int fetches = 0;
    int pipelined = 0;
    qint64 asked = 0;
    for (int i = 0; i < server->commands.size(); ++i) {
        const QByteArray &c = server->commands[i];
        if (!c.startsWith("UID FETCH "))
            continue;
        ++fetches;
        pipelined += server->unanswered[i] > 0;
        asked += UidSet::parse(c.split(' ').value(2))->size();
    }
    QCOMPARE(asked, qint64(count));  // each UID once
    QVERIFY2(pipelined >= 2, qPrintable(QStringLiteral("%1 of %2").arg(pipelined).arg(fetches)));
    QVERIFY2(fetches <= mostCommands, qPrintable(QString::number(fetches)));
    QVERIFY2(mostHeld >= 2, qPrintable(QString::number(mostHeld)));
    QVERIFY2(mostBytes <= client.readAheadBudget() + size,
             qPrintable(QStringLiteral("%1 held, budget %2").arg(mostBytes).arg(client.readAheadBudget())));
    QCOMPARE(client.readAheadBytes(), 0);
}

QTEST_GUILESS_MAIN(TestImapUidWalk)
#include "test_imap_uidwalk.moc"
