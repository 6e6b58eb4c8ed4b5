#include "mail/ImapSession.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace vc {

namespace {

constexpr int kTickMs = 50;

QString describe(const ImapResponse &r)
{
    QByteArray s = r.status;
    if (!r.code.isEmpty())
        s += " [" + r.code + ']';
    if (!r.text.isEmpty())
        s += ' ' + r.text;
    return QString::fromUtf8(s);
}

// What the server said in a status response: its code in brackets, then its text.
QString serverWords(const ImapResponse &r)
{
    QByteArray s = r.code.isEmpty() ? QByteArray() : '[' + r.code + ']';
    if (!r.text.isEmpty())
        s += (s.isEmpty() ? "" : " ") + r.text;
    return QString::fromUtf8(s);
}

QStringList capabilityList(const std::vector<ImapValue> &values, size_t from)
{
    QStringList caps;
    for (size_t i = from; i < values.size(); ++i)
        caps << QString::fromLatin1(values[i].text).toUpper();
    return caps;
}

// The UID item of a FETCH response's head ("* 7 FETCH (UID 1234 BODY[] "), else 0.
quint32 uidInFetchHead(const QByteArray &head)
{
    const qsizetype open = head.indexOf('(');
    if (open < 0)
        return 0;
    const QList<QByteArray> words = head.mid(open + 1).split(' ');
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
        if (words[i].compare("UID", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const quint32 uid = words[i + 1].toUInt(&ok);
            return ok ? uid : 0;
        }
    }
    return 0;
}

}  // namespace

struct ImapSession::Pending {
    QString op;
    QByteArray tag;            // empty while waiting for the greeting
    QList<QByteArray> pieces;  // the command's pieces, each sent after a go-ahead
    int next = 0;
    ImapCommand::ChallengeAnswer answerChallenge;
    std::function<void(const QByteArray &)> onGoAhead;
    UntaggedHandler onUntagged;
    std::function<bool()> until;  // waits without a command of its own: done when true
    ImapResponse tagged;
    bool done = false;
    bool ok = false;
    ImapFault fault;
    QEventLoop *loop = nullptr;
};

ImapSession::ImapSession(QObject *parent) : QObject(parent), connection_(*this) {}

ImapSession::~ImapSession()
{
    hooks = Hooks();
    if (pending_) {
        pending_->done = true;
        pending_->ok = false;
        if (pending_->loop)
            pending_->loop->quit();
        pending_ = nullptr;
    }
}

QByteArray ImapSession::nextTag()
{
    return 'V' + QByteArray::number(++tagCounter_).rightJustified(4, '0');
}

bool ImapSession::begin(const QString &op)
{
    if (!pending_)
        return true;
    setOutcome(op + QStringLiteral(" failed: another operation is in progress"), ImapFailure::Busy);
    return false;
}

bool ImapSession::requireConnection(const QString &op)
{
    if (connection_.isOpen())
        return true;
    setOutcome(op + QStringLiteral(" failed: not connected"), ImapFailure::NotConnected);
    return false;
}

ImapSession::Outcome ImapSession::open(const QString &op, const QString &host, int port, bool ssl,
                                       const QString &caFile, qint64 maxLiteralBytes)
{
    close();
    capabilities_.clear();
    bye_.clear();
    secrets_.clear();
    aheadTag_.clear();
    aheadAnswer_.clear();
    if (const std::optional<ImapFault> fault = connection_.open(host, port, ssl, caFile, maxLiteralBytes)) {
        fail(op, *fault);
        return Outcome::Failed;
    }
    Pending greeting;
    greeting.op = op;
    followProgress(0);
    const Outcome outcome = wait(greeting);
    if (outcome == Outcome::Failed)
        close();
    return outcome;
}

ImapSession::Outcome ImapSession::run(const QString &op, ImapCommand cmd, const UntaggedHandler &onUntagged,
                                      ImapResponse *tagged, int progress)
{
    if (!requireConnection(op))
        return Outcome::Failed;
    Pending p;
    p.op = op;
    p.tag = nextTag();
    p.pieces = std::move(cmd.pieces);
    p.pieces.first().prepend(p.tag + ' ');
    p.answerChallenge = std::move(cmd.answerChallenge);
    p.onGoAhead = std::move(cmd.onGoAhead);
    p.onUntagged = onUntagged;
    followProgress(progress);
    const Outcome outcome = wait(p);
    if (outcome != Outcome::Destroyed && tagged)
        *tagged = std::move(p.tagged);
    return outcome;
}

ImapSession::Outcome ImapSession::waitUntil(const QString &op, std::function<bool()> until,
                                            const UntaggedHandler &onUntagged)
{
    Pending p;
    p.op = op;
    p.tag = "*";  // no command of its own: never matches a tagged answer
    p.until = std::move(until);
    p.onUntagged = onUntagged;
    return wait(p);
}

void ImapSession::writeLine(const QByteArray &line)
{
    if (connection_.isOpen())
        connection_.write(line + "\r\n");
}

void ImapSession::holdTimeout(bool hold)
{
    timeoutHeld_ = hold;
    if (!hold)
        silence_.restart();
}

QByteArray ImapSession::send(const QByteArray &command)
{
    const QByteArray tag = nextTag();
    connection_.write(tag + ' ' + command + "\r\n");
    return tag;
}

void ImapSession::sendAhead(const QByteArray &command)
{
    aheadAnswer_.clear();
    aheadTag_ = send(command);
}

void ImapSession::flush()
{
    connection_.flush();
}

ImapSession::Outcome ImapSession::wait(Pending &p)
{
    QPointer<ImapSession> self(this);
    QEventLoop loop;
    p.loop = &loop;
    pending_ = &p;
    silence_.start();
    sendNextPiece();

    QTimer ticker;
    ticker.setInterval(kTickMs);
    connect(&ticker, &QTimer::timeout, this, &ImapSession::tick);
    ticker.start();
    if (!p.done)
        connection_.readPending();  // data may already wait in the socket's buffer
    if (self && !p.done)
        loop.exec();
    if (!self)
        return Outcome::Destroyed;  // touch nothing
    ticker.stop();
    p.loop = nullptr;
    timeoutHeld_ = false;
    if (pending_ == &p)
        pending_ = nullptr;
    if (!p.ok) {
        fail(p.op, p.fault);
        return Outcome::Failed;
    }
    succeed(p.op);
    return Outcome::Ok;
}

void ImapSession::complete(bool ok, const ImapFault &fault)
{
    Pending *p = pending_;
    if (!p || p->done)
        return;
    p->done = true;
    p->ok = ok;
    p->fault = fault;
    if (p->loop)
        p->loop->quit();
}

void ImapSession::abandon(const ImapFault &fault)
{
    const ImapFault keep = fault;  // closing resets what it may refer to
    close();
    complete(false, keep);
}

void ImapSession::close()
{
    connection_.close();
    signedIn_ = false;
    selected_.clear();
    exists_ = 0;
    if (hooks.closed)
        hooks.closed();
}

void ImapSession::tick()
{
    if (ticking_ || !pending_)
        return;
    ticking_ = true;
    QPointer<ImapSession> self(this);
    connection_.readPending();
    if (!self)
        return;
    Pending *p = pending_;
    if (p && !p->done && !timeoutHeld_ && silence_.elapsed() > timeoutMs) {
        abandon(
            {ImapFailure::TimedOut,
             QStringLiteral("timed out after %1 s without an answer from the server").arg((timeoutMs + 999) / 1000)});
    } else if (p && !p->done) {
        const int answer = hooks.abortCheck ? hooks.abortCheck() : 0;
        if (!self)
            return;
        if (answer != 0 && pending_ == p && !p->done)
            abandon({ImapFailure::Aborted, QStringLiteral("aborted")});
        else if (pending_ == p && !p->done && p->until && p->until())
            complete(true);
    }
    ticking_ = false;
}

void ImapSession::followProgress(int message)
{
    progressFor_ = message;
    progressUid_ = 0;
    lastPct_ = message != 0 ? -1 : 100;
}

void ImapSession::followUidProgress(quint32 uid)
{
    followProgress(-1);
    progressUid_ = uid;
}

void ImapSession::readChunk()
{
    const Pending *p = pending_;
    if (!p || p->done || lastPct_ >= 100 || progressFor_ == 0)
        return;
    const ImapParser &parser = connection_.parser();
    if (!parser.inLiteral() || parser.literalSize() <= 0)
        return;
    if (progressFor_ > 0 && connection_.pendingMessageNumber() != progressFor_)
        return;
    if (progressUid_ > 0 && uidInFetchHead(parser.pendingHead()) != progressUid_)
        return;
    const int pct = int(parser.literalReceived() * 100 / parser.literalSize());
    if (pct == lastPct_)
        return;
    lastPct_ = pct;
    if (hooks.percentDone)
        hooks.percentDone(pct);  // may destroy this session: nothing after it
}

bool ImapSession::finishProgress()
{
    if (lastPct_ == 100)
        return true;
    lastPct_ = 100;
    if (!hooks.percentDone)
        return true;
    QPointer<ImapSession> self(this);
    hooks.percentDone(100);
    return !self.isNull();
}

void ImapSession::succeed(const QString &op)
{
    setOutcome(op + QStringLiteral(": OK"), ImapFailure::None);
}

void ImapSession::fail(const QString &op, const ImapFault &fault)
{
    setOutcome(redact(op + QStringLiteral(" failed: ") + fault.reason), fault.kind, redact(fault.serverText));
}

void ImapSession::setOutcome(const QString &text, ImapFailure kind, const QString &serverText)
{
    lastError_ = text;
    lastFailure_ = kind;
    lastServerText_ = serverText;
}

QString ImapSession::redact(QString text) const
{
    for (const QString &secret : secrets_) {
        if (secret.size() >= 3)
            text.replace(secret, QStringLiteral("********"));
    }
    return text;
}

void ImapSession::setSelected(const QString &mailbox, qint64 exists)
{
    selected_ = mailbox;
    exists_ = int(qMin<qint64>(exists, INT_MAX));
}

void ImapSession::sendNextPiece()
{
    Pending *p = pending_;
    if (!p || p->next >= p->pieces.size() || !connection_.isOpen())
        return;
    connection_.write(p->pieces[p->next++] + "\r\n");
}

void ImapSession::answerContinuation(Pending &p, const ImapResponse &r)
{
    if (p.next < p.pieces.size()) {
        sendNextPiece();
        return;
    }
    if (p.onGoAhead) {
        p.onGoAhead(r.text);
        return;
    }
    std::optional<QByteArray> line;
    if (p.answerChallenge)
        line = p.answerChallenge(r.text);
    if (line)
        connection_.write(*line + "\r\n");
    else
        abandon({ImapFailure::Protocol, QStringLiteral("the server asked for data the command does not have")});
}

void ImapSession::greeted(const ImapResponse &r)
{
    if (r.kind == ImapResponse::Untagged && (r.status == "OK" || r.status == "PREAUTH"))
        complete(true);
    else if (r.kind == ImapResponse::Untagged && r.status == "BYE")
        abandon({ImapFailure::Refusal, QStringLiteral("the server refused the connection: ") + describe(r),
                 serverWords(r)});
    else
        abandon({ImapFailure::Protocol,
                 QStringLiteral("the server's greeting is not IMAP: ") + QString::fromUtf8(r.raw.left(120))});
}

namespace {

// "* n EXISTS" with n beyond what a mailbox can hold, or not a number at all.
bool isBogusExists(const ImapResponse &r)
{
    if (r.kind != ImapResponse::Untagged || r.isStatus() || r.values.size() < 2 || !r.values[1].isAtom("EXISTS"))
        return false;
    const qint64 n = r.number();
    return n < 0 || n > INT_MAX;
}

}  // namespace

bool ImapSession::keepBooks(const ImapResponse &r)
{
    if (isBogusExists(r)) {
        abandon({ImapFailure::Protocol, QStringLiteral("the server reported %1 messages in the mailbox, more than a "
                                                       "mailbox can hold")
                                            .arg(QString::fromLatin1(r.values[0].text.left(40)))});
        return false;
    }
    if (r.kind != ImapResponse::Continuation && r.code.toUpper().startsWith("CAPABILITY "))
        capabilities_ = QString::fromLatin1(r.code.mid(11)).toUpper().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (r.kind != ImapResponse::Untagged)
        return true;
    if (r.status == "BYE") {
        bye_ = r.text;
    } else if (!r.isStatus()) {
        const QByteArray name = r.name();
        if (name == "CAPABILITY")
            capabilities_ = capabilityList(r.values, 1);
        else if (name == "EXISTS" && !selected_.isEmpty())
            exists_ = int(qMin<qint64>(r.number(), INT_MAX));
        else if (name == "EXPUNGE" && !selected_.isEmpty() && exists_ > 0)
            --exists_;
    }
    return true;
}

void ImapSession::received(ImapResponse &r)
{
    if (!keepBooks(r))
        return;
    Pending *p = pending_;
    if (r.kind == ImapResponse::Tagged && !aheadTag_.isEmpty() && r.tag == aheadTag_) {
        aheadTag_.clear();
        aheadAnswer_ = redact(QString::fromUtf8(r.raw));
        return;
    }
    if (hooks.claim && hooks.claim(r)) {
        if (p && !p->done && p->until && p->until())
            complete(true);
        return;
    }
    if (!p || p->done)
        return;
    if (p->tag.isEmpty()) {
        greeted(r);
        return;
    }
    switch (r.kind) {
    case ImapResponse::Continuation: answerContinuation(*p, r); break;
    case ImapResponse::Untagged:
        if (p->onUntagged)
            p->onUntagged(r);
        break;
    case ImapResponse::Tagged:
        if (r.tag != p->tag)
            break;  // not ours (a late answer of an abandoned command cannot come: we reconnect)
        {
            const bool ok = r.status == "OK";
            const ImapFault fault = ok ? ImapFault() : ImapFault{ImapFailure::Refusal, describe(r), serverWords(r)};
            p->tagged = std::move(r);
            complete(ok, fault);
        }
        break;
    }
}

void ImapSession::dropped(const ImapFault &fault)
{
    ImapFault why = fault;
    if (!bye_.isEmpty() && connection_.certificateErrors().isEmpty()) {
        why.reason += QStringLiteral(" (BYE %1)").arg(QString::fromUtf8(bye_));
        why.serverText = QString::fromUtf8(bye_);
    }
    if (hooks.losing)
        hooks.losing(why, 0);
    abandon(why);
}

void ImapSession::garbled(const ImapFault &fault, qint64 failedAt)
{
    if (hooks.losing)
        hooks.losing(fault, failedAt);
    abandon(fault);
}

}  // namespace vc
