// ImapClient: the walk over a list of UIDs, read ahead in pipelined UID FETCH
// ranges. The read-ahead planner counts in walk positions (1 = the first UID of
// the list); a range of positions goes on the wire as a compressed UID set.
#include "mail/ImapClient.h"

#include "mail/ModifiedUtf7.h"

#include <QElapsedTimer>
#include <QPointer>

#include <climits>

namespace vc {

namespace {

// The UID set of one range stays this short, so the command line stays well
// within what servers accept (8 KiB and up) even when the UIDs are scattered.
constexpr qsizetype kMaxUidSetBytes = 6000;

// The labels of an X-GM-LABELS list; mailbox-like names come in modified UTF-7.
QStringList labelsOf(const ImapValue *labels)
{
    QStringList out;
    if (!labels || labels->kind != ImapValue::List)
        return out;
    for (const ImapValue &l : labels->list) {
        if (l.kind == ImapValue::Atom && l.text.startsWith('\\'))
            out << QString::fromUtf8(l.text);
        else if (l.kind != ImapValue::List && l.kind != ImapValue::Nil)
            out << decodeMailboxName(l.text);
    }
    return out;
}

}  // namespace

bool ImapClient::useAhead(AheadMode mode, const QString &op)
{
    if (aheadMode_ == mode)
        return true;
    ahead_.dropKept();
    if (drainReadAhead(op) != Outcome::Ok)
        return false;
    aheadMode_ = mode;
    return true;
}

QByteArray ImapClient::uidFetchItems() const
{
    return walkOptions_.gmailLabels ? QByteArray("(X-GM-LABELS BODY.PEEK[])") : QByteArray("(BODY.PEEK[])");
}

ImapResult<void> ImapClient::startUidWalk(const UidSet &uids, UidWalkOptions options)
{
    const QString op = QStringLiteral("UID walk");
    if (!session_.begin(op))
        return lastFault();
    if (session_.selected().isEmpty()) {
        session_.setOutcome(op + QStringLiteral(" failed: no mailbox is selected"), ImapFailure::NotSelected);
        return lastFault();
    }
    if (uids.size() > INT_MAX) {
        session_.setOutcome(op + QStringLiteral(" failed: more UIDs than a folder can hold"), ImapFailure::BadRequest);
        return lastFault();
    }
    if (options.gmailLabels && !isGmail()) {
        session_.setOutcome(op
                                + QStringLiteral(" failed: labels are a feature of Gmail, and this server is not "
                                                 "Gmail's (it does not offer X-GM-EXT-1)"),
                            ImapFailure::BadRequest);
        return lastFault();
    }
    // What a walk before this one left on its way is answered under its own UIDs.
    ahead_.dropKept();
    if (drainReadAhead(op) != Outcome::Ok)
        return lastFault();
    aheadMode_ = AheadMode::Uid;
    walkUids_ = uids;
    walkMailbox_ = session_.selected();
    walkValidity_ = uidValidity_;
    walkOptions_ = options;
    walkLabels_.clear();
    session_.succeed(op);
    return {};
}

void ImapClient::endUidWalk()
{
    if (aheadMode_ != AheadMode::Uid)
        return;
    ahead_.dropKept();
    ahead_.drain();  // the next command waits for what is still on its way
    walkLabels_.clear();
}

bool ImapClient::canFetchInUidWalk(const QString &op)
{
    if (!requireConnection(op))
        return false;
    if (session_.selected().isEmpty()) {
        session_.setOutcome(op + QStringLiteral(" failed: no mailbox is selected"), ImapFailure::NotSelected);
        return false;
    }
    if (session_.selected() != walkMailbox_) {
        session_.setOutcome(
            op + QStringLiteral(" failed: the walk's folder %1 is not the one selected").arg(walkMailbox_),
            ImapFailure::NotSelected);
        return false;
    }
    if (uidValidity_ != walkValidity_) {
        session_.setOutcome(op
                                + QStringLiteral(" failed: the folder's UIDVALIDITY changed from %1 to %2, so its "
                                                 "UIDs no longer name the walk's messages")
                                      .arg(walkValidity_)
                                      .arg(uidValidity_),
                            ImapFailure::NotSelected);
        return false;
    }
    return true;
}

ImapResult<MailRecord> ImapClient::fetchUidWalk(qint64 position)
{
    const quint32 uid = walkUids_.at(position - 1);
    const QString op = QStringLiteral("UID FETCH ") + QString::number(uid);
    if (!session_.begin(op))
        return lastFault();
    if (uid == 0) {
        session_.setOutcome(QStringLiteral("UID FETCH failed: position %1 is outside the walk of %2 messages")
                                .arg(position)
                                .arg(walkUids_.size()),
                            ImapFailure::BadRequest);
        return lastFault();
    }
    const int p = int(position);
    QPointer<ImapClient> self(this);
    std::unique_ptr<MailRecord> email;
    if (aheadMode_ == AheadMode::Uid && ahead_.keeps(p) && !session_.isOpen()) {
        email = takeKept(p, op);
    } else {
        if (!canFetchInUidWalk(op) || !useAhead(AheadMode::Uid, op))
            return lastFault();
        bool askAlone = false;
        if (ahead_.continuesWalk(p, int(walkUids_.size()))) {
            email = fetchUidInWalk(p, op, &askAlone);
            // A range that came back without it: asked for once on its own,
            // which tells a message that is really gone from a hiccup.
        } else {
            askAlone = true;
            if (drainReadAhead(op) != Outcome::Ok)
                return self ? lastFault() : ImapFault{ImapFailure::Disconnected, op + QStringLiteral(" failed")};
        }
        if (self && askAlone)
            email = fetchUidAlone(p, uid, op);
    }
    if (!self)
        return ImapFault{ImapFailure::Disconnected, op + QStringLiteral(" failed: the client was closed")};
    const auto labels = walkLabels_.find(p);
    if (!email) {
        if (labels != walkLabels_.end())
            walkLabels_.erase(labels);
        return lastFault();
    }
    email->uid = uid;
    email->uidValidity = walkValidity_;
    if (labels != walkLabels_.end()) {
        email->gmailLabels = std::move(labels->second);
        walkLabels_.erase(labels);
    }
    return std::move(*email);
}

std::unique_ptr<MailRecord> ImapClient::fetchUidInWalk(int position, const QString &op, bool *askAlone)
{
    ahead_.enter(position);
    topUpUids(position);
    session_.followUidProgress(walkUids_.at(position - 1));
    if (!ahead_.has(position) && ahead_.inFlight(position)) {
        const Outcome outcome =
            session_.waitUntil(op, [this, position] { return ahead_.has(position) || !ahead_.inFlight(position); });
        if (outcome == Outcome::Destroyed)
            return nullptr;
        if (!session_.isOpen() && ahead_.keeps(position))
            return takeKept(position, op);  // the line went, but maybe after this one arrived
        if (outcome == Outcome::Failed)
            return nullptr;
    }
    if (std::optional<QByteArray> body = ahead_.take(position)) {
        topUpUids(position + 1);  // on the wire while this one is decoded and handled
        decodeArrived();
        return handOut(op, position, *body, 0);
    }
    *askAlone = true;
    return nullptr;
}

std::unique_ptr<MailRecord> ImapClient::fetchUidAlone(int position, quint32 uid, const QString &op)
{
    const ImapCommand c("UID FETCH " + QByteArray::number(uid) + ' ' + uidFetchItems());
    QByteArray body;
    QStringList labels;
    bool got = false;
    bool gone = false;
    const auto onFetch = [&](ImapResponse &r) {
        if (r.name() != "FETCH" || r.values.size() < 3 || r.values[2].kind != ImapValue::List)
            return;
        ImapValue &items = r.values[2];
        const ImapValue *u = items.item("UID");
        if (!u || u->text.toULongLong() != uid)
            return;
        if (walkOptions_.gmailLabels)
            labels = labelsOf(items.item("X-GM-LABELS"));
        ImapValue *b = items.item("BODY[]");
        if (!b)
            return;
        if (b->kind == ImapValue::Nil || b->kind == ImapValue::List) {
            gone = true;
            return;
        }
        body = std::move(b->text);
        got = true;
    };
    QElapsedTimer took;
    took.start();
    const Outcome outcome = session_.run(op, c, onFetch, nullptr, -1);
    if (outcome == Outcome::Destroyed)
        return nullptr;
    if (session_.isOpen())
        ahead_.fetchedAlone(position);
    if (outcome != Outcome::Ok)
        return nullptr;
    if (!got) {
        session_.setOutcome(
            op
                + (gone ? QStringLiteral(" failed: the server has no content for this message")
                        : QStringLiteral(" failed: the server sent no message (it may have been removed)")),
            ImapFailure::NoMessage);
        return nullptr;
    }
    // Its size and time: the read-ahead that may follow sizes its ranges by them.
    ahead_.measured(body.size(), took.nsecsElapsed() / 1000);
    if (walkOptions_.gmailLabels)
        walkLabels_[position] = labels;
    return handOut(op, 0, body, 0);
}

void ImapClient::topUpUids(int from)
{
    if (!session_.isOpen() || session_.selected().isEmpty())
        return;
    const int count = int(walkUids_.size());
    while (std::optional<ReadAheadPlanner::Range> range = ahead_.nextRange(from, count)) {
        int n = range->last - range->first + 1;
        UidSet set = walkUids_.slice(range->first - 1, n);
        if (set.imapLength() > kMaxUidSetBytes) {
            // The most positions whose set still fits.
            int lo = 1;
            int hi = n;
            while (lo < hi) {
                const int mid = lo + (hi - lo + 1) / 2;
                if (walkUids_.slice(range->first - 1, mid).imapLength() <= kMaxUidSetBytes)
                    lo = mid;
                else
                    hi = mid - 1;
            }
            n = lo;
            set = walkUids_.slice(range->first - 1, n);
            range->last = range->first + n - 1;
        }
        ahead_.requested(session_.send("UID FETCH " + set.toImap() + ' ' + uidFetchItems()), *range);
    }
}

bool ImapClient::claimForUidWalk(ImapResponse &r)
{
    if (!ahead_.rangesOutstanding())
        return false;
    if (r.kind == ImapResponse::Tagged)
        return ahead_.answered(r.tag);
    if (r.kind != ImapResponse::Untagged || r.isStatus() || r.name() != "FETCH" || r.values.size() < 3
        || r.values[2].kind != ImapValue::List)
        return false;
    ImapValue &items = r.values[2];
    const ImapValue *u = items.item("UID");
    bool ok = false;
    const qulonglong uid = u ? u->text.toULongLong(&ok) : 0;
    const qint64 index = ok && uid <= 0xffffffffu ? walkUids_.indexOf(quint32(uid)) : -1;
    if (index < 0)
        return false;
    const int position = int(index + 1);
    QByteArray *body = nullptr;
    if (ImapValue *b = items.item("BODY[]"); b && (b->kind == ImapValue::String || b->kind == ImapValue::Atom))
        body = &b->text;
    const bool had = ahead_.has(position);
    if (!ahead_.arrived(position, body))
        return false;
    if (walkOptions_.gmailLabels && !had && ahead_.has(position))
        walkLabels_[position] = labelsOf(items.item("X-GM-LABELS"));
    decodeArrived();
    return true;
}

}  // namespace vc
