// The fetch log against what a server may send and what may lie in its place:
// a refusal whose text carries line breaks still leaves one record per fetch,
// a link in the log's place is not followed, and a new log is owner-only.
#include "FakeImapServer.h"
#include "ScriptedDialogs.h"
#include "TestFiles.h"
#include "core/AppError.h"
#include "extract/ErrorLog.h"
#include "extract/clsChilkatIMAP.h"
#include "mail/ImapClient.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace vc;
using vc::test::readFile;

namespace {

QByteArray message(int n)
{
    return "From: Ann <ann@example.org>\r\nSubject: message " + QByteArray::number(n)
           + "\r\nDate: Mon, 2 Mar 2015 10:00:00 +0000\r\n\r\nbody\r\n";
}

// Lines as any text viewer counts them: a CR, an LF or a CR LF ends one.
QStringList lines(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes).split(QRegularExpression(QStringLiteral("\r\n|\r|\n")), Qt::SkipEmptyParts);
}

}  // namespace

class TestFetchLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refusalTextsStayInTheirRecord_data()
    {
        QTest::addColumn<QByteArray>("refusal");  // the tagged answer to FETCH 2, after the tag
        QTest::newRow("bare CRs") << QByteArray(" NO [SERVERBUG] broken\r01/01/2024 10:00:00 : forged\r"
                                                + QByteArray(52, '*'));
        QTest::newRow("escape sequences") << QByteArray(" NO \x1b]0;owned\x07\x1b[2J gone");
        QTest::newRow("text in a literal") << QByteArray(" NO {27}\r\nline one\r\n" + QByteArray(15, '*') + "\r\n");
    }
    void refusalTextsStayInTheirRecord()
    {
        QFETCH(QByteArray, refusal);
        FakeImapServer server;
        for (int n = 1; n <= 3; ++n)
            server.messages << message(n);
        server.handlers["FETCH"] = [&](const QByteArray &tag, const QByteArray &args) {
            const int n = args.split(' ').value(0).toInt();
            if (n == 2)
                server.send(tag + refusal + "\r\n");
            else
                server.send(server.fetchResponse(n) + tag + " OK done\r\n");
        };
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("errorlog.txt"));
        vc::test::ScriptedDialogs boxes;
        ImapClient client;
        client.setReadAheadWindow(0);
        client.setTimeoutMs(2000);
        clsChilkatIMAP conn;
        conn.setChilkatIMAPObject(&client);
        conn.setSSL(false);
        conn.setPORT(server.port());
        conn.setIMAPServer(QStringLiteral("127.0.0.1"));
        conn.setUsername(QStringLiteral("u"));
        conn.setPassword(QStringLiteral("p"));
        conn.setErrorLogPath(log);
        struct Delivered : WalkObserver {
            QList<int> numbers;
            void delivered(const MailRecord &record) override { numbers << record.uID; }
        } delivered;
        conn.setCurrentLocation(1);
        conn.setMaxRecord(3);
        conn.StartMailExtraction(QStringLiteral("INBOX"), &delivered);
        QCOMPARE(delivered.numbers, (QList<int>{1, 3}));
        QCOMPARE(server.count("FETCH"), 3);

        const QByteArray bytes = readFile(log);
        // Three fetches, three records of two lines each, whatever the server said.
        const QStringList seen = lines(bytes);
        QCOMPARE(seen.size(), 6);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(seen[i] == QString(52, u'*'), i % 2 == 1);
        QVERIFY(!bytes.contains('\x1b'));
        QVERIFY2(seen[2].contains(QLatin1String(" : ")) && seen[2].contains(QLatin1String("\\x")), qPrintable(seen[2]));
    }

    // A link where the log should be could point at any file of the user's:
    // it is refused, and the file it points at stays as it was.
    void linkInItsPlaceIsRefused()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("precious"));
        {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("keep me\n");
        }
        const QString log = dir.filePath(QStringLiteral("errorlog.txt"));
        QVERIFY(QFile::link(target, log));
        try {
            errorlog::append(log, QStringLiteral("a record"));
            QFAIL("the record went through the link");
        } catch (const AppError &e) {
            QCOMPARE(e.number(), int(err::PathFileAccess));
        }
        QCOMPARE(readFile(target), QByteArray("keep me\n"));

        // The default log in the program folder is a link: the per-user one is used.
        const QString userFolder = dir.filePath(QStringLiteral("user"));
        QVERIFY(QFile::remove(log));
        QVERIFY(QFile::link(target, log));
        errorlog::overrideFolders(dir.path(), userFolder);
        QCOMPARE(errorlog::append(QString(), QStringLiteral("x")), userFolder + QStringLiteral("/errorlog.txt"));
        errorlog::overrideFolders({}, {});
        QCOMPARE(readFile(target), QByteArray("keep me\n"));
    }

    void newLogIsOwnerOnly()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("errorlog.txt"));
        const mode_t old = ::umask(022);
        errorlog::append(log, QStringLiteral("first"));
        ::umask(old);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(log).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
    }
};

QTEST_GUILESS_MAIN(TestFetchLog)
#include "test_fetch_log.moc"
