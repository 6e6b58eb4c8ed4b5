// Several folders against the throw-away Dovecot: --folder given again and
// --all-folders read folders one after another into one output (names with
// spaces, non-ASCII and "&" go in modified UTF-7 on the wire), --list-folders
// prints them, and a folder the server does not have is said as such.
#include "TestProcess.h"
#include "TestServer.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using vc::test::ProcessResult;
using vc::test::runProgram;
using vc::test::TestServer;

namespace {

QByteArray message(const QByteArray &subject)
{
    return "From: Ann <ann@example.org>\r\nTo: tester@example.org\r\nSubject: " + subject
           + "\r\nDate: Mon, 05 Feb 2024 10:00:00 +0000\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; "
             "charset=utf-8\r\n\r\nbody of "
           + subject + "\r\n";
}

const QString kSpaces = QStringLiteral("Project Notes");
const QString kAccents = QStringLiteral("Bücher/Käse");
const QString kAmpersand = QStringLiteral("R&D");

}  // namespace

class CliFoldersTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    ProcessResult cli(QStringList extra)
    {
        return runProgram(QStringLiteral("vellumcast-cli"),
                          TestServer::cliSignIn(tmp.filePath(QStringLiteral("cli.log"))) + extra);
    }

    // The subjects among the rows of a --rule all run, in order.
    static QStringList subjects(const QByteArray &out)
    {
        static const QRegularExpression subject(QStringLiteral("^[a-z]+-\\d+$"));
        QStringList found;
        for (const QByteArray &line : out.split('\n')) {
            const QString text = QString::fromUtf8(line).trimmed();
            if (subject.match(text).hasMatch())
                found << text;
        }
        return found;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test IMAP server is not running");
        TestServer::resetMailbox();
        TestServer::deliver("Inbox", message("inbox-1"));
        TestServer::deliver(kSpaces, message("spaces-1"));
        TestServer::deliver(kSpaces, message("spaces-2"));
        TestServer::deliver(kAccents, message("accents-1"));
        TestServer::deliver(kAmpersand, message("ampersand-1"));
        TestServer::deliver("Junk", message("junk-1"));
        TestServer::deliver("Deleted", message("trash-1"));
    }

    void severalFoldersInTurn()
    {
        const ProcessResult r = cli({"--folder", kAmpersand, "--folder", kSpaces, "--folder", kAccents});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(subjects(r.out), (QStringList{"ampersand-1", "spaces-1", "spaces-2", "accents-1"}));
        QVERIFY2(r.err.endsWith("Done.\n"), r.err.constData());
    }

    // A csv of records: one header row for all folders, each row naming its folder.
    void oneHeaderAndTheFolderColumn()
    {
        const ProcessResult r = cli(
            {"--folder", kAccents, "--folder", "Inbox", "--folder", kAmpersand, "--with-source", "--format", "csv"});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY2(r.out.startsWith("text,folder,"), r.out.constData());
        QCOMPARE(r.out.count("text,folder,"), 1);
        // Each folder's rows, in the order given: the subject row names the folder.
        const qsizetype accents = r.out.indexOf("\naccents-1," + kAccents.toUtf8() + ",");
        const qsizetype inbox = r.out.indexOf("\ninbox-1,Inbox,");
        const qsizetype ampersand = r.out.indexOf("\nampersand-1,R&D,");
        QVERIFY2(accents > 0 && inbox > accents && ampersand > inbox, r.out.constData());
    }

    void allFoldersLeaveTrashAndJunkOut_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("subjects");
        const QStringList all{"inbox-1", "spaces-1", "spaces-2", "accents-1", "ampersand-1"};
        QTest::newRow("all") << QStringList{"--all-folders"} << all;
        QTest::newRow("junk named") << QStringList{"--all-folders", "--folder", "Junk"} << all + QStringList{"junk-1"};
    }

    void allFoldersLeaveTrashAndJunkOut()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, subjects);
        const ProcessResult r = cli(args);
        QVERIFY2(r.code == 0, r.err.constData());
        QStringList got = CliFoldersTest::subjects(r.out);
        QStringList want = subjects;
        got.sort();
        want.sort();
        QCOMPARE(got, want);
    }

    void listFolders()
    {
        const ProcessResult r = cli({"--list-folders"});
        QVERIFY2(r.code == 0, r.err.constData());
        const QList<QByteArray> lines = r.out.split('\n');
        const auto has = [&](const QString &line) { return lines.contains(line.toUtf8()); };
        QVERIFY2(has(QStringLiteral("INBOX\t\t1")), r.out.constData());
        QVERIFY2(has(kSpaces + QStringLiteral("\t\t2")), r.out.constData());
        QVERIFY2(has(kAccents + QStringLiteral("\t\t1")), r.out.constData());
        QVERIFY2(has(kAmpersand + QStringLiteral("\t\t1")), r.out.constData());
        QVERIFY2(has(QStringLiteral("Sent\t\\Sent\t0")), r.out.constData());
        QVERIFY2(has(QStringLiteral("Deleted\t\\Trash\t1")), r.out.constData());
        QVERIFY(r.err.isEmpty());
    }

    // One missing folder of several: nothing is read, the status is 4.
    void missingFolderAmongSeveral()
    {
        const ProcessResult r = cli({"--folder", kSpaces, "--folder", "Project Note"});
        QCOMPARE(r.code, 4);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains("There is no folder Project Note on this server; it has Project Notes, "),
                 r.err.constData());
        QVERIFY2(!r.err.contains("Invalid login"), r.err.constData());
    }

    void usageErrors()
    {
        QCOMPARE(cli({"--list-folders", "--folder", "Sent"}).code, 2);
        QCOMPARE(cli({"--folder", ""}).code, 2);
    }
};

QTEST_MAIN(CliFoldersTest)
#include "test_cli_folders.moc"
