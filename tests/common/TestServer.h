#pragma once
#include "mail/ConnectionConfig.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vc::test {

// The throw-away Dovecot that scripts/test-server.sh starts for the tests.
// Its state folder comes from VC_TEST_SERVER_DIR.
struct TestServer {
    static bool available();  // false: skip the test (QSKIP)
    static QString dir();
    static int port();
    static QString caFile();
    static ConnectionConfig config();  // 127.0.0.1:port with the CA file, short time-out
    static QString user() { return QStringLiteral("tester"); }
    static QString password();  // the tester's password
    // vellumcast-cli's arguments that sign the tester in to this server,
    // with the fetch log at `errorLog`.
    static QStringList cliSignIn(const QString &errorLog);
    // Empties every folder of the tester, then creates it afresh.
    static void resetMailbox();
    // Puts a raw RFC 5322 message into a folder ("Inbox", "Sent", ... or any
    // name) of the tester, or of another test account.
    static void deliver(const QString &folder, const QByteArray &message, const QString &account = QString());
    // Runs scripts/test-server.sh with the given arguments; returns its exit code.
    static int script(const QStringList &args, QByteArray *output = nullptr);
};

}  // namespace vc::test
