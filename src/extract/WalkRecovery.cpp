// What the folder walk does when a fetch fails: reconnect after a lost
// connection and resume, skip a message that broke the stream, and end with a
// reason instead of fetching on when nothing more can come.
#include "extract/FolderWalk.h"

#include "extract/SignInStep.h"
#include "mail/ImapComponent.h"

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

FolderWalk::Resume FolderWalk::afterFailedFetch(ImapFailure kind, qint64 n)
{
    if (stopping_())
        return Resume::Next;
    if (byUid_ && kind == ImapFailure::NotSelected) {
        // The folder came back under another UIDVALIDITY: its UIDs name other messages now.
        stats_.folderChanged = true;
        stats_.endReason = QStringLiteral("The folder was replaced on the server during the run; its messages "
                                          "can no longer be told apart from those read already.");
        return Resume::End;
    }
    const FetchFault fault = classify(kind);
    stats_.failedInRow = fault == FetchFault::NoMessage ? stats_.failedInRow + 1 : 0;
    switch (fault) {
    case FetchFault::LostLine:
        // The message itself may be fine: ask for it again on a new connection.
        return reconnect(imap().LastErrorText()) ? Resume::Again : Resume::End;
    case FetchFault::BrokenMessage:
        // This message broke the stream and would again; the walk goes on after it.
        return reconnect(imap().LastErrorText()) ? Resume::Next : Resume::End;
    case FetchFault::Closed:
        stats_.endReason = QStringLiteral("The connection was closed during the run.");
        return Resume::End;
    case FetchFault::NoMessage:
        // By UID, a message that is gone was expunged; the others keep their UIDs.
        if (byUid_)
            return Resume::Next;
        return stats_.failedInRow < kDoubtfulRun ? Resume::Next : recount(n);
    case FetchFault::Other: return Resume::Next;
    }
    return Resume::Next;
}

// Many messages in a row are missing: the count the walk relies on is doubtful.
FolderWalk::Resume FolderWalk::recount(qint64 n)
{
    imap().SendRawCommand(QStringLiteral("NOOP"));  // brings the server's current count
    exchanged();
    const int now = imap().NumMessages();
    if (n > now)
        stats_.endReason = QStringLiteral("The folder holds only %1 messages now.").arg(now);
    else
        stats_.endReason = QStringLiteral("The server reported %1 messages in the folder, but sent none of messages "
                                          "%2 to %3.")
                               .arg(now)
                               .arg(n - stats_.failedInRow + 1)
                               .arg(n);
    stats_.folderChanged = stats_.folderChanged || n > now;
    return Resume::End;
}

// Signs in again and selects the folder, within the walk's attempts; `why` is
// the failure that lost the connection.
bool FolderWalk::reconnect(const QString &why)
{
    QString lastError = why;
    while (stats_.reconnects < kMaxReconnects) {
        ++stats_.reconnects;
        if (!pauseBeforeReconnect(stats_.reconnects))
            return false;
        std::optional<ImapResult<MailboxStatus>> selected;
        if (signIn_.run())
            selected = selectFolder(imap(), folder_);
        exchanged();  // every attempt leaves its record
        if (!selected || !*selected) {
            lastError = imap().LastErrorText();
            continue;
        }
        // Another UIDVALIDITY, or fewer messages: the numbers no longer name
        // the messages they named when the walk began.
        const quint32 validity = (*selected)->uidValidity;
        if ((stats_.uidValidity != 0 && validity != stats_.uidValidity) || imap().NumMessages() < stats_.count)
            stats_.folderChanged = true;
        return true;
    }
    if (stats_.endReason.isEmpty())
        stats_.endReason = QStringLiteral("The connection to the server was lost and could not be restored after %1 "
                                          "attempts (last: %2).")
                               .arg(kMaxReconnects)
                               .arg(lastError);
    return false;
}

bool FolderWalk::pauseBeforeReconnect(int attempt)
{
    const qint64 ms = qint64(reconnectPauseMs_) << (attempt - 1);
    if (ms > 0 && !stopping_()) {
        QElapsedTimer since;
        since.start();
        QEventLoop loop;
        QTimer tick;
        tick.setInterval(50);
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (stopping_() || since.elapsed() >= ms)
                loop.quit();
        });
        tick.start();
        loop.exec();
    }
    if (stopping_())
        stats_.endReason = QStringLiteral("The run was stopped while the connection was being restored.");
    return !stopping_();
}

}  // namespace vc
