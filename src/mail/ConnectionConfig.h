#pragma once
#include "core/CommandLine.h"
#include "core/Product.h"
#include "mail/signin/SignInOptions.h"

#include <QList>
#include <QString>

namespace vc {

// Where the program connects, and how our IMAP client behaves. The product talks
// to one fixed provider; --server and --ca-file point it at another server
// (a self-hosted one, or the test server).
struct ConnectionConfig {
    QString host = product::kImapHost;
    int port = product::kImapPort;
    QString caFile;         // extra trusted CA certificates (PEM), added to the system's
    int timeoutMs = 60000;  // silence after which an operation fails
    SignInConfig signIn;    // how accounts sign in (--auth, --oauth-...)

    // Parses "HOST" or "HOST:PORT" (or "[v6addr]:PORT"); false on a bad port.
    bool setServer(const QString &hostPort);
};

// The command-line options that fill a ConnectionConfig (--server, --ca-file,
// --timeout, then the sign-in options of signInOptions()): one table that both
// programs put in front of their own options.
// A new connection option is one more row here.
QList<cmdline::Option> connectionOptions(ConnectionConfig &config);

}  // namespace vc
