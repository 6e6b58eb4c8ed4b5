#include "mail/ImapClient.h"

#include "mail/ImapResponses.h"
#include "mail/ModifiedUtf7.h"
#include "mail/signin/Sasl.h"

namespace vc {

namespace {

constexpr int kLogoutTimeoutMs = 5000;

}  // namespace

ImapFault ImapClient::destroyedFault()
{
    return {ImapFailure::Disconnected, QStringLiteral("the IMAP component went away while the operation waited")};
}

ImapResult<void> ImapClient::ended(Outcome outcome) const
{
    if (outcome == Outcome::Destroyed)
        return destroyedFault();
    if (outcome == Outcome::Failed)
        return failed();
    return {};
}

ImapClient::ImapClient(QObject *parent) : ImapComponent(parent)
{
    ImapSession::Hooks &hooks = session_.hooks;
    hooks.abortCheck = [this] {
        int answer = 0;
        Q_EMIT AbortCheck(answer);
        return answer;
    };
    hooks.percentDone = [this](int pct) { Q_EMIT PercentDone(pct); };
    hooks.claim = [this](ImapResponse &r) { return claimForReadAhead(r); };
    // failedAt is a sequence number, which a UID walk's positions are not.
    hooks.losing = [this](const ImapFault &loss, qint64 failedAt) {
        ahead_.keep(loss, aheadMode_ == AheadMode::Uid ? 0 : failedAt);
    };
    hooks.closed = [this] {
        ahead_.reset();
        uidOf_.clear();
    };
}

ImapClient::~ImapClient() = default;

void ImapClient::configure(const ConnectionConfig &config)
{
    setCaFile(config.caFile);
    setTimeoutMs(config.timeoutMs);
}

bool ImapClient::requireConnection(const QString &op)
{
    ahead_.dropKept();  // anything but the walk's next fetch ends it
    return session_.requireConnection(op);
}

bool ImapClient::prepare(const QString &op)
{
    return session_.begin(op) && requireConnection(op) && drainReadAhead(op) == Outcome::Ok;
}

void ImapClient::forgetReadAhead()
{
    ahead_.forget();
    uidOf_.clear();
    decode_.clear();
    decodeNext_ = 0;
    walkLabels_.clear();
}

void ImapClient::setDecodeNeeds(const DecodeNeeds &needs)
{
    decode_.clear();
    decodeNext_ = 0;
    decode_.setNeeds(needs);
}

ImapClient::Outcome ImapClient::drainReadAhead(const QString &op)
{
    if (ahead_.rangesOutstanding() && session_.isOpen()) {
        ahead_.drain();
        session_.followProgress(0);
        const Outcome outcome = session_.waitUntil(op, [this] { return !ahead_.rangesOutstanding(); });
        if (outcome != Outcome::Ok) {
            if (outcome == Outcome::Failed)
                forgetReadAhead();
            return outcome;
        }
    }
    forgetReadAhead();
    return Outcome::Ok;
}

ImapResult<void> ImapClient::Connect(const QString &host)
{
    const QString op = QStringLiteral("Connect to %1:%2").arg(host).arg(port_);
    if (!session_.begin(op))
        return failed();
    ahead_.dropKept();
    host_ = host;
    if (const Outcome opened = session_.open(op, host, port_, ssl_, caFile_, maxMessageBytes_); opened != Outcome::Ok)
        return ended(opened);
    if (session_.capabilities().isEmpty()) {
        const Outcome outcome = session_.run(QStringLiteral("CAPABILITY"), ImapCommand("CAPABILITY"));
        if (outcome == Outcome::Failed)
            session_.close();
        if (outcome != Outcome::Ok)
            return ended(outcome);
    }
    session_.succeed(op);
    return {};
}

std::optional<QByteArray> ImapClient::oneLine(const QString &op, const QString &cmd)
{
    const QByteArray bytes = cmd.toUtf8();
    if (bytes.isEmpty() || bytes.contains('\r') || bytes.contains('\n') || bytes.contains('\0')) {
        session_.setOutcome(op + QStringLiteral(" failed: a command must be one line of text"),
                            ImapFailure::BadRequest);
        return std::nullopt;
    }
    return bytes;
}

ImapResult<QString> ImapClient::SendRawCommand(const QString &cmd)
{
    const QString op = cmd.section(QLatin1Char(' '), 0, 0).toUpper();
    if (!session_.begin(op) || !requireConnection(op))
        return session_.lastFault();
    const std::optional<QByteArray> bytes = oneLine(op, cmd);
    if (!bytes)
        return session_.lastFault();
    if (const Outcome drained = drainReadAhead(op); drained != Outcome::Ok)
        return ended(drained).fault();
    QList<QByteArray> lines;
    ImapResponse tagged;
    const auto onLine = [&lines](ImapResponse &r) { lines << r.raw; };
    if (const Outcome outcome = session_.run(op, ImapCommand(*bytes), onLine, &tagged); outcome != Outcome::Ok)
        return ended(outcome).fault();
    lines << tagged.raw;
    return QString::fromUtf8(lines.join("\r\n"));
}

ImapResult<void> ImapClient::sendAhead(const QString &cmd)
{
    const QString op = cmd.section(QLatin1Char(' '), 0, 0).toUpper();
    if (!prepare(op))
        return failed();
    const std::optional<QByteArray> bytes = oneLine(op, cmd);
    if (!bytes)
        return failed();
    session_.sendAhead(*bytes);
    session_.setOutcome(op + QStringLiteral(": sent"), ImapFailure::None);
    return {};
}

ImapResult<void> ImapClient::Login(const QString &user, const QString &password)
{
    const QString op = QStringLiteral("LOGIN");
    if (!prepare(op))
        return failed();
    session_.setSecret(password);
    if (session_.hasCapability("LOGINDISABLED") && session_.hasCapability("AUTH=PLAIN")) {
        const QByteArray plain = sasl::plain(user, password);
        session_.addSecret(QString::fromLatin1(plain.toBase64()));
        return authenticate(QStringLiteral("AUTHENTICATE PLAIN"), "PLAIN", plain);
    }
    const bool literalPlus = session_.hasCapability("LITERAL+");
    ImapCommand c("LOGIN ");
    c.astring(user.toUtf8(), literalPlus).text(" ").astring(password.toUtf8(), literalPlus);
    const Outcome outcome = session_.run(op, c);
    if (outcome == Outcome::Ok)
        session_.setSignedIn();
    return ended(outcome);
}

ImapResult<void> ImapClient::LoginWithToken(const QString &user, const QString &token)
{
    const QByteArray mechanism = sasl::tokenMechanism(session_.capabilities());
    const QString op = mechanism.isEmpty() ? QStringLiteral("AUTHENTICATE")
                                           : QStringLiteral("AUTHENTICATE ") + QString::fromLatin1(mechanism);
    if (!prepare(op))
        return failed();
    session_.setSecret(token);
    if (mechanism.isEmpty()) {
        session_.setOutcome(QStringLiteral("AUTHENTICATE failed: the server offers no sign-in with a token "
                                           "(neither AUTH=OAUTHBEARER nor AUTH=XOAUTH2)"),
                            ImapFailure::Refusal);
        return failed();
    }
    const QByteArray response =
        mechanism == "OAUTHBEARER" ? sasl::oauthBearer(user, token, host_, port_) : sasl::xoauth2(user, token);
    if (response.isEmpty()) {
        session_.setOutcome(op
                                + QStringLiteral(" failed: the user name or the token cannot be sent (control "
                                                 "characters or spaces)"),
                            ImapFailure::BadRequest);
        return failed();
    }
    session_.addSecret(QString::fromLatin1(response.toBase64()));
    return authenticate(op, mechanism, response);
}

ImapResult<void> ImapClient::authenticate(const QString &op, const QByteArray &mechanism, const QByteArray &response)
{
    // With SASL-IR the response goes on the command line; otherwise it answers
    // the server's first (empty) challenge. A challenge after the response is
    // the server's error report: it gets the empty line that ends the exchange.
    const bool initial = session_.hasCapability("SASL-IR");
    ImapCommand c("AUTHENTICATE " + mechanism);
    if (initial)
        c.text(' ' + response.toBase64());
    bool sent = initial;
    QByteArray report;
    c.answerChallenge = [&sent, &report, &response](const QByteArray &challenge) -> std::optional<QByteArray> {
        if (!sent) {
            sent = true;
            return response.toBase64();
        }
        report = challenge;
        return QByteArray();
    };
    ImapResponse tagged;
    const Outcome outcome = session_.run(op, c, {}, &tagged);
    if (outcome == Outcome::Ok)
        session_.setSignedIn();
    if (outcome == Outcome::Failed && session_.lastFailure() == ImapFailure::Refusal && !report.isEmpty()) {
        const QString why = sasl::describe(sasl::decodeErrorChallenge(report));
        session_.setOutcome(session_.lastError() + QStringLiteral(" (") + why + QLatin1Char(')'), ImapFailure::Refusal,
                            session_.lastFault().serverText);
    }
    return ended(outcome);
}

ImapResult<MailboxList> ImapClient::ListMailboxes(const QString &reference, const QString &pattern)
{
    const QString op = QStringLiteral("LIST");
    if (!prepare(op))
        return session_.lastFault();
    const bool literalPlus = session_.hasCapability("LITERAL+");
    ImapCommand c("LIST ");
    c.astring(encodeMailboxName(reference), literalPlus).text(" ").astring(encodeMailboxName(pattern), literalPlus);
    QList<MailboxInfo> boxes;
    const auto onList = [&boxes](ImapResponse &r) {
        if (std::optional<MailboxInfo> box = parseListResponse(r))
            boxes << std::move(*box);
    };
    if (const Outcome outcome = session_.run(op, c, onList); outcome != Outcome::Ok)
        return ended(outcome).fault();
    return MailboxList(std::move(boxes));
}

ImapResult<MailboxStatus> ImapClient::SelectMailbox(const QString &mailbox)
{
    const QString op = QStringLiteral("SELECT ") + mailbox;
    if (!prepare(op))
        return session_.lastFault();
    const bool isInbox = mailbox.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0;
    ImapCommand c("SELECT ");
    c.astring(isInbox ? QByteArray("INBOX") : encodeMailboxName(mailbox), session_.hasCapability("LITERAL+"));
    session_.setSelected(QString(), 0);
    uidValidity_ = 0;
    MailboxStatus status;
    const auto onUntagged = [&status](ImapResponse &r) { takeSelectResponse(r, status); };
    if (const Outcome outcome = session_.run(op, c, onUntagged); outcome != Outcome::Ok)
        return ended(outcome).fault();
    session_.setSelected(mailbox, status.exists);
    uidValidity_ = status.uidValidity;
    selectStatus_ = status;
    commandsAtSelect_ = session_.commandsSent();
    return status;
}

std::optional<MailboxStatus> ImapClient::untouchedSelection(const QString &mailbox) const
{
    if (!session_.isOpen() || session_.isBusy() || session_.selected().isEmpty() || session_.selected() != mailbox
        || session_.commandsSent() != commandsAtSelect_)
        return std::nullopt;
    MailboxStatus status = selectStatus_;
    status.exists = session_.exists();
    return status;
}

int ImapClient::NumMessages()
{
    return session_.selected().isEmpty() ? 0 : session_.exists();
}

void ImapClient::logOutWithoutWaiting()
{
    if (session_.isBusy() || !session_.isOpen() || ahead_.rangesOutstanding()) {
        Disconnect();
        return;
    }
    session_.send("LOGOUT");
    session_.flush();
    session_.close();
    session_.setSecret(QString());
    session_.setOutcome(QStringLiteral("LOGOUT: sent"), ImapFailure::None);
}

ImapResult<void> ImapClient::Disconnect()
{
    if (session_.isBusy()) {
        session_.abandon({ImapFailure::Disconnected, QStringLiteral("the connection was closed by Disconnect")});
        session_.setOutcome(QStringLiteral("Disconnect: the connection was closed while an operation waited"),
                            ImapFailure::None);
        return {};
    }
    if (!session_.isOpen()) {
        session_.setOutcome(QStringLiteral("Disconnect: not connected"), ImapFailure::NotConnected);
        return failed();
    }
    const QString op = QStringLiteral("LOGOUT");
    const Outcome drained = drainReadAhead(op);
    if (drained != Outcome::Ok) {
        if (drained == Outcome::Failed)
            session_.setSecret(QString());
        return ended(drained);
    }
    const int saved = session_.timeoutMs;
    session_.timeoutMs = qMin(saved, kLogoutTimeoutMs);
    const Outcome outcome = session_.run(op, ImapCommand("LOGOUT"));
    if (outcome == Outcome::Destroyed)
        return ended(outcome);
    session_.timeoutMs = saved;
    session_.close();
    session_.setSecret(QString());
    return ended(outcome);
}

}  // namespace vc
