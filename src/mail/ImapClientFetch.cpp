// ImapClient: fetching one message, on its own or from the read-ahead of a walk.
#include "mail/ImapClient.h"

#include "mail/ImapResponses.h"
#include "mail/MimeDecode.h"

#include <QElapsedTimer>
#include <QPointer>

namespace vc {

ImapResult<MailRecord> ImapClient::FetchSingle(int number, bool bUid)
{
    const QPointer<ImapClient> self(this);
    std::unique_ptr<MailRecord> record = fetchOne(number, bUid);
    if (record)
        return std::move(*record);
    return self ? failed().fault() : destroyedFault();
}

std::unique_ptr<MailRecord> ImapClient::fetchOne(int number, bool bUid)
{
    const QString op = (bUid ? QStringLiteral("UID FETCH ") : QStringLiteral("FETCH ")) + QString::number(number);
    if (!session_.begin(op) || !useAhead(AheadMode::Sequence, op))
        return nullptr;
    if (!bUid && ahead_.keeps(number) && !session_.isOpen())
        return takeKept(number, op);
    if (!canFetch(op, number))
        return nullptr;
    if (!bUid && ahead_.continuesWalk(number, session_.exists())) {
        bool askAlone = false;
        std::unique_ptr<MailRecord> email = fetchInWalk(number, op, &askAlone);
        if (!askAlone)
            return email;
        // The range came back without it: ask for it once on its own, which
        // tells a message that is really missing from a hiccup of the range.
    } else if (drainReadAhead(op) != Outcome::Ok) {
        return nullptr;
    }
    return fetchAlone(number, bUid, op);
}

bool ImapClient::canFetch(const QString &op, int number)
{
    if (!requireConnection(op))
        return false;
    if (session_.selected().isEmpty()) {
        session_.setOutcome(op + QStringLiteral(" failed: no mailbox is selected"), ImapFailure::NotSelected);
        return false;
    }
    if (number <= 0) {
        session_.setOutcome(op + QStringLiteral(" failed: message numbers start at 1"), ImapFailure::BadRequest);
        return false;
    }
    return true;
}

std::unique_ptr<MailRecord> ImapClient::fetchInWalk(int number, const QString &op, bool *askAlone)
{
    ahead_.enter(number);
    topUp(number);
    session_.followProgress(number);
    if (!ahead_.has(number) && ahead_.inFlight(number)) {
        const Outcome outcome =
            session_.waitUntil(op, [this, number] { return ahead_.has(number) || !ahead_.inFlight(number); });
        if (outcome == Outcome::Destroyed)
            return nullptr;
        if (!session_.isOpen() && ahead_.keeps(number))
            return takeKept(number, op);  // the line went, but maybe after this one arrived
        if (outcome == Outcome::Failed)
            return nullptr;
    }
    if (std::optional<QByteArray> body = ahead_.take(number)) {
        topUp(number + 1);  // on the wire while this one is decoded and handled
        decodeArrived();
        return handOut(op, number, *body, takeUidOf(number));
    }
    *askAlone = true;
    return nullptr;
}

std::unique_ptr<MailRecord> ImapClient::fetchAlone(int number, bool bUid, const QString &op)
{
    // A fetch by number asks for the UID too: the record knows its message's UID either way.
    const ImapCommand c(bUid ? "UID FETCH " + QByteArray::number(number) + " (BODY.PEEK[])"
                             : "FETCH " + QByteArray::number(number) + " (UID BODY.PEEK[])");
    QByteArray body;
    quint32 uid = 0;
    bool got = false;
    bool gone = false;
    const auto onFetch = [&](ImapResponse &r) {
        std::optional<FetchResponse> f = takeFetchResponse(r);
        if (!f || (bUid ? f->uid != quint32(number) : f->number != number) || f->has == FetchResponse::Body::Missing)
            return;
        if (f->has == FetchResponse::Body::Nil) {
            gone = true;
            return;
        }
        body = std::move(f->body);
        uid = f->uid;
        got = true;
    };
    QElapsedTimer took;
    took.start();
    const Outcome outcome = session_.run(op, c, onFetch, nullptr, bUid ? -1 : number);
    if (outcome == Outcome::Destroyed)
        return nullptr;
    if (session_.isOpen())
        ahead_.fetchedAlone(bUid ? 0 : number);
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
    if (!bUid)
        ahead_.measured(body.size(), took.nsecsElapsed() / 1000);
    return handOut(op, 0, body, uid);
}

std::unique_ptr<MailRecord> ImapClient::takeKept(int number, const QString &op)
{
    ImapFault loss;
    if (std::optional<QByteArray> body = ahead_.takeKept(number, loss))
        return handOut(op, number, *body, takeUidOf(number));
    session_.fail(op, loss);
    return nullptr;
}

std::unique_ptr<MailRecord> ImapClient::handOut(const QString &op, int number, const QByteArray &body, quint32 uid)
{
    session_.succeed(op);
    if (!session_.finishProgress())
        return nullptr;  // the report destroyed this client
    std::optional<MailRecord> decoded = decode_.take(number, body);
    auto record = std::make_unique<MailRecord>(decoded ? std::move(*decoded) : decodeMessage(body, decode_.needs()));
    if (uid != 0)
        record->uid = uid;
    return record;
}

quint32 ImapClient::takeUidOf(int number)
{
    const auto it = uidOf_.find(number);
    const quint32 uid = it != uidOf_.end() ? it->second : 0;
    uidOf_.erase(uidOf_.begin(), uidOf_.upper_bound(number));
    return uid;
}

void ImapClient::decodeArrived()
{
    int n = qMax(decodeNext_, ahead_.nextNumber());
    while (const QByteArray *raw = ahead_.held(n)) {
        if (!decode_.wants(raw->size()))
            break;
        decode_.start(n, *raw);
        ++n;
    }
    decodeNext_ = n;
}

void ImapClient::topUp(int from)
{
    if (!session_.isOpen() || session_.selected().isEmpty())
        return;
    while (const std::optional<ReadAheadPlanner::Range> range = ahead_.nextRange(from, session_.exists())) {
        QByteArray set = QByteArray::number(range->first);
        if (range->last > range->first)
            set += ':' + QByteArray::number(range->last);
        ahead_.requested(session_.send("FETCH " + set + " (UID BODY.PEEK[])"), *range);
    }
}

bool ImapClient::claimForReadAhead(ImapResponse &r)
{
    if (aheadMode_ == AheadMode::Uid)
        return claimForUidWalk(r);
    if (!ahead_.rangesOutstanding())
        return false;
    if (r.kind == ImapResponse::Tagged)
        return ahead_.answered(r.tag);
    if (r.kind != ImapResponse::Untagged || r.isStatus() || r.name() != "FETCH")
        return false;
    std::optional<FetchResponse> f = takeFetchResponse(r);
    QByteArray *body = f && f->has == FetchResponse::Body::Present ? &f->body : nullptr;
    if (!ahead_.arrived(r.number(), body))
        return false;
    // Each answer names its own message's UID: one that does not leaves none.
    if (f && f->uid != 0)
        uidOf_[int(r.number())] = f->uid;
    else
        uidOf_.erase(int(r.number()));
    decodeArrived();
    return true;
}

}  // namespace vc
