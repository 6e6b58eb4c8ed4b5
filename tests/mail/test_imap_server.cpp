// The IMAP client and the connection object against the real test server (TLS).
#include "ScriptedDialogs.h"
#include "TestServer.h"
#include "extract/FailureMessage.h"
#include "extract/clsChilkatIMAP.h"
#include "mail/ImapClient.h"
#include "mail/ImapConnection.h"

#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSslCertificate>
#include <QSslError>
#include <QTcpServer>
#include <QtTest>

using vc::clsChilkatIMAP;
using vc::failureName;
using vc::ImapClient;
using vc::ImapConnection;
using vc::test::TestServer;

namespace {

const QString kInvalidLogin = QStringLiteral("Invalid login. Please double-check your username and password.");

QString readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void setUp(clsChilkatIMAP &conn, ImapClient &client, const QString &user, const QString &password)
{
    client.configure(TestServer::config());
    conn.setChilkatIMAPObject(&client);
    conn.setSSL(true);
    conn.setPORT(TestServer::port());
    conn.setIMAPServer(TestServer::config().host);
    conn.setUsername(user);
    conn.setPassword(password);
}

int loginsLogged(const QString &user)
{
    return int(readFile(TestServer::dir() + QStringLiteral("/dovecot.log"))
                   .count(QStringLiteral("Login: user=<%1>").arg(user)));
}

}  // namespace

class TestImapServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void connectLogsInAndListsFolders();
    void wrongPasswordOrClosedPort();
    void connectTwiceRunsEverythingTwice();
    void passwordWithQuoteBackslashAndAccent();
    void fetchLeavesMessageUnseen();
    void readAheadWalkMatchesOneByOne();
    void untrustedCertificateIsRefused();
    void caFileAndSystemCas_data();
    void caFileAndSystemCas();
};

void TestImapServer::initTestCase()
{
    if (!TestServer::available())
        QSKIP("the test IMAP server is not running");
}

void TestImapServer::connectLogsInAndListsFolders()
{
    vc::test::ScriptedDialogs dialogs;
    ImapClient client;
    clsChilkatIMAP conn;
    setUp(conn, client, TestServer::user(), TestServer::password());
    QVERIFY2(conn.Connect(), qPrintable(client.LastErrorText()));
    QVERIFY(dialogs.boxes.isEmpty());
    QCOMPARE(client.LastErrorText(), QStringLiteral("LOGIN: OK"));
    const vc::StepResult<QStringList> folders = conn.EnumMailFolders();
    QVERIFY(folders);
    for (const char *name : {"INBOX", "Drafts", "Sent", "Junk", "Deleted"})
        QVERIFY2(folders->contains(QLatin1String(name)), qPrintable(folders->join(QLatin1Char(','))));
    const auto list = client.ListMailboxes(QString(), QStringLiteral("*"));
    QVERIFY(list);
    for (int i = 0; i < list->Count(); ++i) {
        if (list->GetName(i) == QLatin1String("Sent"))
            QVERIFY(list->HasFlag(i, QStringLiteral("\\Sent")));
    }
    QVERIFY(client.SelectMailbox(QStringLiteral("Inbox")));
    QVERIFY(client.Disconnect());
    QVERIFY(!client.isConnected());
}

// A wrong password and a closed port end the connect with a failure that says
// which, and show nothing.
void TestImapServer::wrongPasswordOrClosedPort()
{
    vc::test::ScriptedDialogs dialogs;
    ImapClient client;
    clsChilkatIMAP conn;
    const QString wrong = QStringLiteral("not-the-password");
    setUp(conn, client, TestServer::user(), wrong);
    const vc::StepResult<void> refused = conn.Connect();
    QVERIFY(!refused);
    QCOMPARE(refused.fault().stage, vc::RunStage::Login);
    QCOMPARE(vc::failureText(refused.fault()), kInvalidLogin);
    QVERIFY2(refused.fault().fault.reason.startsWith(QStringLiteral("LOGIN failed: NO")),
             qPrintable(refused.fault().fault.reason));
    QVERIFY(!refused.fault().fault.reason.contains(wrong));
    QVERIFY2(refused.fault().fault.serverText.contains(QStringLiteral("AUTHENTICATIONFAILED")),
             qPrintable(refused.fault().fault.serverText));
    QCOMPARE(failureName(refused.fault().fault.kind), "Refusal");

    quint16 closedPort = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        closedPort = probe.serverPort();
    }
    conn.setPORT(closedPort);
    conn.setPassword(TestServer::password());
    const vc::StepResult<void> closed = conn.Connect();
    QVERIFY(!closed);
    QCOMPARE(closed.fault().stage, vc::RunStage::Connect);
    QCOMPARE(vc::failureText(closed.fault()), QStringLiteral("127.0.0.1 refused the connection on port %1.\rPlease "
                                                             "check the server name and port; the server may be down.")
                                                  .arg(closedPort));
    QVERIFY(dialogs.boxes.isEmpty());
}

void TestImapServer::connectTwiceRunsEverythingTwice()
{
    vc::test::ScriptedDialogs dialogs;
    ImapClient client;
    clsChilkatIMAP conn;
    setUp(conn, client, TestServer::user(), TestServer::password());
    const int before = loginsLogged(TestServer::user());
    QVERIFY(conn.Connect());
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QVERIFY(conn.Connect());
    QVERIFY(client.selectedMailbox().isEmpty());  // a new session, nothing selected yet
    QVERIFY(client.SelectMailbox(QStringLiteral("INBOX")));
    QVERIFY(dialogs.boxes.isEmpty());
    if (before >= 0 && QFile::exists(TestServer::dir() + QStringLiteral("/dovecot.log"))) {
        QTRY_COMPARE(loginsLogged(TestServer::user()), before + 2);
    }
}

void TestImapServer::passwordWithQuoteBackslashAndAccent()
{
    const QString password = readFile(TestServer::dir() + QStringLiteral("/password2"));
    QVERIFY(password.contains(QLatin1Char('"')) && password.contains(QLatin1Char('\\')));
    QVERIFY(password.contains(QChar(0xe9)));
    vc::test::ScriptedDialogs dialogs;
    ImapClient client;
    clsChilkatIMAP conn;
    setUp(conn, client, QStringLiteral("quoter"), password);
    QVERIFY2(conn.Connect(), qPrintable(client.LastErrorText()));
    QVERIFY(dialogs.boxes.isEmpty());
}

void TestImapServer::fetchLeavesMessageUnseen()
{
    TestServer::resetMailbox();
    QByteArray body;
    for (int i = 0; i < 6000; ++i)
        body += "Line " + QByteArray::number(i) + " of a long message.\r\n";
    TestServer::deliver(QStringLiteral("Inbox"),
                        "From: Bea <bea@example.org>\r\nTo: tester@example.org\r\nSubject: unseen check\r\n"
                        "Date: Tue, 3 Mar 2015 09:30:00 +0000\r\nMessage-ID: <u1@example.org>\r\n\r\n"
                            + body);
    vc::test::ScriptedDialogs dialogs;
    ImapClient client;
    clsChilkatIMAP conn;
    setUp(conn, client, TestServer::user(), TestServer::password());
    QSignalSpy progress(&client, &ImapClient::PercentDone);
    QVERIFY(conn.Connect());
    QVERIFY(client.SelectMailbox(QStringLiteral("Inbox")));
    QCOMPARE(client.NumMessages(), 1);
    const auto m = client.FetchSingle(1, false);
    QVERIFY2(m, qPrintable(client.LastErrorText()));
    QCOMPARE(m->Subject, QStringLiteral("unseen check"));
    QVERIFY(m->PlainTextBody.contains(QStringLiteral("Line 5999 of a long message.")));
    QVERIFY(progress.count() >= 1);
    QCOMPARE(progress.last().at(0).toInt(), 100);

    QString flags = client.SendRawCommand(QStringLiteral("FETCH 1 (FLAGS UID)")).value();
    QVERIFY(flags.contains(QStringLiteral("FLAGS (")));
    QVERIFY2(!flags.contains(QStringLiteral("\\Seen")), qPrintable(flags));

    const QRegularExpressionMatch uid = QRegularExpression(QStringLiteral("UID (\\d+)")).match(flags);
    QVERIFY(uid.hasMatch());
    const auto byUid = client.FetchSingle(uid.captured(1).toInt(), true);
    QVERIFY2(byUid, qPrintable(client.LastErrorText()));
    QCOMPARE(byUid->Subject, QStringLiteral("unseen check"));
    QVERIFY(!client.FetchSingle(uid.captured(1).toInt() + 100, true));

    flags = client.SendRawCommand(QStringLiteral("FETCH 1 (FLAGS)")).value();
    QVERIFY2(!flags.contains(QStringLiteral("\\Seen")), qPrintable(flags));
    QVERIFY(!client.FetchSingle(2, false));
}

void TestImapServer::readAheadWalkMatchesOneByOne()
{
    const int count = 200;
    TestServer::resetMailbox();
    QByteArray out;
    QCOMPARE(TestServer::script({QStringLiteral("fill"), QStringLiteral("Inbox"), QString::number(count)}, &out), 0);

    // Every decoded field of every message, walked in ascending order.
    const auto walk = [&](int window, qint64 budget, int *mostHeld) {
        QStringList fields;
        ImapClient client;
        client.configure(TestServer::config());
        client.setReadAheadWindow(window);
        client.setReadAheadBudget(budget);
        client.setSsl(true);
        client.setPort(TestServer::port());
        if (!client.Connect(TestServer::config().host) || !client.Login(TestServer::user(), TestServer::password())
            || !client.SelectMailbox(QStringLiteral("Inbox")) || client.NumMessages() != count) {
            fields << client.LastErrorText();
            return fields;
        }
        for (int n = 1; n <= count; ++n) {
            const auto m = client.FetchSingle(n, false);
            if (!m || client.LastErrorText() != QStringLiteral("FETCH %1: OK").arg(n)) {
                fields << client.LastErrorText();
                continue;
            }
            fields << QString::number(n) << m->From << m->FromName << m->FromAddress << m->Subject
                   << m->date.toString(Qt::ISODate) << m->PlainTextBody << m->HTMLTextBody;
            *mostHeld = qMax(*mostHeld, client.readAheadMessages());
        }
        client.Disconnect();
        return fields;
    };
    int heldByReference = 0;
    int held = 0;
    int heldOnBudget = 0;
    const QStringList reference = walk(0, 1, &heldByReference);
    QCOMPARE(reference.size(), count * 8);
    QCOMPARE(reference.value(8 * 199 + 4), QStringLiteral("Generated message 200"));
    QCOMPARE(heldByReference, 0);
    const QStringList ahead = walk(32, qint64(32) << 20, &held);
    QCOMPARE(ahead.size(), reference.size());
    for (int i = 0; i < reference.size(); ++i)
        QVERIFY2(ahead[i] == reference[i],
                 qPrintable(QStringLiteral("field %1 of message %2").arg(i % 8).arg(i / 8 + 1)));
    QVERIFY(held > 1);
    // A budget below one of the big (~200 KiB) messages: still the same answers.
    const QStringList tight = walk(8, 100 * 1024, &heldOnBudget);
    QCOMPARE(tight, reference);

    // Nothing was marked as read.
    ImapClient client;
    clsChilkatIMAP conn;
    setUp(conn, client, TestServer::user(), TestServer::password());
    QVERIFY(conn.Connect());
    QVERIFY(client.SelectMailbox(QStringLiteral("Inbox")));
    const QString flags = client.SendRawCommand(QStringLiteral("FETCH 1:* (FLAGS)")).value();
    QCOMPARE(int(flags.count(QStringLiteral(" FETCH (FLAGS ("))), count);
    QVERIFY2(!flags.contains(QStringLiteral("\\Seen")), qPrintable(flags.left(400)));
}

void TestImapServer::untrustedCertificateIsRefused()
{
    ImapClient client;
    client.setTimeoutMs(10000);  // no CA file: only the system's CAs
    client.setSsl(true);
    client.setPort(TestServer::port());
    QVERIFY(!client.Connect(QStringLiteral("127.0.0.1")));
    const QString err = client.LastErrorText();
    QVERIFY2(err.contains(QStringLiteral("certificate was not accepted: ")), qPrintable(err));
    QVERIFY(err.size() > QStringLiteral("certificate was not accepted: ").size() + 30);
    QVERIFY(!client.isConnected());
    QCOMPARE(failureName(client.lastFailure()), "TlsRejected");
    // The reasons one by one, as the error text joins them.
    const QStringList reasons = client.certificateErrors();
    QVERIFY(!reasons.isEmpty());
    QVERIFY2(err.endsWith(QStringLiteral("certificate was not accepted: ") + reasons.join(QStringLiteral("; "))),
             qPrintable(err));

    client.setCaFile(TestServer::dir() + QStringLiteral("/no-such-ca.pem"));
    QVERIFY(!client.Connect(QStringLiteral("127.0.0.1")));
    QVERIFY(client.LastErrorText().contains(QStringLiteral("no-such-ca.pem")));
    QCOMPARE(failureName(client.lastFailure()), "Local");

    // With the CA the same client gets in.
    client.setCaFile(TestServer::caFile());
    QVERIFY(client.Connect(QStringLiteral("127.0.0.1")));
    QCOMPARE(failureName(client.lastFailure()), "None");
    QVERIFY(client.certificateErrors().isEmpty());
}

// Whom a handshake with a CA file trusts: the file, and the system's CAs too
// (here the test CA stands in for them, or the real ones are used). The file
// alone is tried first; a refusal by the file alone must not be the answer.
void TestImapServer::caFileAndSystemCas_data()
{
    QTest::addColumn<QString>("caFile");    // in the test server's folder
    QTest::addColumn<bool>("systemHasCa");  // the test CA stands in for the system's CAs
    QTest::addColumn<bool>("otherName");    // connect to the address whose certificate names another host
    QTest::addColumn<bool>("accepted");

    QTest::newRow("the CA file vouches") << "ca.pem" << false << false << true;
    QTest::newRow("the system's CAs vouch, the CA file does not") << "other-name.pem" << true << false << true;
    QTest::newRow("neither vouches") << "other-name.pem" << false << false << false;
    QTest::newRow("the CA file vouches for another name") << "ca.pem" << false << true << false;
    QTest::newRow("the system's CAs vouch for another name") << "other-name.pem" << true << true << false;
}

void TestImapServer::caFileAndSystemCas()
{
    QFETCH(QString, caFile);
    QFETCH(bool, systemHasCa);
    QFETCH(bool, otherName);
    QFETCH(bool, accepted);
    const QString host = otherName ? readFile(TestServer::dir() + QStringLiteral("/other-name-host")).trimmed()
                                   : TestServer::config().host;
    QVERIFY(!host.isEmpty());
    ImapConnection::overrideSystemCaCertificates(systemHasCa ? QSslCertificate::fromPath(TestServer::caFile())
                                                             : QList<QSslCertificate>());
    const auto restore = qScopeGuard([] { ImapConnection::overrideSystemCaCertificates({}); });

    ImapClient client;
    client.setTimeoutMs(10000);
    client.setSsl(true);
    client.setPort(TestServer::port());
    client.setCaFile(TestServer::dir() + u'/' + caFile);
    QCOMPARE(bool(client.Connect(host)), accepted);
    if (accepted) {
        QVERIFY(client.certificateErrors().isEmpty());
        QVERIFY(client.Login(TestServer::user(), TestServer::password()));
        return;
    }
    QCOMPARE(failureName(client.lastFailure()), "TlsRejected");
    const QStringList reasons = client.certificateErrors();
    const QString mismatch = QSslError(QSslError::HostNameMismatch).errorString();
    // The name is refused whoever vouches; an unknown issuer only when nobody does.
    QCOMPARE(reasons.contains(mismatch), otherName);
    QCOMPARE(reasons.size() > (otherName ? 1 : 0), !systemHasCa && caFile != QStringLiteral("ca.pem"));
}

QTEST_GUILESS_MAIN(TestImapServer)
#include "test_imap_server.moc"
