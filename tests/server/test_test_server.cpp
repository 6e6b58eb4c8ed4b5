// Checks the throw-away IMAP server that scripts/test-server.sh runs for the
// tests: its state files, TLS with the generated CA only, the accounts, the
// folder sets and the deliver/reset/fill/load commands. Talks raw IMAP so that
// it does not depend on the program's own client.
#include "TestServer.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using vc::test::TestServer;

namespace {

QString readState(const QString &name)
{
    QFile f(TestServer::dir() + QLatin1Char('/') + name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

QByteArray quoted(const QString &s)
{
    QByteArray out = "\"";
    for (const char c : s.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// Runs the script with stdin; returns its exit code.
int runScript(const QStringList &args, const QByteArray &input = {}, QByteArray *output = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QStringList all{qEnvironmentVariable("VC_SOURCE_DIR") + QStringLiteral("/scripts/test-server.sh"), args.first(),
                    TestServer::dir()};
    all << args.mid(1);
    p.start(QStringLiteral("bash"), all);
    if (!p.waitForStarted())
        return -1;
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    const QByteArray out = p.readAll();
    if (output)
        *output = out;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qWarning("test-server.sh %s: %s", qPrintable(args.join(QLatin1Char(' '))), out.constData());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A minimal synchronous IMAP session over TLS.
class Session {
public:
    bool open(const QString &host = QStringLiteral("127.0.0.1"))
    {
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setCaCertificates(QSslCertificate::fromPath(TestServer::caFile()));  // only the test CA
        conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
        socket_.setSslConfiguration(conf);
        socket_.connectToHostEncrypted(host, quint16(TestServer::port()));
        if (!socket_.waitForEncrypted(10000))
            return false;
        greeting_ = readUntil([](const QByteArray &b) { return b.contains("\r\n"); });
        return greeting_.startsWith("* OK");
    }
    QByteArray greeting() const { return greeting_; }
    QList<QSslError> sslErrors() const { return socket_.sslHandshakeErrors(); }

    // Sends one command; returns every line of the answer up to and including the tagged one.
    QByteArray command(const QByteArray &cmd)
    {
        const QByteArray tag = "t" + QByteArray::number(++tag_);
        socket_.write(tag + ' ' + cmd + "\r\n");
        const QByteArray end = "\r\n" + tag + ' ';
        QByteArray answer = readUntil([&](const QByteArray &b) {
            const qsizetype at = b.startsWith(tag + ' ') ? 0 : b.indexOf(end);
            return at >= 0 && b.indexOf("\r\n", at + (at == 0 ? 0 : 2)) >= 0;
        });
        return answer;
    }
    static QByteArray status(const QByteArray &answer)
    {
        const QList<QByteArray> lines = answer.trimmed().split('\n');
        const QList<QByteArray> last = lines.last().trimmed().split(' ');
        return last.size() > 1 ? last.at(1) : QByteArray();
    }
    bool login(const QString &user, const QString &password)
    {
        return status(command("LOGIN " + quoted(user) + ' ' + quoted(password))) == "OK";
    }
    int exists(const QString &mailbox)
    {
        const QByteArray answer = command("EXAMINE " + quoted(mailbox));
        const QRegularExpression re(QStringLiteral("\\* (\\d+) EXISTS"));
        const auto m = re.match(QString::fromUtf8(answer));
        return status(answer) == "OK" && m.hasMatch() ? m.captured(1).toInt() : -1;
    }

private:
    template <typename Done>
    QByteArray readUntil(Done done)
    {
        QByteArray buffer;
        while (!done(buffer)) {
            if (!socket_.waitForReadyRead(15000))
                break;
            buffer += socket_.readAll();
        }
        return buffer;
    }
    QSslSocket socket_;
    QByteArray greeting_;
    int tag_ = 0;
};

// name -> attributes, from a LIST answer.
QMap<QString, QString> listMailboxes(Session &s)
{
    QMap<QString, QString> boxes;
    const QRegularExpression re(QStringLiteral("^\\* LIST \\(([^)]*)\\) \"[^\"]*\" (\"[^\"]*\"|\\S+)\\r?$"),
                                QRegularExpression::MultilineOption);
    auto it = re.globalMatch(QString::fromUtf8(s.command("LIST \"\" \"*\"")));
    while (it.hasNext()) {
        const auto m = it.next();
        QString name = m.captured(2);
        if (name.startsWith(QLatin1Char('"')))
            name = name.mid(1, name.size() - 2);
        boxes.insert(name, m.captured(1));
    }
    return boxes;
}

const QString kQuoter = QStringLiteral("quoter");

}  // namespace

class TestTestServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!TestServer::available())
            QSKIP("the test server is not running");
    }

    void stateFiles()
    {
        QVERIFY(TestServer::port() > 1024 && TestServer::port() < 65536);
        QVERIFY(!QSslCertificate::fromPath(TestServer::caFile()).isEmpty());
        QVERIFY(!TestServer::password().isEmpty());
        const QString quoterPassword = readState(QStringLiteral("password2"));
        QVERIFY(quoterPassword.contains(QLatin1Char('"')));
        QVERIFY(quoterPassword.contains(QLatin1Char('\\')));
        QVERIFY(quoterPassword.contains(QStringLiteral("é")));
        QVERIFY(!readState(QStringLiteral("password3")).isEmpty());
    }

    void tlsWithTheGeneratedCaOnly()
    {
        Session s;
        QVERIFY2(s.open(), s.greeting().constData());
        QVERIFY(s.sslErrors().isEmpty());
        QVERIFY(s.greeting().contains("IMAP4rev1"));

        // Without the CA the certificate must not be trusted.
        QSslSocket untrusted;
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setCaCertificates({});
        untrusted.setSslConfiguration(conf);
        untrusted.connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(TestServer::port()));
        QVERIFY(!untrusted.waitForEncrypted(10000));
    }

    // At the other-name address the certificate is sound and from the test CA,
    // but made out to another name: the name check alone refuses it.
    void certificateForAnotherName()
    {
        const QString host = readState(QStringLiteral("other-name-host")).trimmed();
        QCOMPARE(host, QStringLiteral("127.0.0.2"));
        Session s;
        QVERIFY(!s.open(host));
        QList<QSslError::SslError> kinds;
        for (const QSslError &e : s.sslErrors())
            kinds << e.error();
        QCOMPARE(kinds, QList<QSslError::SslError>{QSslError::HostNameMismatch});
        QCOMPARE(s.sslErrors().first().certificate().subjectInfo(QSslCertificate::CommonName),
                 QStringList{QStringLiteral("imap.other-name.test")});
    }

    void noPlaintextGreeting()
    {
        QTcpSocket plain;
        plain.connectToHost(QStringLiteral("127.0.0.1"), quint16(TestServer::port()));
        QVERIFY(plain.waitForConnected(5000));
        plain.waitForReadyRead(1500);
        QVERIFY(!plain.readAll().startsWith("* OK"));
    }

    void accounts()
    {
        Session tester;
        QVERIFY(tester.open());
        QVERIFY(!tester.login(TestServer::user(), TestServer::password() + QLatin1Char('x')));
        QVERIFY(tester.login(TestServer::user(), TestServer::password()));

        Session quoter;
        QVERIFY(quoter.open());
        QVERIFY(quoter.login(kQuoter, readState(QStringLiteral("password2"))));

        Session special;
        QVERIFY(special.open());
        QVERIFY(special.login(QStringLiteral("special"), readState(QStringLiteral("password3"))));
    }

    void folderSets()
    {
        Session tester;
        QVERIFY(tester.open());
        QVERIFY(tester.login(TestServer::user(), TestServer::password()));
        const auto standard = listMailboxes(tester);
        for (const char *name : {"INBOX", "Drafts", "Sent", "Junk", "Deleted"})
            QVERIFY2(standard.contains(QLatin1String(name)), name);

        Session special;
        QVERIFY(special.open());
        QVERIFY(special.login(QStringLiteral("special"), readState(QStringLiteral("password3"))));
        const auto boxes = listMailboxes(special);
        QVERIFY(boxes.contains(QStringLiteral("INBOX")));
        QVERIFY(boxes.value(QStringLiteral("Drafts")).contains(QLatin1String("\\Drafts")));
        QVERIFY(boxes.value(QStringLiteral("Sent Items")).contains(QLatin1String("\\Sent")));
        QVERIFY(boxes.value(QStringLiteral("Junk Email")).contains(QLatin1String("\\Junk")));
        QVERIFY(boxes.value(QStringLiteral("Deleted Items")).contains(QLatin1String("\\Trash")));
        for (const char *absent : {"Sent", "Junk", "Deleted"})
            QVERIFY2(!boxes.contains(QLatin1String(absent)), absent);
    }

    void deliverAndReset()
    {
        QCOMPARE(runScript({QStringLiteral("reset"), kQuoter}), 0);
        const QByteArray message = "From: Deliverer <d@example.org>\r\nSubject: Delivered once\r\n"
                                   "Date: Mon, 9 Jun 2025 09:00:00 +0200\r\n\r\nHello\r\n";
        QCOMPARE(runScript({QStringLiteral("deliver"), QStringLiteral("Inbox"), kQuoter}, message), 0);
        QCOMPARE(runScript({QStringLiteral("deliver"), QStringLiteral("Sent"), kQuoter}, message), 0);
        QCOMPARE(runScript({QStringLiteral("deliver"), QStringLiteral("Sent"), kQuoter}, message), 0);
        QCOMPARE(runScript({QStringLiteral("deliver"), QStringLiteral("Extra Box"), kQuoter}, message), 0);

        {
            Session s;
            QVERIFY(s.open());
            QVERIFY(s.login(kQuoter, readState(QStringLiteral("password2"))));
            QCOMPARE(s.exists(QStringLiteral("INBOX")), 1);
            const QByteArray fetched = s.command("FETCH 1 (FLAGS BODY.PEEK[])");
            QVERIFY2(fetched.contains("Subject: Delivered once\r\n"), fetched.constData());
            QVERIFY2(!fetched.contains("\\Seen"), fetched.constData());
            QCOMPARE(s.exists(QStringLiteral("Sent")), 2);
            QCOMPARE(s.exists(QStringLiteral("Extra Box")), 1);
        }

        QCOMPARE(runScript({QStringLiteral("reset"), kQuoter}), 0);
        Session s;
        QVERIFY(s.open());
        QVERIFY(s.login(kQuoter, readState(QStringLiteral("password2"))));
        const auto boxes = listMailboxes(s);
        QVERIFY(!boxes.contains(QStringLiteral("Extra Box")));
        for (const char *name : {"INBOX", "Drafts", "Sent", "Junk", "Deleted"}) {
            QVERIFY2(boxes.contains(QLatin1String(name)), name);
            QCOMPARE(s.exists(QLatin1String(name)), 0);
        }
    }

    // kick drops a user's connections; restart brings the server back on the
    // same port, with the same CA and the same mail.
    void kickAndRestart()
    {
        QCOMPARE(runScript({QStringLiteral("reset"), kQuoter}), 0);
        QCOMPARE(runScript({QStringLiteral("deliver"), QStringLiteral("Inbox"), kQuoter}, "Subject: kept\r\n\r\nx\r\n"),
                 0);
        Session kicked;
        QVERIFY(kicked.open());
        QVERIFY(kicked.login(kQuoter, readState(QStringLiteral("password2"))));
        QByteArray out;
        QCOMPARE(runScript({QStringLiteral("kick"), kQuoter}, {}, &out), 0);
        QVERIFY2(out.contains("killed 1 "), out.constData());
        QVERIFY(Session::status(kicked.command("NOOP")) != "OK");

        const int port = TestServer::port();
        QCOMPARE(runScript({QStringLiteral("restart")}, {}, &out), 0);
        QCOMPARE(TestServer::port(), port);
        Session s;
        QVERIFY(s.open());
        QVERIFY(s.login(kQuoter, readState(QStringLiteral("password2"))));
        QCOMPARE(s.exists(QStringLiteral("INBOX")), 1);
        QCOMPARE(runScript({QStringLiteral("reset"), kQuoter}), 0);
    }

    void fillMakesVariedMessages()
    {
        QCOMPARE(runScript({QStringLiteral("reset"), kQuoter}), 0);
        QCOMPARE(runScript({QStringLiteral("fill"), QStringLiteral("Junk"), QStringLiteral("60"), kQuoter}), 0);
        Session s;
        QVERIFY(s.open());
        QVERIFY(s.login(kQuoter, readState(QStringLiteral("password2"))));
        QCOMPARE(s.exists(QStringLiteral("Junk")), 60);
        const QString answer = QString::fromUtf8(s.command("FETCH 1:* (RFC822.SIZE FLAGS BODYSTRUCTURE)"));
        const QRegularExpression sizeRe(QStringLiteral("RFC822\\.SIZE (\\d+)"));
        int big = 0;
        int small = 0;
        auto it = sizeRe.globalMatch(answer);
        while (it.hasNext()) {
            const int size = it.next().captured(1).toInt();
            if (size > 150 * 1024)
                ++big;
            else if (size > 1024)
                ++small;
        }
        QCOMPARE(big, 1);
        QCOMPARE(small, 59);
        QVERIFY(!answer.contains(QLatin1String("\\Seen")));
        QVERIFY(answer.contains(QLatin1String("\"alternative\""), Qt::CaseInsensitive));
        QVERIFY(answer.contains(QLatin1String("\"base64\""), Qt::CaseInsensitive));
        QVERIFY(answer.contains(QLatin1String("\"quoted-printable\""), Qt::CaseInsensitive));
        QCOMPARE(runScript({QStringLiteral("reset"), kQuoter}), 0);
    }

    // load: the files of a folder become messages in the order of their names
    // (not of their creation), unseen; the demo account signs in.
    void loadKeepsNameOrder()
    {
        QTemporaryDir source;
        QVERIFY(source.isValid());
        for (int n = 12; n >= 1; --n) {
            QFile f(source.filePath(QStringLiteral("m%1.eml").arg(n, 2, 10, QLatin1Char('0'))));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("From: Loader <l@example.org>\r\nSubject: Loaded " + QByteArray::number(n)
                    + "\r\nDate: Mon, 9 Jun 2025 09:00:00 +0200\r\n\r\nBody\r\n");
        }
        QCOMPARE(runScript({QStringLiteral("reset"), QStringLiteral("demo")}), 0);
        QCOMPARE(runScript({QStringLiteral("load"), QStringLiteral("Sent"), source.path(), QStringLiteral("demo")}), 0);
        Session s;
        QVERIFY(s.open());
        QVERIFY(s.login(QStringLiteral("demo"), readState(QStringLiteral("password-demo"))));
        QCOMPARE(s.exists(QStringLiteral("Sent")), 12);
        const QString answer = QString::fromUtf8(s.command("FETCH 1:* (FLAGS BODY.PEEK[HEADER.FIELDS (SUBJECT)])"));
        const QRegularExpression subjectRe(QStringLiteral("Subject: Loaded (\\d+)"));
        QList<int> order;
        auto it = subjectRe.globalMatch(answer);
        while (it.hasNext())
            order << it.next().captured(1).toInt();
        QCOMPARE(order, QList<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
        QVERIFY(!answer.contains(QLatin1String("\\Seen")));
        QCOMPARE(runScript({QStringLiteral("reset"), QStringLiteral("demo")}), 0);
    }
};

QTEST_GUILESS_MAIN(TestTestServer)
#include "test_test_server.moc"
