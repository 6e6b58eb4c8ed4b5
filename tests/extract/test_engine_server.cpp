// The engine end to end against the throw-away Dovecot: our IMAP client, the
// connection object, the walk, the fetch log and the all-e-mail-data listing.
#include "ScriptedDialogs.h"
#include "TestFiles.h"
#include "TestRunHost.h"
#include "TestServer.h"

#include "core/DateText.h"
#include "extract/ErrorLog.h"
#include "extract/ExtractionRun.h"
#include "extract/FailureMessage.h"
#include "mail/ImapClient.h"
#include "mail/MimeDecode.h"
#include "rules/Listing.h"
#include "rules/Rules.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace vc;
using vc::test::outcomeName;
using vc::test::readFile;
using vc::test::TestRunHost;
using vc::test::TestServer;

namespace {

QByteArray message(const QByteArray &subject, const QByteArray &body, int minute)
{
    return "From: Ann Example <ann@example.org>\r\n"
           "To: tester@example.org\r\n"
           "Subject: "
           + subject
           + "\r\n"
             "Date: Tue, 05 Mar 2024 14:"
           + QByteArray::number(10 + minute)
           + ":09 +0000\r\n"
             "Message-ID: <"
           + subject
           + "@example.org>\r\n"
             "MIME-Version: 1.0\r\n"
             "Content-Type: text/plain; charset=utf-8\r\n"
             "\r\n"
           + body;
}

}  // namespace

class EngineServerTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QList<QByteArray> raws;

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test IMAP server is not running");
        TestServer::resetMailbox();
        raws = {message("first", "a\r\nb\r\n", 1), message("second", "only line", 2),
                message("third", "x\r\n\r\ny", 3)};
        for (const QByteArray &raw : raws)
            TestServer::deliver(QStringLiteral("Inbox"), raw);
    }

    void allEmailDataRunMatchesTheDecodedMessages()
    {
        vc::test::ScriptedDialogs boxes;
        ImapClient imap;
        imap.configure(TestServer::config());
        const QString log = tmp.filePath(QStringLiteral("errorlog.txt"));
        const QByteArray earlier = "earlier record\r\n" + QByteArray(52, '*') + "\r\n";
        {
            QFile f(log);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(earlier);
        }
        const auto host = TestRunHost::onTestServer(imap, log);

        const RunOutcome o = ExtractEmail(*host);
        QCOMPARE(outcomeName(o), QStringLiteral("Completed"));
        QCOMPARE(o.walk.read, qint64(3));
        QVERIFY(boxes.boxes.isEmpty());
        QCOMPARE(host->uids, (QList<int>{1, 2, 3}));
        // Every record knows its UID, the folder and the folder's UIDVALIDITY.
        QVERIFY(host->delivered[0].uidValidity != 0);
        QCOMPARE(host->delivered[2].folder, QStringLiteral("Inbox"));

        // The rows are those of the same messages decoded locally.
        QStringList expected;
        for (int i = 0; i < raws.size(); ++i) {
            const MailRecord e = decodeMessage(raws[i]);
            MailRecord m;
            m.From = e.From;
            m.FromName = e.FromName;
            m.FromAddress = e.FromAddress;
            m.Subject = e.Subject;
            m.ReceivedDate = dateToText(e.date);
            m.PlainTextBody = e.PlainTextBody;
            m.HTMLTextBody = e.HTMLTextBody;
            m.uID = i + 1;
            expected += rules::allEmailData(m);
        }
        QCOMPARE(host->results.texts(), expected);
        // Message 1: header rows, the whole body, then 'a', 'b' and an empty last line.
        const QStringList rows = host->results.texts();
        const qsizetype body = rows.indexOf(QStringLiteral("a\r\nb\r\n"));
        QVERIFY(body >= 3);
        QCOMPARE(rows.mid(body, 4), (QStringList{"a\r\nb\r\n", "a", "b", ""}));
        QCOMPARE(rows.at(body - 1), QStringLiteral("first"));

        // The log kept the earlier record and gained one per fetch.
        const QString text = QString::fromUtf8(readFile(log));
        QVERIFY(text.startsWith(QString::fromUtf8(earlier)));
        QCOMPARE(text.count(QString(52, u'*') + QStringLiteral("\r\n")), 1 + 3);
    }

    void stopAfterTheFirstMessageThenAFullRun()
    {
        vc::test::ScriptedDialogs boxes;
        ImapClient imap;
        imap.configure(TestServer::config());
        const QString log = tmp.filePath(QStringLiteral("stop.txt"));
        const auto host = TestRunHost::onTestServer(imap, log);
        host->onMessage = [&](int uID) {
            if (uID == 1)
                host->conn->AbortProcess = true;
        };
        QCOMPARE(outcomeName(ExtractEmail(*host)), QStringLiteral("Stopped"));
        QCOMPARE(host->uids, QList<int>{1});
        QVERIFY(host->results.texts().contains(QStringLiteral("first")));
        QVERIFY(!host->results.texts().contains(QStringLiteral("second")));

        host->onMessage = nullptr;
        host->uids.clear();
        QCOMPARE(outcomeName(ExtractEmail(*host)), QStringLiteral("Completed"));
        QCOMPARE(host->uids, (QList<int>{1, 2, 3}));
        QVERIFY(boxes.boxes.isEmpty());
    }

    void emptyAndMissingFolders()
    {
        vc::test::ScriptedDialogs boxes;
        ImapClient imap;
        imap.configure(TestServer::config());
        const auto host = TestRunHost::onTestServer(imap, tmp.filePath(QStringLiteral("e.txt")));
        host->folder = QStringLiteral("Drafts");
        QCOMPARE(outcomeName(ExtractEmail(*host)), QStringLiteral("NoMessages"));

        host->folder = QStringLiteral("No Such Folder");
        const RunOutcome o = ExtractEmail(*host);
        QCOMPARE(outcomeName(o), QStringLiteral("Failed:Select"));
        QCOMPARE(o.failure->fault.kind, ImapFailure::Refusal);
        // Dovecot's own words come with the fault.
        QVERIFY2(o.failure->fault.serverText.contains(QStringLiteral("Mailbox doesn't exist")),
                 qPrintable(o.failure->fault.serverText));
        // Said as missing, with the names the server has (in its order: none is near).
        const QString text = failureText(*o.failure);
        QVERIFY2(text.startsWith(QStringLiteral("There is no folder No Such Folder on this server; it has ")),
                 qPrintable(text));
        for (const char *name : {"INBOX", "Drafts", "Sent", "Junk", "Deleted"})
            QVERIFY2(text.contains(QLatin1String(name)), qPrintable(text));
        QVERIFY(boxes.boxes.isEmpty());
    }

    void sentResolvesToTheSpecialUseFolder()
    {
        QFile pw(TestServer::dir() + QStringLiteral("/password3"));
        QVERIFY(pw.open(QIODevice::ReadOnly));
        const QString password = QString::fromUtf8(pw.readAll().trimmed());
        TestServer::script({QStringLiteral("reset"), QStringLiteral("special")});
        TestServer::deliver(QStringLiteral("Sent Items"), message("sent-one", "s", 4), QStringLiteral("special"));
        TestServer::deliver(QStringLiteral("Sent Items"), message("sent-two", "t", 5), QStringLiteral("special"));

        vc::test::ScriptedDialogs boxes;
        ImapClient imap;
        imap.configure(TestServer::config());
        const auto host = TestRunHost::onTestServer(imap, tmp.filePath(QStringLiteral("s.txt")), Rule::AllEmailData,
                                                    QStringLiteral("special"), password);
        host->folder = QStringLiteral("Sent");
        QCOMPARE(outcomeName(ExtractEmail(*host)), QStringLiteral("Completed"));
        QVERIFY(boxes.boxes.isEmpty());
        QCOMPARE(host->uids, (QList<int>{1, 2}));
        QVERIFY(host->results.texts().contains(QStringLiteral("sent-two")));
    }
};

QTEST_GUILESS_MAIN(EngineServerTest)
#include "test_engine_server.moc"
