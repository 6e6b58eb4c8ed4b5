#pragma once
#include "extract/StepFault.h"
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

// What the user is told about a failed step: failureMessage() for the
// component's fault (with the hint on the lines below it, after a blank line),
// or, for an OAuth 2.0 sign-in, what went wrong with the token. Lines are
// separated by a single CR.
QString failureText(const StepFault &failure);

struct WalkStats;
// What the user must know after a walk, each on a line of its own (CR): "N of
// M messages could not be read (see ERRORLOG)" when messages are missing, why
// the walk ended early, and that the folder changed under it. Empty after a
// walk that read every message of an unchanged folder.
QString shortfallText(const WalkStats &walk);

inline const QString kInvalidLoginMessage =
    QStringLiteral("Invalid login. Please double-check your username and password.");

}  // namespace vc
