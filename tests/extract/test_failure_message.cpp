// The texts that name why the mail component failed.
#include "extract/FailureMessage.h"

#include <QSet>
#include <QTest>

using namespace vc;

class TestFailureMessage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachProblemHasItsOwnText()
    {
        const QString host = QStringLiteral("mail.example.org");
        const QString detail = QStringLiteral("socket detail");
        QSet<QString> seen;
        for (const ImapFailure kind :
             {ImapFailure::HostNotFound, ImapFailure::Refused, ImapFailure::Unreachable, ImapFailure::TlsRejected,
              ImapFailure::TimedOut, ImapFailure::ClosedByServer, ImapFailure::Network}) {
            const QString text = failureMessage(kind, host, 993, {}, detail);
            QVERIFY2(text.contains(host), qPrintable(text));
            QVERIFY2(text != kInvalidLoginMessage, failureName(kind));
            seen.insert(text);
        }
        QCOMPARE(seen.size(), 7);
        QVERIFY(failureMessage(ImapFailure::Refused, host, 1993, {}, detail).contains(QLatin1String("port 1993")));
        QVERIFY(failureMessage(ImapFailure::Unreachable, host, 993, {}, detail).contains(detail));
    }

    // A refused login, and whatever the component cannot tell apart, keep the
    // login text.
    void loginProblemsKeepTheLoginText()
    {
        for (const ImapFailure kind : {ImapFailure::Refusal, ImapFailure::None, ImapFailure::Protocol})
            QCOMPARE(failureMessage(kind, QStringLiteral("h"), 993, {}, QStringLiteral("NO denied")),
                     QStringLiteral("Invalid login. Please double-check your username and password."));
    }

    void certificateReasonsOnePerLine()
    {
        const QString text =
            failureMessage(ImapFailure::TlsRejected, QStringLiteral("127.0.0.1"), 4993,
                           {QStringLiteral("The certificate is self-signed, and untrusted"),
                            QStringLiteral("The host name did not match any of the valid hosts for this certificate")},
                           QString());
        QVERIFY(text.contains(QLatin1String("127.0.0.1:4993")));
        QVERIFY(text.contains(QLatin1String("\rThe certificate is self-signed, and untrusted\rThe host name did not")));
        // A handshake that failed without a certificate reason names the detail.
        QVERIFY(failureMessage(ImapFailure::TlsRejected, QStringLiteral("h"), 993, {}, QStringLiteral("no cipher"))
                    .contains(QLatin1String("no cipher")));
    }

    void serverNames_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("name");
        QTest::newRow("standard port") << "imap.example.org" << 993 << "imap.example.org";
        QTest::newRow("other port") << "127.0.0.1" << 40263 << "127.0.0.1:40263";
        QTest::newRow("IPv6") << "::1" << 1143 << "[::1]:1143";
    }
    void serverNames()
    {
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, name);
        QCOMPARE(serverName(host, port), name);
    }
};

QTEST_GUILESS_MAIN(TestFailureMessage)
#include "test_failure_message.moc"
