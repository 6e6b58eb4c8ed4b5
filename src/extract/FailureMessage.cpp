#include "extract/FailureMessage.h"

#include "extract/ErrorLog.h"
#include "extract/FolderWalk.h"
#include "mail/ImapFolders.h"

namespace vc {

QString serverName(const QString &host, int port)
{
    const QString shownHost = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return port == 993 ? shownHost : shownHost + QLatin1Char(':') + QString::number(port);
}

namespace {

// The kinds failureMessage() words as a connection that failed.
bool isConnectionFailure(ImapFailure kind)
{
    switch (kind) {
    case ImapFailure::HostNotFound:
    case ImapFailure::Refused:
    case ImapFailure::Unreachable:
    case ImapFailure::TlsRejected:
    case ImapFailure::TimedOut:
    case ImapFailure::ClosedByServer:
    case ImapFailure::Network:
    case ImapFailure::Local: return true;
    default: return false;
    }
}

}  // namespace

QString failureMessage(ImapFailure kind, const QString &host, int port, const QStringList &certificateErrors,
                       const QString &detail)
{
    const QString server = serverName(host, port);
    const QString because = detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + QLatin1Char(')');
    switch (kind) {
    case ImapFailure::HostNotFound:
        return QStringLiteral("The server name \"%1\" could not be found.\rPlease check the server name and your "
                              "network connection.")
            .arg(host);
    case ImapFailure::Refused:
        return QStringLiteral("%1 refused the connection on port %2.\rPlease check the server name and port; the "
                              "server may be down.")
            .arg(host)
            .arg(port);
    case ImapFailure::Unreachable:
        return QStringLiteral("%1 cannot be reached%2.\rPlease check your network connection.").arg(server, because);
    case ImapFailure::TlsRejected:
        if (!certificateErrors.isEmpty())
            return QStringLiteral("The certificate of %1 was not accepted:\r%2\rThe connection was not made.")
                .arg(server, certificateErrors.join(QLatin1Char('\r')));
        return QStringLiteral("The secure connection (TLS) to %1 failed%2.").arg(server, because);
    case ImapFailure::TimedOut:
        return QStringLiteral("%1 stopped answering%2.\rPlease try again later.").arg(server, because);
    case ImapFailure::ClosedByServer: return QStringLiteral("%1 closed the connection%2.").arg(server, because);
    case ImapFailure::Network:
    case ImapFailure::Local: return QStringLiteral("The connection to %1 failed%2.").arg(server, because);
    default: return kInvalidLoginMessage;
    }
}

QString failureText(const StepFault &failure)
{
    const ImapFault &f = failure.fault;
    if (failure.stage == RunStage::SignIn) {
        if (!failure.tokenRefused)
            return QStringLiteral("Sign-in failed: ") + f.reason;
        if (!failure.renewal.isEmpty())
            return QStringLiteral("The mail server refused the sign-in: %1\r\rRenewing it failed too: %2")
                .arg(f.reason, failure.renewal);
        return QStringLiteral("The mail server refused the sign-in: ") + f.reason;
    }
    if (f.kind == ImapFailure::NotKept)
        return f.reason;  // worded for the user where the local copy fell short
    if (failure.stage == RunStage::Select && !failure.missingFolder.isEmpty())
        return noSuchFolderText(failure.missingFolder, failure.existingFolders);
    if (failure.stage == RunStage::Search && !isConnectionFailure(f.kind)) {
        QString why = f.reason;
        if (!f.serverText.isEmpty() && !why.contains(f.serverText))
            why += QStringLiteral(" (") + f.serverText + QLatin1Char(')');
        if (f.kind == ImapFailure::Refusal)
            return QStringLiteral("The server refused the search for the folder's messages; none were read.\r") + why;
        return QStringLiteral("The search for the folder's messages failed; none were read.\r") + why;
    }
    QString text = failureMessage(f.kind, failure.host, failure.port, failure.certificateErrors, f.reason);
    if (!failure.hint.isEmpty())
        text += QStringLiteral("\r\r") + failure.hint;
    return text;
}

QString shortfallText(const WalkStats &walk)
{
    QStringList lines;
    if (walk.unread() > 0)
        lines << QStringLiteral("%1 of %2 messages could not be read (see %3)")
                     .arg(walk.unread())
                     .arg(walk.asked)
                     .arg(walk.logPath.isEmpty() ? errorlog::programFolderPath() : walk.logPath);
    if (!walk.endReason.isEmpty())
        lines << walk.endReason;
    if (walk.folderChanged)
        lines << QStringLiteral("The folder changed while it was being read.");
    return lines.join(QLatin1Char('\r'));
}

}  // namespace vc
