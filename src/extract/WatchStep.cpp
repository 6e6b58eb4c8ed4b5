// Watching a folder for new mail after the walk, through lost connections.
#include "extract/WatchStep.h"

#include "core/AppError.h"
#include "extract/FailureMessage.h"
#include "extract/SignInStep.h"

#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>

#include <climits>

namespace vc {

namespace {

// A failure of the connection itself: the same request may well succeed on a
// new one. Anything else that a fetch meets belongs to that one message.
bool lostLine(ImapFailure kind)
{
    switch (kind) {
    case ImapFailure::ClosedByServer:
    case ImapFailure::TimedOut:
    case ImapFailure::Network:
    case ImapFailure::Unreachable:
    case ImapFailure::Refused:
    case ImapFailure::NotConnected:
    case ImapFailure::Disconnected:
    case ImapFailure::NotSelected: return true;
    default: return false;
    }
}

QString oneLine(QString text)
{
    return text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

}  // namespace

WatchStep::WatchStep(SignInStep &signIn, QString folder, QList<WalkObserver *> observers,
                     std::function<bool()> stopping, std::function<void(const WatchEvent &)> onEvent)
    : signIn_(signIn), imap_(&signIn.component()), folder_(std::move(folder)), observers_(std::move(observers)),
      stopping_(std::move(stopping)), onEvent_(std::move(onEvent))
{}

SearchFilter WatchStep::newMailFilter(const SearchFilter &filter, quint32 uid)
{
    SearchFilter f = filter;
    // "UID n:*" names the last message even when all UIDs are below n; the
    // caller keeps only the UIDs above `uid`.
    const QString key = QStringLiteral("UID %1:*").arg(qMin<qint64>(qint64(uid) + 1, UINT_MAX));
    f.raw = f.raw.isEmpty() ? key : QStringLiteral("(%1) %2").arg(f.raw, key);
    return f;
}

qint64 WatchStep::pauseMs(const WatchRequest &request, int attempt)
{
    const qint64 first = qMax(request.firstPauseMs, 0);
    const int doublings = qBound(0, attempt - 1, 30);
    return qMin<qint64>(first << doublings, qMax(request.longestPauseMs, request.firstPauseMs));
}

ImapComponent &WatchStep::imap()
{
    if (!imap_)
        raise(err::ObjectNotSet);
    return *imap_;
}

qint64 WatchStep::msLeft() const
{
    if (request_.timeoutSeconds <= 0)
        return -1;
    return qMax<qint64>(0, request_.timeoutSeconds * 1000 - clock_.elapsed());
}

bool WatchStep::over()
{
    if (stopping_())
        return true;
    if (request_.exitAfter > 0 && stats_.delivered >= request_.exitAfter)
        return true;
    timedOut_ = timedOut_ || msLeft() == 0;
    return timedOut_;
}

WatchStats WatchStep::run(const WatchRequest &request, quint32 highestUid, quint32 uidValidity)
{
    request_ = request;
    stats_ = WatchStats();
    stats_.ran = true;
    stats_.highestUid = highestUid;
    validity_ = uidValidity;
    timedOut_ = false;
    toldKinds_.clear();
    clock_.start();
    const QString how = imap().canIdle()
                            ? QStringLiteral("the server tells of new mail at once (IDLE)")
                            : QStringLiteral("asking the server every %1 s (NOOP)").arg(request_.pollSeconds);
    tell(WatchEvent::Started, QStringLiteral("Watching %1 for new mail: %2.").arg(folder_, how));

    // The walk leaves the folder selected; whatever else it left is found out
    // by the first search.
    bool connected = true;
    while (!over()) {
        if (!connected && !reconnect())
            break;
        connected = true;
        Step step = catchUp();
        if (step == Step::Ok)
            step = wait();
        if (step == Step::Lost)
            connected = false;
        else if (step == Step::Over)
            break;
    }

    QString why;
    if (stopping_()) {
        stats_.end = WatchStats::End::Stopped;
        why = QStringLiteral("it was stopped");
    } else if (request_.exitAfter > 0 && stats_.delivered >= request_.exitAfter) {
        stats_.end = WatchStats::End::ExitAfter;
        why = QStringLiteral("%1 new message(s) were read").arg(stats_.delivered);
    } else {
        stats_.end = WatchStats::End::TimedOut;
        why = QStringLiteral("its %1 s were over").arg(request_.timeoutSeconds);
    }
    tell(WatchEvent::Ended,
         QStringLiteral("Stopped watching %1 (%2 new message(s)): %3.").arg(folder_).arg(stats_.delivered).arg(why));
    return stats_;
}

WatchStep::Step WatchStep::catchUp()
{
    const ImapResult<UidSet> found = imap().searchUids(newMailFilter(filter_, stats_.highestUid));
    if (!found) {
        if (over())
            return Step::Over;
        lost(QStringLiteral("search %1").arg(int(found.fault().kind)),
             QStringLiteral("Looking for new mail in %1 failed (%2); signing in again.")
                 .arg(folder_, oneLine(imap().LastErrorText())));
        return Step::Lost;
    }
    const UidSet fresh = found->above(stats_.highestUid);
    if (fresh.isEmpty())
        return Step::Ok;
    return fetchNew(fresh);
}

WatchStep::Step WatchStep::fetchNew(const UidSet &uids)
{
    if (const ImapResult<void> started = imap().startUidWalk(uids); !started) {
        lost(QStringLiteral("walk %1").arg(int(started.fault().kind)),
             QStringLiteral("Reading new mail in %1 failed (%2); signing in again.")
                 .arg(folder_, oneLine(imap().LastErrorText())));
        return Step::Lost;
    }
    const auto leave = qScopeGuard([this] {
        if (imap_)
            imap_->endUidWalk();
    });
    for (qint64 p = 1; p <= uids.size(); ++p) {
        if (over())
            return Step::Over;
        const quint32 uid = uids.at(p - 1);
        ImapResult<MailRecord> email = imap().fetchUidWalk(p);
        exchanged();
        if (email) {
            if (email->uid == 0)
                email->uid = uid;
            deliver(*email);
            continue;
        }
        const ImapFailure kind = email.fault().kind;
        if (over())
            return Step::Over;
        if (lostLine(kind)) {
            // Asked for again on the new connection.
            lost(QStringLiteral("fetch %1").arg(int(kind)),
                 QStringLiteral("The connection to the server was lost (%1); signing in again.")
                     .arg(oneLine(imap().LastErrorText())));
            return Step::Lost;
        }
        // The message is gone (expunged) or cannot be read: it is passed by,
        // and the fetch log says why.
        stats_.highestUid = qMax(stats_.highestUid, uid);
        if (kind == ImapFailure::TooLarge || kind == ImapFailure::Protocol)
            return Step::Lost;  // the stream is in an unknown state
    }
    return Step::Ok;
}

void WatchStep::deliver(MailRecord &record)
{
    ++stats_.delivered;
    record.folder = folder_;
    if (record.uidValidity == 0)
        record.uidValidity = validity_;
    else if (validity_ == 0)
        validity_ = record.uidValidity;
    record.uID = int(qMin<qint64>(stats_.delivered, INT_MAX));
    record.position = stats_.delivered;
    record.total = stats_.delivered;
    for (WalkObserver *o : observers_)
        o->arriving(record);
    for (WalkObserver *o : observers_)
        o->delivered(record);
    stats_.highestUid = qMax(stats_.highestUid, record.uid);
}

WatchStep::Step WatchStep::wait()
{
    qint64 period = request_.idlePeriodMs;
    if (const qint64 left = msLeft(); left >= 0)
        period = qMin(period, left);
    if (period <= 0 || over())
        return Step::Over;
    ImapComponent &c = imap();
    const QPointer<ImapComponent> alive(&c);
    // New mail ends the wait at once; expunged messages change nothing here.
    const ImapComponent::ChangeHandler onChange = [&c](const ImapComponent::MailboxChange &change) {
        if (change.kind == ImapComponent::MailboxChange::Exists)
            c.stopWaiting();
    };
    const ImapResult<ImapComponent::WaitEnd> waited =
        c.canIdle() ? c.idle(onChange, int(period))
                    : c.poll(onChange, int(qBound(qint64(1), qint64(request_.pollSeconds) * 1000, qint64(INT_MAX))),
                             int(period));
    if (!alive)
        raise(err::ObjectNotSet);
    if (over())
        return Step::Over;
    if (!waited) {
        lost(QStringLiteral("wait %1").arg(int(waited.fault().kind)),
             QStringLiteral("Waiting for new mail in %1 failed (%2); signing in again.")
                 .arg(folder_, oneLine(c.LastErrorText())));
        return Step::Lost;
    }
    return Step::Ok;
}

bool WatchStep::reconnect()
{
    for (int attempt = 1;; ++attempt) {
        if (!pause(pauseMs(request_, attempt)))
            return false;
        const StepResult<void> signedIn = signIn_.run();
        exchanged();
        if (!signedIn) {
            if (over())
                return false;
            const StepFault &f = signedIn.fault();
            lost(QStringLiteral("sign-in %1 %2").arg(int(f.stage)).arg(int(f.fault.kind)),
                 QStringLiteral("Signing in again failed: %1 Trying again in %2 s.")
                     .arg(oneLine(failureText(f)))
                     .arg(pauseMs(request_, attempt + 1) / 1000));
            continue;
        }
        const ImapResult<MailboxStatus> selected = selectFolder(imap(), folder_);
        exchanged();
        if (!selected) {
            if (over())
                return false;
            lost(QStringLiteral("select %1").arg(int(selected.fault().kind)),
                 QStringLiteral("Selecting %1 again failed (%2); trying again in %3 s.")
                     .arg(folder_, oneLine(imap().LastErrorText()))
                     .arg(pauseMs(request_, attempt + 1) / 1000));
            continue;
        }
        ++stats_.reconnects;
        toldKinds_.clear();
        tell(WatchEvent::Restored, QStringLiteral("Signed in again after %1 attempt(s); watching %2 from UID %3 on.")
                                       .arg(attempt)
                                       .arg(folder_)
                                       .arg(qint64(stats_.highestUid) + 1));
        const quint32 validity = selected->uidValidity;
        if (validity_ != 0 && validity != 0 && validity != validity_) {
            ++stats_.folderReplaced;
            stats_.highestUid = 0;
            tell(WatchEvent::FolderReplaced,
                 QStringLiteral("%1 was replaced on the server (UIDVALIDITY %2, before %3): its messages are "
                                "read once more, all of them.")
                     .arg(folder_)
                     .arg(validity)
                     .arg(validity_));
        }
        if (validity != 0)
            validity_ = validity;
        return true;
    }
}

bool WatchStep::pause(qint64 ms)
{
    if (over())
        return false;
    if (const qint64 left = msLeft(); left >= 0)
        ms = qMin(ms, left);
    if (ms > 0) {
        QElapsedTimer since;
        since.start();
        QEventLoop loop;
        QTimer tick;
        tick.setInterval(50);
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (since.elapsed() >= ms || over())
                loop.quit();
        });
        tick.start();
        loop.exec();
    }
    return !over();
}

void WatchStep::lost(const QString &kind, const QString &text)
{
    if (toldKinds_.contains(kind))
        return;
    toldKinds_.insert(kind);
    tell(WatchEvent::Lost, text);
}

void WatchStep::tell(WatchEvent::Kind kind, const QString &text)
{
    onEvent_({kind, text, folder_, stats_.delivered});
}

void WatchStep::exchanged()
{
    const QString text = imap().LastErrorText();
    for (WalkObserver *o : observers_)
        o->exchanged(text);
}

}  // namespace vc
