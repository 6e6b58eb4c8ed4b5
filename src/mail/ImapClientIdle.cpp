// ImapClient: waiting for news of the selected mailbox, with IDLE where the
// server offers it and with NOOP polling where it does not.
#include "mail/ImapClient.h"

#include <QElapsedTimer>
#include <QPointer>

namespace vc {

struct ImapClient::Waiting {
    QElapsedTimer clock;
    qint64 periodMs = 0;
    std::function<int()> usualAbortCheck;
    bool idling = false;    // the server has given its go-ahead to IDLE
    bool doneSent = false;  // DONE is on its way
    bool stop = false;
    bool aborted = false;
    bool periodOver = false;
    qint64 count = 0;  // the message count that the changes handed out so far tell

    bool leaving() const { return stop || aborted || periodOver; }
    WaitEnd end() const
    {
        if (aborted)
            return WaitEnd::Aborted;
        if (stop)
            return WaitEnd::Stopped;
        return periodOver ? WaitEnd::Period : WaitEnd::ByServer;
    }
};

namespace {

// The fault of the last operation, its reason without the "OP failed: " that
// the error text puts before it.
ImapFault faultOf(const ImapSession &session, const QString &op)
{
    QString reason = session.lastError();
    const QString prefix = op + QStringLiteral(" failed: ");
    if (reason.startsWith(prefix))
        reason.remove(0, prefix.size());
    return {session.lastFailure(), reason};
}

// When the client went away during the wait; nothing of it may be touched.
ImapFault goneFault()
{
    return {ImapFailure::Disconnected, QStringLiteral("the connection was closed while it waited")};
}

// Hands the changes among the untagged responses to `onChange`, keeping
// `count` (when given) at the message count they tell.
ImapSession::UntaggedHandler changesTo(const ImapClient::ChangeHandler &onChange, qint64 *count)
{
    if (!onChange)
        return {};
    return [onChange, count](ImapResponse &r) {
        if (r.kind != ImapResponse::Untagged || r.isStatus() || r.number() < 0)
            return;
        const QByteArray name = r.name();
        ImapClient::MailboxChange change;
        if (name == "EXISTS")
            change.kind = ImapClient::MailboxChange::Exists;
        else if (name == "EXPUNGE")
            change.kind = ImapClient::MailboxChange::Expunge;
        else if (name == "RECENT")
            change.kind = ImapClient::MailboxChange::Recent;
        else
            return;
        change.number = r.number();
        if (count && change.kind == ImapClient::MailboxChange::Exists)
            *count = change.number;
        else if (count && change.kind == ImapClient::MailboxChange::Expunge && *count > 0)
            --*count;
        onChange(change);
    };
}

}  // namespace

void ImapClient::beginWaiting(Waiting &w, int periodMs)
{
    w.clock.start();
    w.periodMs = periodMs;
    w.count = session_.exists();
    w.usualAbortCheck = session_.hooks.abortCheck;
    waiting_ = &w;
    session_.hooks.abortCheck = [this, &w] {
        // The usual check reaches the program, which may destroy this client
        // and with it this function object: only locals after it.
        ImapClient *self = this;
        Waiting *wait = &w;
        const QPointer<ImapClient> alive(self);
        const int answer = wait->usualAbortCheck ? wait->usualAbortCheck() : 0;
        if (!alive)
            return 0;
        if (answer != 0)
            wait->aborted = true;
        if (wait->clock.elapsed() >= wait->periodMs)
            wait->periodOver = true;
        self->leaveIdle(*wait);
        return 0;
    };
}

void ImapClient::endWaiting(Waiting &w)
{
    session_.hooks.abortCheck = std::move(w.usualAbortCheck);
    session_.holdTimeout(false);
    waiting_ = nullptr;
}

bool ImapClient::catchUp(Waiting &w, const ChangeHandler &onChange)
{
    const qint64 now = session_.exists();
    if (now == w.count || !onChange)
        return true;
    w.count = now;
    const QPointer<ImapClient> alive(this);
    onChange({MailboxChange::Exists, now});
    return !alive.isNull();
}

void ImapClient::leaveIdle(Waiting &w)
{
    if (!w.idling || w.doneSent || !w.leaving())
        return;
    w.doneSent = true;
    session_.writeLine("DONE");
    session_.holdTimeout(false);  // the answer to DONE is due within the time-out
}

void ImapClient::stopWaiting()
{
    if (!waiting_)
        return;
    waiting_->stop = true;
    leaveIdle(*waiting_);
}

ImapResult<ImapClient::WaitEnd> ImapClient::idle(const ChangeHandler &onChange, int periodMs)
{
    const QString op = QStringLiteral("IDLE");
    if (!prepare(op))
        return faultOf(session_, op);
    if (session_.selected().isEmpty()) {
        session_.setOutcome(op + QStringLiteral(" failed: no mailbox is selected"), ImapFailure::NotSelected);
        return faultOf(session_, op);
    }
    if (!canIdle()) {
        session_.setOutcome(op + QStringLiteral(" failed: the server does not offer IDLE"), ImapFailure::BadRequest);
        return faultOf(session_, op);
    }
    Waiting w;
    beginWaiting(w, periodMs);
    ImapCommand c("IDLE");
    c.onGoAhead = [this, &w](const QByteArray &) {
        w.idling = true;
        session_.holdTimeout(true);
        leaveIdle(w);  // a stop that came before the go-ahead
    };
    const Outcome outcome = session_.run(op, c, changesTo(onChange, &w.count));
    if (outcome == Outcome::Destroyed || (outcome == Outcome::Ok && !catchUp(w, onChange)))
        return goneFault();
    endWaiting(w);
    if (outcome != Outcome::Ok)
        return faultOf(session_, op);
    return w.doneSent ? w.end() : WaitEnd::ByServer;
}

ImapResult<void> ImapClient::noop(const ChangeHandler &onChange)
{
    const QString op = QStringLiteral("NOOP");
    if (!prepare(op))
        return faultOf(session_, op);
    const Outcome outcome =
        session_.run(op, ImapCommand("NOOP"), changesTo(onChange, waiting_ ? &waiting_->count : nullptr));
    if (outcome == Outcome::Destroyed)
        return goneFault();
    if (outcome != Outcome::Ok)
        return faultOf(session_, op);
    return {};
}

ImapResult<ImapClient::WaitEnd> ImapClient::poll(const ChangeHandler &onChange, int intervalMs, int periodMs)
{
    const QString op = QStringLiteral("NOOP");
    if (!session_.begin(op) || !requireConnection(op))
        return faultOf(session_, op);
    if (session_.selected().isEmpty()) {
        session_.setOutcome(op + QStringLiteral(" failed: no mailbox is selected"), ImapFailure::NotSelected);
        return faultOf(session_, op);
    }
    const QPointer<ImapClient> alive(this);
    Waiting w;
    beginWaiting(w, periodMs);
    while (true) {
        const ImapResult<void> answered = noop(onChange);
        if (!alive)
            return goneFault();
        if (!answered) {
            endWaiting(w);
            return answered.fault();
        }
        if (!catchUp(w, onChange))
            return goneFault();
        if (w.clock.elapsed() >= periodMs)
            w.periodOver = true;
        if (w.leaving())
            break;
        const qint64 pause = qMin<qint64>(qMax(intervalMs, 1), periodMs - w.clock.elapsed());
        QElapsedTimer slept;
        slept.start();
        session_.holdTimeout(true);  // nothing was asked: silence is what to expect
        const Outcome outcome = session_.waitUntil(
            op, [&w, &slept, pause] { return w.leaving() || slept.elapsed() >= pause; }, changesTo(onChange, &w.count));
        if (outcome == Outcome::Destroyed || (outcome == Outcome::Ok && !catchUp(w, onChange)))
            return goneFault();
        if (outcome != Outcome::Ok) {
            endWaiting(w);
            return faultOf(session_, op);
        }
        if (w.leaving())
            break;
    }
    endWaiting(w);
    return w.end();
}

}  // namespace vc
