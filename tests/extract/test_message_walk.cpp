// The message walk, the folder count and the fetch log against the in-memory
// component: what the walk delivers to its observer, how it ends, and the
// records it leaves.
#include "FakeImap.h"
#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include "core/AppError.h"
#include "core/DateText.h"
#include "extract/ErrorLog.h"
#include "extract/FailureMessage.h"
#include "extract/clsChilkatIMAP.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <ctime>

using namespace vc;
using vc::test::FakeImap;
using vc::test::readFile;

namespace {

const QString kInvalidLogin = QStringLiteral("Invalid login. Please double-check your username and password.");
const QByteArray kStars(52, '*');

struct Delivered {
    QStringList fields;  // From, FromName, FromAddress, Subject, ReceivedDate, Plain, HTML
    int uID;
};

// The observer of a walk: what it delivered, and what the log held at each delivery.
struct Recorder : vc::WalkObserver {
    QList<Delivered> records;
    std::function<void()> onDelivery;
    void delivered(const MailRecord &m) override
    {
        records.append(
            {{m.From, m.FromName, m.FromAddress, m.Subject, m.ReceivedDate, m.PlainTextBody, m.HTMLTextBody}, m.uID});
        if (onDelivery)
            onDelivery();
    }
};

// Splits the log into records at the separator lines.
QList<QByteArray> records(const QByteArray &log)
{
    QList<QByteArray> out;
    const QByteArray sep = "\r\n" + kStars + "\r\n";
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = log.indexOf(sep, from);
        if (at < 0)
            break;
        out << log.mid(from, at - from);
        from = at + sep.size();
    }
    return out;
}

}  // namespace

class MessageWalkTest : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    QString logPath;
    FakeImap *imap = nullptr;
    clsChilkatIMAP *conn = nullptr;
    Recorder recorder;
    QList<Delivered> &delivered = recorder.records;
    vc::test::ScriptedDialogs *boxes = nullptr;

    WalkOutcome walk(const QString &folder = QStringLiteral("Inbox"))
    {
        return conn->StartMailExtraction(folder, &recorder);
    }

    void fillInbox(int n)
    {
        auto &inbox = imap->folder(QStringLiteral("Inbox"));
        for (int i = 1; i <= n; ++i)
            inbox.messages << FakeImap::message(QStringLiteral("Subject %1").arg(i),
                                                QStringLiteral("line one %1\r\nline two").arg(i));
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        ::tzset();
        QVERIFY(tmp.isValid());
    }

    void init()
    {
        boxes = new vc::test::ScriptedDialogs;
        imap = new FakeImap;
        conn = new clsChilkatIMAP;
        conn->setChilkatIMAPObject(imap);
        conn->setUsername(QStringLiteral("user"));
        conn->setPassword(QStringLiteral("pw"));
        logPath = tmp.filePath(QStringLiteral("log-%1.txt").arg(QTest::currentTestFunction()));
        QFile::remove(logPath);
        conn->setErrorLogPath(logPath);
        delivered.clear();
        recorder.onDelivery = nullptr;
    }

    void cleanup()
    {
        // The walk shows nothing; its failures are values.
        QVERIFY2(boxes->boxes.isEmpty(), qPrintable(boxes->texts().join(u'|')));
        delete conn;
        delete imap;
        delete boxes;
    }

    void walkFetchesAscendingLogsEveryFetchAndSkipsFailures()
    {
        fillInbox(4);
        imap->folder(QStringLiteral("Inbox")).messages[1] = std::nullopt;  // message 2 cannot be fetched

        QVERIFY(conn->Connect());  // counting works on an open connection
        conn->setCurrentLocation(1);
        const StepResult<int> count = conn->GetTotalMessage(QStringLiteral("Inbox"));
        QVERIFY(count);
        conn->setMaxRecord(*count);
        QCOMPARE(conn->MaxRecord(), 4);
        const WalkOutcome out = walk();

        QCOMPARE(imap->fetched, (QList<int>{1, 2, 3, 4}));
        QCOMPARE(delivered.size(), 3);
        QCOMPARE(delivered[0].uID, 1);
        QCOMPARE(delivered[1].uID, 3);
        QCOMPARE(delivered[2].uID, 4);
        // The seven values come from the fetched message, the date as text.
        const MailRecord expected = *imap->folder(QStringLiteral("Inbox")).messages[2];
        QCOMPARE(delivered[1].fields,
                 (QStringList{expected.From, expected.FromName, expected.FromAddress, expected.Subject,
                              dateToText(expected.date), expected.PlainTextBody, expected.HTMLTextBody}));
        QCOMPARE(conn->CurrentLocation(), 4);
        QCOMPARE(out.end, WalkOutcome::End::Completed);
        QCOMPARE(out.stats.read, qint64(3));
        QCOMPARE(out.stats.unread(), qint64(1));
        // The walk went on where the count left the connection: signed in,
        // the folder selected, nothing sent in between.
        QCOMPARE(imap->logins.size(), 1);
        QCOMPARE(imap->count(QStringLiteral("select Inbox")), 1);

        // One record per fetch, the failed one carrying the component's text
        // (its line break written as an escape, so the record stays one line).
        const QList<QByteArray> recs = records(readFile(logPath));
        QCOMPARE(recs.size(), 4);
        QVERIFY(recs[0].endsWith(" : FetchSingle: OK 1"));
        QVERIFY(recs[1].endsWith(" : FetchSingle: no message 2\\x0d\\x0asecond line"));
        QVERIFY(recs[3].endsWith(" : FetchSingle: OK 4"));
    }

    void stopWhileFetchStillReturnsMessage()
    {
        fillInbox(4);
        imap->fetchHonoursAbort = false;
        imap->onFetch = [this](int n) {
            if (n == 2)
                conn->AbortProcess = true;
        };
        conn->setCurrentLocation(1);
        conn->setMaxRecord(4);
        const WalkOutcome out = walk();

        QCOMPARE(imap->fetched, (QList<int>{1, 2}));
        QCOMPARE(delivered.size(), 1);
        QCOMPARE(delivered[0].uID, 1);
        QCOMPARE(records(readFile(logPath)).size(), 2);  // message 2 logged, not delivered
        QCOMPARE(out.end, WalkOutcome::End::Stopped);
        QCOMPARE(out.lastVisited, qint64(2));
    }

    void stopWhileRemainingFetchesFailWalksToTheEnd()
    {
        fillInbox(5);
        imap->onFetch = [this](int n) {
            if (n == 2)
                conn->AbortProcess = true;
        };
        conn->setCurrentLocation(1);
        conn->setMaxRecord(5);
        const WalkOutcome out = walk();

        QCOMPARE(imap->fetched, (QList<int>{1, 2, 3, 4, 5}));
        QCOMPARE(delivered.size(), 1);
        QCOMPARE(records(readFile(logPath)).size(), 5);
        QCOMPARE(out.end, WalkOutcome::End::Stopped);
    }

    void messagesRemovedAfterTheCountAreSkipped()
    {
        fillInbox(5);
        QVERIFY(conn->Connect());  // counting works on an open connection
        conn->setCurrentLocation(1);
        conn->setMaxRecord(conn->GetTotalMessage(QStringLiteral("Inbox")).value());
        // Two messages go away between the count and the walk.
        auto &msgs = imap->folder(QStringLiteral("Inbox")).messages;
        msgs.removeAt(1);
        msgs.removeAt(1);
        walk();

        QCOMPARE(imap->fetched, (QList<int>{1, 2, 3, 4, 5}));
        QCOMPARE(delivered.size(), 3);
        QCOMPARE(delivered[1].fields[3], QStringLiteral("Subject 4"));
        QCOMPARE(records(readFile(logPath)).size(), 5);
    }

    void maxRecordBelowCurrentLocationFetchesNothing()
    {
        fillInbox(3);
        conn->setCurrentLocation(1);
        conn->setMaxRecord(0);
        walk();

        QCOMPARE(imap->count(QStringLiteral("login")), 1);
        QCOMPARE(imap->count(QStringLiteral("select Inbox")), 1);
        QVERIFY(imap->fetched.isEmpty());
        QVERIFY(delivered.isEmpty());
        QVERIFY(!QFile::exists(logPath));
    }

    void walkStartsAtCurrentLocation()
    {
        fillInbox(5);
        conn->setCurrentLocation(3);
        conn->setMaxRecord(4);
        walk();
        QCOMPARE(imap->fetched, (QList<int>{3, 4}));
        QCOMPARE(delivered.size(), 2);
        QCOMPARE(delivered[0].uID, 3);
    }

    // A walk whose own sign-in or select fails ends there, with the failure as
    // a value (and in the fetch log, as the user is told it).
    void walkEndsAtItsSignInOrSelect()
    {
        fillInbox(2);
        imap->loginOk = false;
        conn->setCurrentLocation(1);
        conn->setMaxRecord(2);
        WalkOutcome out = walk();
        QCOMPARE(out.end, WalkOutcome::End::ConnectFailed);
        QCOMPARE(out.failure->stage, RunStage::Login);
        QCOMPARE(conn->GetLastError()->stage, RunStage::Login);
        QVERIFY(imap->fetched.isEmpty());
        QCOMPARE(imap->count(QStringLiteral("select Inbox")), 0);

        imap->loginOk = true;
        imap->refuseSelect << QStringLiteral("Inbox");
        out = walk();
        QCOMPARE(out.end, WalkOutcome::End::SelectFailed);
        QCOMPARE(out.failure->stage, RunStage::Select);
        QCOMPARE(out.failure->fault.reason, QStringLiteral("SelectMailbox: no such mailbox Inbox"));
        QVERIFY(imap->fetched.isEmpty());
        // Inbox has no stand-in folder; one list tells that it is there all the same.
        QCOMPARE(imap->count(QStringLiteral("list")), 1);
        QVERIFY(out.failure->missingFolder.isEmpty());

        const QList<QByteArray> recs = records(readFile(logPath));
        QCOMPARE(recs.size(), 2);
        QVERIFY(recs[0].endsWith(" : " + kInvalidLogin.toUtf8()));
    }

    // A filter needs a component that searches; one that cannot fails the
    // walk at the search instead of reading what the filter leaves out.
    void filteredWalkWithoutSearchFailsAtTheSearch()
    {
        fillInbox(2);
        conn->setCurrentLocation(1);
        conn->setMaxRecord(2);
        SearchFilter filter;
        filter.subject = QStringLiteral("Subject 1");
        conn->setSearchFilter(filter);
        const WalkOutcome out = walk();
        QCOMPARE(out.end, WalkOutcome::End::SelectFailed);
        QCOMPARE(out.failure->stage, RunStage::Search);
        QVERIFY(imap->fetched.isEmpty());
        QVERIFY(delivered.isEmpty());
        const QString text = failureText(*out.failure);
        QVERIFY2(text.startsWith(QStringLiteral("The search for the folder's messages failed")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("cannot search by UID")), qPrintable(text));

        conn->setSearchFilter({});  // unfiltered: every message, by number
        QCOMPARE(walk().end, WalkOutcome::End::Completed);
        QCOMPARE(delivered.size(), 2);
    }

    void specialUseFolders_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QStringList>("folders");  // "name|flag" pairs, in server order
        QTest::addColumn<QString>("expected");     // folder selected, empty: none

        QTest::newRow("fixed name exists") << "Sent" << QStringList{"Sent|\\Sent", "Sent Items|"} << "Sent";
        QTest::newRow("sent items") << "Sent" << QStringList{"INBOX|", "Sent Items|\\Sent"} << "Sent Items";
        QTest::newRow("deleted is trash")
            << "Deleted" << QStringList{"Junk Email|\\Junk", "Deleted Items|\\Trash"} << "Deleted Items";
        QTest::newRow("junk") << "Junk" << QStringList{"Junk Email|\\Junk", "Deleted Items|\\Trash"} << "Junk Email";
        QTest::newRow("drafts") << "Drafts" << QStringList{"Entwürfe|\\Drafts"} << "Entwürfe";
        QTest::newRow("no attribute") << "Sent" << QStringList{"Sent Items|", "Outbox|\\Drafts"} << "";
        QTest::newRow("inbox never falls back") << "Inbox" << QStringList{"Other|\\Sent"} << "";
        QTest::newRow("first of two") << "Junk" << QStringList{"Spam|\\Junk", "Bulk|\\Junk"} << "Spam";
    }

    void specialUseFolders()
    {
        QFETCH(QString, asked);
        QFETCH(QStringList, folders);
        QFETCH(QString, expected);
        for (int i = 0; i < folders.size(); ++i) {
            const QStringList parts = folders[i].split(u'|');
            auto &f = imap->folder(parts[0], parts[1].isEmpty() ? QStringList() : QStringList{parts[1]});
            for (int k = 0; k <= i; ++k)  // folder i holds i+1 messages: the count tells which was selected
                f.messages << FakeImap::message(parts[0]);
        }
        QVERIFY(imap->Connect(QString()) && imap->Login(QString(), QString()));

        const StepResult<int> count = conn->GetTotalMessage(asked);
        if (expected.isEmpty()) {
            QVERIFY(!count);
            QCOMPARE(count.fault().stage, RunStage::Select);
            QCOMPARE(count.fault().fault.reason, QStringLiteral("SelectMailbox: no such mailbox ") + asked);
        } else {
            QVERIFY(count);
            QCOMPARE(*count, int(imap->folder(expected).messages.size()));
            QCOMPARE(imap->calls.last(), QStringLiteral("select ") + expected);
        }
    }

    void walkUsesTheStandInFolder()
    {
        auto &sent = imap->folder(QStringLiteral("Sent Items"), {QStringLiteral("\\Sent")});
        sent.messages << FakeImap::message(QStringLiteral("s1")) << FakeImap::message(QStringLiteral("s2"));
        conn->setCurrentLocation(1);
        conn->setMaxRecord(2);
        walk(QStringLiteral("Sent"));
        QCOMPARE(delivered.size(), 2);
        QCOMPARE(delivered[1].fields[3], QStringLiteral("s2"));
    }

    void countWithoutComponentRaises()
    {
        clsChilkatIMAP bare;
        try {
            bare.GetTotalMessage(QStringLiteral("Inbox"));
            QFAIL("no error raised");
        } catch (const AppError &e) {
            QCOMPARE(e.number(), err::ObjectNotSet);
        }
    }

    void unwritableLogEndsTheWalkBeforeDelivery()
    {
        fillInbox(3);
        QFile blocker(tmp.filePath(QStringLiteral("plain-file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        conn->setErrorLogPath(blocker.fileName() + QStringLiteral("/errorlog.txt"));
        conn->setCurrentLocation(1);
        conn->setMaxRecord(3);
        try {
            walk();
            QFAIL("no error raised");
        } catch (const AppError &e) {
            QCOMPARE(e.number(), err::PathFileAccess);
        }
        QCOMPARE(imap->fetched, QList<int>{1});
        QVERIFY(delivered.isEmpty());
    }

    void dateText()
    {
        QVERIFY(dateToText(QDateTime()).isEmpty());
        // TZ is UTC here; the text is the local short date, a blank and the time
        // of day with seconds and without a zone name.
        const QDateTime d(QDate(2023, 11, 28), QTime(17, 45, 31), QTimeZone(3600));
        const QString text = dateToText(d);
        QVERIFY2(text.startsWith(QLocale::system().toString(QDate(2023, 11, 28), QLocale::ShortFormat) + u' '),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("45:31")), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("UTC")) && !text.contains(QStringLiteral("GMT")), qPrintable(text));
        QCOMPARE(dateToText(d), dateToText(d.toUTC()));
    }

    // The text is local time also across a zone's changes of offset, every
    // ten minutes through the days of both changes and around them.
    void dateTextFollowsTheZoneAcrossItsChanges()
    {
        const QByteArray before = qgetenv("TZ");
        const auto restore = qScopeGuard([&] {
            if (before.isNull())
                qunsetenv("TZ");
            else
                qputenv("TZ", before);
            tzset();
        });
        qputenv("TZ", "Europe/Berlin");
        tzset();
        const QLocale locale = QLocale::system();
        for (const QDate day : {QDate(2024, 3, 31), QDate(2024, 10, 27)}) {
            const QDateTime from(day.addDays(-1), QTime(0, 0), Qt::UTC);
            for (int step = 0; step < 3 * 24 * 6; ++step) {
                const QDateTime t = from.addSecs(qint64(step) * 600 + 7);
                const QDateTime local = t.toLocalTime();
                const QString expected = locale.toString(local.date(), locale.dateFormat(QLocale::ShortFormat));
                const QString text = dateToText(t);
                QVERIFY2(text.startsWith(expected + u' '), qPrintable(text + QStringLiteral(" for ") + t.toString(Qt::ISODate)));
                // The locale's clock has 24 hours or 12.
                const QString h24 = local.time().toString(QStringLiteral("HH:mm:ss"));
                const QString h12 = local.time().toString(QStringLiteral("h:mm:ss ap")).section(u' ', 0, 0);
                QVERIFY2(text.contains(h24) || text.contains(u' ' + h12),
                         qPrintable(text + QStringLiteral(" for ") + t.toString(Qt::ISODate)));
                QCOMPARE(text, dateToText(t.toOffsetFromUtc(3600 * 5)));
            }
        }
    }

    void recordLayout()
    {
        const QDateTime t(QDate(2024, 1, 2), QTime(3, 4, 5));
        const QByteArray withText = errorlog::recordBytes(t, QStringLiteral("x\r\ny"));
        QCOMPARE(withText, errorlog::timestampText(t).toLocal8Bit() + " : x\\x0d\\x0ay\r\n" + kStars + "\r\n");
        const QByteArray empty = errorlog::recordBytes(t, QString());
        QVERIFY(empty.endsWith(" : \r\n" + kStars + "\r\n"));
        QCOMPARE(empty.count('\n'), 2);
    }

    void logIsAppendOnly()
    {
        const QByteArray earlier = "earlier run\r\n" + kStars + "\r\n";
        {
            QFile f(logPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(earlier);
        }
        fillInbox(2);
        conn->setCurrentLocation(1);
        conn->setMaxRecord(2);
        walk();
        conn->setCurrentLocation(1);  // the walk leaves it at the last number
        walk();
        const QByteArray log = readFile(logPath);
        QVERIFY(log.startsWith(earlier));
        QCOMPARE(records(log).size(), 1 + 4);
    }

    // While the walk keeps the log open, the first record is in the file
    // before the first message is delivered (a log that cannot be written
    // ends the walk before anything else), the later ones follow in batches of
    // at most 64, and every one is in the file when the walk ends. A log
    // removed between walks is made afresh.
    void recordsReachTheFileInBatches()
    {
        constexpr int kMessages = 150;
        fillInbox(kMessages);
        for (int round = 0; round < 2; ++round) {
            QList<int> seen;
            recorder.onDelivery = [&] { seen << int(records(readFile(logPath)).size()); };
            conn->setCurrentLocation(1);
            conn->setMaxRecord(kMessages);
            walk();
            QCOMPARE(seen.size(), kMessages);
            QCOMPARE(seen.first(), 1);
            for (int i = 0; i < seen.size(); ++i) {
                const int fetched = i + 1;
                QVERIFY2(seen[i] <= fetched && seen[i] > fetched - 64 - 1,
                         qPrintable(QStringLiteral("%1 records at message %2").arg(seen[i]).arg(fetched)));
            }
            QCOMPARE(records(readFile(logPath)).size(), kMessages);
            QVERIFY(QFile::remove(logPath));
        }
    }

    void logFallsBackToTheUserFolder()
    {
        QFile blocker(tmp.filePath(QStringLiteral("not-a-folder")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString userFolder = tmp.filePath(QStringLiteral("user/data"));
        errorlog::overrideFolders(blocker.fileName(), userFolder);

        QCOMPARE(errorlog::append(QString(), QStringLiteral("first")), userFolder + QStringLiteral("/errorlog.txt"));
        errorlog::append(QString(), QStringLiteral("second"));
        const QList<QByteArray> recs = records(readFile(userFolder + QStringLiteral("/errorlog.txt")));
        QCOMPARE(recs.size(), 2);
        QVERIFY(recs[1].endsWith(" : second"));

        // The choice is made once: the program folder is not tried again for
        // every record, even once it could be written.
        QFile late(tmp.filePath(QStringLiteral("late-program")));
        QVERIFY(late.open(QIODevice::WriteOnly));
        late.close();
        errorlog::overrideFolders(late.fileName(), userFolder);
        errorlog::append(QString(), QStringLiteral("chosen"));
        QVERIFY(late.remove());
        QVERIFY(QDir().mkpath(late.fileName()));
        QCOMPARE(errorlog::append(QString(), QStringLiteral("still")), userFolder + QStringLiteral("/errorlog.txt"));
        QVERIFY(!QFile::exists(late.fileName() + QStringLiteral("/errorlog.txt")));
        // When the chosen log cannot be written any more, the choice is made again.
        QVERIFY(QFile::remove(userFolder + QStringLiteral("/errorlog.txt")));
        QVERIFY(QDir(userFolder).removeRecursively());
        QFile(userFolder).open(QIODevice::WriteOnly);  // a file where the folder was
        QCOMPARE(errorlog::append(QString(), QStringLiteral("moved")),
                 late.fileName() + QStringLiteral("/errorlog.txt"));
        QVERIFY(QFile::remove(userFolder));

        // A writable program folder is used first.
        const QString programFolder = tmp.filePath(QStringLiteral("program"));
        QVERIFY(QDir().mkpath(programFolder));
        errorlog::overrideFolders(programFolder, userFolder);
        QCOMPARE(errorlog::append(QString(), QStringLiteral("third")), programFolder + QStringLiteral("/errorlog.txt"));

        // An installed program's folder is never used, even when it is writable
        // (as /usr/bin is for root).
        const QString prefix = tmp.filePath(QStringLiteral("prefix"));
        QVERIFY(QDir().mkpath(prefix + QStringLiteral("/bin")));
        QVERIFY(QDir().mkpath(prefix + QStringLiteral("/share/applications")));
        QFile desktop(prefix + QStringLiteral("/share/applications/example.quillmark.vellumcast.desktop"));
        QVERIFY(desktop.open(QIODevice::WriteOnly));
        desktop.close();
        errorlog::overrideFolders(prefix + QStringLiteral("/bin"), userFolder);
        QCOMPARE(errorlog::append(QString(), QStringLiteral("fourth")), userFolder + QStringLiteral("/errorlog.txt"));
        QVERIFY(!QFile::exists(prefix + QStringLiteral("/bin/errorlog.txt")));

        // Nowhere to write.
        errorlog::overrideFolders(blocker.fileName(), blocker.fileName() + QStringLiteral("/sub"));
        try {
            errorlog::append(QString(), QStringLiteral("lost"));
            QFAIL("no error raised");
        } catch (const AppError &e) {
            QCOMPARE(e.number(), err::PathFileAccess);
        }
        errorlog::overrideFolders(QString(), QString());
    }
};

QTEST_GUILESS_MAIN(MessageWalkTest)
#include "test_message_walk.moc"
