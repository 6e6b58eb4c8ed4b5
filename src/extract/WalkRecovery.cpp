// What the message walk does when a fetch fails: reconnect after a lost
// connection and resume, skip a message that broke the stream, and end with a
// reason instead of fetching on when nothing more can come.
#include "extract/clsChilkatIMAP.h"

#include "core/AppError.h"
#include "extract/ErrorLog.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace vc {

namespace {

// After this many fetches in a row that found no message, the walk asks the
// server again how many messages the folder holds.
constexpr int kDoubtfulRun = 20;

enum class FetchFault { LostLine, BrokenMessage, NoMessage, Closed, Other };

FetchFault classify(ImapFailure kind)
{
    switch (kind) {
    case ImapFailure::ClosedByServer:
    case ImapFailure::TimedOut:
    case ImapFailure::Network:
    case ImapFailure::Unreachable:
    case ImapFailure::Refused:
    case ImapFailure::NotConnected: return FetchFault::LostLine;
    case ImapFailure::TooLarge:
    case ImapFailure::Protocol: return FetchFault::BrokenMessage;
    case ImapFailure::NoMessage:
    case ImapFailure::Refusal: return FetchFault::NoMessage;
    case ImapFailure::Disconnected: return FetchFault::Closed;
    default: return FetchFault::Other;
    }
}

}  // namespace

clsChilkatIMAP::Resume clsChilkatIMAP::afterFailedFetch(const QString &FolderName, qint64 n)
{
    if (!ChilkatImap1)
        raise(err::ObjectNotSet);
    ImapComponent &imap = *ChilkatImap1;
    if (AbortProcess)
        return Resume::Next;
    const FetchFault fault = classify(imap.lastFailure());
    walk_.failedInRow = fault == FetchFault::NoMessage ? walk_.failedInRow + 1 : 0;
    switch (fault) {
    case FetchFault::LostLine:
        // The message itself may be fine: ask for it again on a new connection.
        return reconnectWalk(FolderName, imap.LastErrorText()) ? Resume::Again : Resume::End;
    case FetchFault::BrokenMessage:
        // This message broke the stream and would again; the walk goes on after it.
        return reconnectWalk(FolderName, imap.LastErrorText()) ? Resume::Next : Resume::End;
    case FetchFault::Closed:
        walk_.endReason = QStringLiteral("The connection was closed during the run.");
        return Resume::End;
    case FetchFault::NoMessage:
        if (walk_.failedInRow < kDoubtfulRun)
            return Resume::Next;
        break;
    case FetchFault::Other: return Resume::Next;
    }
    // Many messages in a row are missing: the count the walk relies on is doubtful.
    imap.SendRawCommand(QStringLiteral("NOOP"));  // brings the server's current count
    WriteErrorLog();
    const int now = imap.NumMessages();
    if (n > now)
        walk_.endReason = QStringLiteral("The folder holds only %1 messages now.").arg(now);
    else
        walk_.endReason = QStringLiteral("The server reported %1 messages in the folder, but sent none of messages "
                                         "%2 to %3.")
                              .arg(now)
                              .arg(n - walk_.failedInRow + 1)
                              .arg(n);
    walk_.folderChanged = walk_.folderChanged || n > now;
    return Resume::End;
}

bool clsChilkatIMAP::reconnectWalk(const QString &FolderName, const QString &why)
{
    QString lastError = why;
    while (walk_.reconnects < kMaxReconnects) {
        ++walk_.reconnects;
        if (!pauseBeforeReconnect(walk_.reconnects))
            return false;
        const bool ok = openSession(false) && selectFolder(FolderName) == 1;
        WriteErrorLog();  // every attempt leaves its record
        if (!ChilkatImap1)
            raise(err::ObjectNotSet);
        if (!ok) {
            lastError = ChilkatImap1->LastErrorText();
            continue;
        }
        // Another UIDVALIDITY, or fewer messages: the numbers no longer name
        // the messages they named when the walk began.
        const quint32 validity = ChilkatImap1->uidValidity();
        if ((walk_.uidValidity != 0 && validity != walk_.uidValidity) || ChilkatImap1->NumMessages() < walk_.count)
            walk_.folderChanged = true;
        return true;
    }
    if (walk_.endReason.isEmpty())
        walk_.endReason = QStringLiteral("The connection to the server was lost and could not be restored after %1 "
                                         "attempts (last: %2).")
                              .arg(kMaxReconnects)
                              .arg(lastError);
    return false;
}

bool clsChilkatIMAP::pauseBeforeReconnect(int attempt)
{
    const qint64 ms = qint64(reconnectPauseMs_) << (attempt - 1);
    if (ms > 0 && !AbortProcess) {
        QElapsedTimer since;
        since.start();
        QEventLoop loop;
        QTimer tick;
        tick.setInterval(50);
        connect(&tick, &QTimer::timeout, &loop, [&] {
            if (AbortProcess || since.elapsed() >= ms)
                loop.quit();
        });
        tick.start();
        loop.exec();
    }
    if (AbortProcess)
        walk_.endReason = QStringLiteral("The run was stopped while the connection was being restored.");
    return !AbortProcess;
}

QString shortfallText(const clsChilkatIMAP::WalkStats &walk)
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
