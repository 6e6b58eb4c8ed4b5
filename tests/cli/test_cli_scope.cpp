// The walk by UID against the throw-away Dovecot: the server's search decides
// which messages are read, every record carries its UID and the folder's
// UIDVALIDITY, and a search the server refuses ends the run with its key named.
#include "TestProcess.h"
#include "TestRunHost.h"
#include "TestServer.h"

#include "extract/ExtractionRun.h"
#include "extract/FailureMessage.h"
#include "mail/ImapClient.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace vc;
using vc::test::ProcessResult;
using vc::test::runProgram;
using vc::test::TestRunHost;
using vc::test::TestServer;

namespace {

QByteArray message(const QByteArray &from, const QByteArray &subject, const QByteArray &date, int bodyBytes)
{
    return "From: " + from + "\r\nTo: tester@example.org\r\nSubject: " + subject + "\r\nDate: " + date
           + "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + QByteArray(bodyBytes, 'x')
           + "\r\n";
}

const QStringList kSubjects{"alpha-note", "beta-invoice", "gamma-note", "delta-invoice"};

}  // namespace

class CliScopeTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    ProcessResult cli(QStringList extra)
    {
        return runProgram(QStringLiteral("vellumcast-cli"),
                          TestServer::cliSignIn(tmp.filePath(QStringLiteral("cli.log"))) + extra);
    }

    // The subjects of kSubjects that appear in `out`, in their order there.
    static QStringList subjectsIn(const QByteArray &out)
    {
        QStringList found;
        for (const QString &s : kSubjects)
            if (out.contains(s.toUtf8()))
                found << s;
        return found;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test IMAP server is not running");
        TestServer::resetMailbox();
        TestServer::deliver("Inbox",
                            message("Ann <ann@example.org>", "alpha-note", "Mon, 05 Feb 2024 10:00:00 +0000", 100));
        TestServer::deliver("Inbox",
                            message("Bob <bob@example.com>", "beta-invoice", "Fri, 01 Mar 2024 10:00:00 +0000", 5000));
        TestServer::deliver("Inbox",
                            message("Ann <ann@example.org>", "gamma-note", "Mon, 15 Apr 2024 10:00:00 +0000", 100));
        TestServer::deliver("Inbox",
                            message("Cy <cy@example.net>", "delta-invoice", "Wed, 01 May 2024 10:00:00 +0000", 100));
    }

    // A filtered walk goes by UID: every record carries its UID and the folder's UIDVALIDITY.
    void filteredRecordsCarryTheirUids()
    {
        ImapClient imap;
        imap.configure(TestServer::config());
        const auto host = TestRunHost::onTestServer(imap, tmp.filePath(QStringLiteral("gui.log")));
        host->filter.since = QDate(2000, 1, 1);
        QCOMPARE(vc::test::outcomeName(ExtractEmail(*host)), QStringLiteral("Completed"));
        QCOMPARE(host->delivered.size(), 4);
        quint32 previous = 0;
        for (const MailRecord &r : host->delivered) {
            QVERIFY2(r.uid > previous, qPrintable(QString::number(r.uid)));
            QVERIFY(r.uidValidity != 0);
            QCOMPARE(r.uidValidity, host->delivered.first().uidValidity);
            previous = r.uid;
        }
        QCOMPARE(host->uids, (QList<int>{1, 2, 3, 4}));
    }

    // The window's run: a refused search fails at the search, in words that say so.
    void refusedSearchFailsTheRun()
    {
        ImapClient imap;
        imap.configure(TestServer::config());
        const auto host = TestRunHost::onTestServer(imap, tmp.filePath(QStringLiteral("gui.log")));
        host->filter.raw = QStringLiteral("XYZZYKEY 1");
        const RunOutcome outcome = ExtractEmail(*host);
        QCOMPARE(vc::test::outcomeName(outcome), QStringLiteral("Failed:Search+walk"));
        QVERIFY(host->delivered.isEmpty());
        QVERIFY(outcome.failure);
        const QString text = failureText(*outcome.failure);
        QVERIFY2(text.startsWith(QStringLiteral("The server refused the search")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("XYZZYKEY")), qPrintable(text));
    }

    void filtersSelectOnTheServer_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("subjects");
        QTest::newRow("none") << QStringList() << kSubjects;
        QTest::newRow("since") << QStringList{"--since", "2024-03-01"}
                               << QStringList{"beta-invoice", "gamma-note", "delta-invoice"};
        QTest::newRow("before") << QStringList{"--before", "1-Mar-2024"} << QStringList{"alpha-note"};
        QTest::newRow("since and before") << QStringList{"--since", "2024-02-10", "--before", "2024-04-30"}
                                          << QStringList{"beta-invoice", "gamma-note"};
        QTest::newRow("from") << QStringList{"--from", "ann@"} << QStringList{"alpha-note", "gamma-note"};
        QTest::newRow("subject") << QStringList{"--subject", "invoice"} << QStringList{"beta-invoice", "delta-invoice"};
        QTest::newRow("larger") << QStringList{"--larger", "2000"} << QStringList{"beta-invoice"};
        QTest::newRow("raw keys") << QStringList{"--search", "OR FROM cy@ FROM bob@"}
                                  << QStringList{"beta-invoice", "delta-invoice"};
        QTest::newRow("combined") << QStringList{"--from", "ann@", "--since", "2024-03-01"}
                                  << QStringList{"gamma-note"};
    }

    void filtersSelectOnTheServer()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, subjects);
        const ProcessResult r = cli(args);
        QCOMPARE(r.code, 0);
        QCOMPARE(subjectsIn(r.out), subjects);
    }

    void nothingSelectedIsNoMail()
    {
        const ProcessResult r = cli({"--subject", "no-such-subject-anywhere"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains("There are no emails in the Folder you selected."), r.err.constData());
    }

    // A key Dovecot does not know: the run ends before any fetch, naming it.
    void refusedKeyIsNamed()
    {
        const ProcessResult r = cli({"--search", "XYZZYKEY 1"});
        QCOMPARE(r.code, 4);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains("The server refused the search"), r.err.constData());
        QVERIFY2(r.err.contains("XYZZYKEY"), r.err.constData());
        QVERIFY2(!r.err.contains("Invalid login"), r.err.constData());
        QVERIFY2(!r.err.contains("There are no emails"), r.err.constData());
    }

    // A folder the server does not have is said as such, with the names it
    // does have, nearest first; the fetch log says the same.
    void missingFolderIsNamed()
    {
        const ProcessResult r = cli({"--folder", "Sen"});
        QCOMPARE(r.code, 4);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains("There is no folder Sen on this server; it has Sent, "), r.err.constData());
        QVERIFY2(r.err.contains("INBOX"), r.err.constData());
        QVERIFY2(!r.err.contains("Invalid login"), r.err.constData());
        QVERIFY2(!r.err.contains("There are no emails"), r.err.constData());
        QFile log(tmp.filePath(QStringLiteral("cli.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("There is no folder Sen on this server"));
    }

    void badKeysAreUsageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("date") << QStringList{"--since", "yesterday"};
        QTest::newRow("size") << QStringList{"--larger", "-5"};
        QTest::newRow("unbalanced") << QStringList{"--search", "OR (FROM a"};
    }

    void badKeysAreUsageErrors()
    {
        QFETCH(QStringList, args);
        QCOMPARE(cli(args).code, 2);
    }
};

QTEST_MAIN(CliScopeTest)
#include "test_cli_scope.moc"
