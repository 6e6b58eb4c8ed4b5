#pragma once
#include "mail/ImapFailure.h"

#include <QString>
#include <QStringList>

namespace vc {

// The text shown (message box, the command-line program's error output, error
// log) when the mail component fails: it names the problem for the failures a
// user can act on (a name that does not resolve, a refused or unreachable
// server, a certificate or TLS failure, a time-out, a dropped connection) and
// keeps "Invalid login. Please double-check your username and password." for
// a refused login and for everything else.
//
// `host` and `port` are the server asked; `certificateErrors` the reasons a
// certificate was refused; `detail` the component's last-error text. Lines are
// separated by a single CR, as in every message box text.
QString failureMessage(ImapFailure kind, const QString &host, int port, const QStringList &certificateErrors,
                       const QString &detail);

// The server as a status line names it: the host, with ":port" unless the port
// is the standard IMAP-over-TLS port 993.
QString serverName(const QString &host, int port);

inline const QString kInvalidLoginMessage =
    QStringLiteral("Invalid login. Please double-check your username and password.");

}  // namespace vc
