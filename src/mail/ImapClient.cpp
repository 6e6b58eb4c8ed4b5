#include "mail/ImapClient.h"

#include "mail/ModifiedUtf7.h"
#include "mail/signin/Sasl.h"

namespace vc {

namespace {

constexpr int kLogoutTimeoutMs = 5000;

}  // namespace

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
    hooks.closed = [this] { ahead_.reset(); };
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
    decode_.clear();
    decodeNext_ = 0;
    walkLabels_.clear();
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

int ImapClient::Connect(const QString &host)
{
    const QString op = QStringLiteral("Connect to %1:%2").arg(host).arg(port_);
    if (!session_.begin(op))
        return 0;
    ahead_.dropKept();
    host_ = host;
    if (session_.open(op, host, port_, ssl_, caFile_, maxMessageBytes_) != Outcome::Ok)
        return 0;
    if (session_.capabilities().isEmpty()) {
        const Outcome outcome = session_.run(QStringLiteral("CAPABILITY"), ImapCommand("CAPABILITY"));
        if (outcome == Outcome::Failed)
            session_.close();
        if (outcome != Outcome::Ok)
            return 0;
    }
    session_.succeed(op);
    return 1;
}

QString ImapClient::SendRawCommand(const QString &cmd)
{
    const QString op = cmd.section(QLatin1Char(' '), 0, 0).toUpper();
    if (!session_.begin(op) || !requireConnection(op))
        return {};
    const QByteArray bytes = cmd.toUtf8();
    if (bytes.isEmpty() || bytes.contains('\r') || bytes.contains('\n') || bytes.contains('\0')) {
        session_.setOutcome(op + QStringLiteral(" failed: a command must be one line of text"),
                            ImapFailure::BadRequest);
        return {};
    }
    if (drainReadAhead(op) != Outcome::Ok)
        return {};
    QList<QByteArray> lines;
    ImapResponse tagged;
    const auto onLine = [&lines](ImapResponse &r) { lines << r.raw; };
    if (session_.run(op, ImapCommand(bytes), onLine, &tagged) != Outcome::Ok)
        return {};
    lines << tagged.raw;
    return QString::fromUtf8(lines.join("\r\n"));
}

int ImapClient::Login(const QString &user, const QString &password)
{
    const QString op = QStringLiteral("LOGIN");
    if (!prepare(op))
        return 0;
    session_.setSecret(password);
    if (session_.hasCapability("LOGINDISABLED") && session_.hasCapability("AUTH=PLAIN")) {
        const QByteArray plain = sasl::plain(user, password);
        session_.addSecret(QString::fromLatin1(plain.toBase64()));
        return authenticate(QStringLiteral("AUTHENTICATE PLAIN"), "PLAIN", plain);
    }
    const bool literalPlus = session_.hasCapability("LITERAL+");
    ImapCommand c("LOGIN ");
    c.astring(user.toUtf8(), literalPlus).text(" ").astring(password.toUtf8(), literalPlus);
    return session_.run(op, c) == Outcome::Ok ? 1 : 0;
}

int ImapClient::LoginWithToken(const QString &user, const QString &token)
{
    const QByteArray mechanism = sasl::tokenMechanism(session_.capabilities());
    const QString op = mechanism.isEmpty() ? QStringLiteral("AUTHENTICATE")
                                           : QStringLiteral("AUTHENTICATE ") + QString::fromLatin1(mechanism);
    if (!prepare(op))
        return 0;
    session_.setSecret(token);
    if (mechanism.isEmpty()) {
        session_.setOutcome(QStringLiteral("AUTHENTICATE failed: the server offers no sign-in with a token "
                                           "(neither AUTH=OAUTHBEARER nor AUTH=XOAUTH2)"),
                            ImapFailure::Refusal);
        return 0;
    }
    const QByteArray response =
        mechanism == "OAUTHBEARER" ? sasl::oauthBearer(user, token, host_, port_) : sasl::xoauth2(user, token);
    if (response.isEmpty()) {
        session_.setOutcome(op
                                + QStringLiteral(" failed: the user name or the token cannot be sent (control "
                                                 "characters or spaces)"),
                            ImapFailure::BadRequest);
        return 0;
    }
    session_.addSecret(QString::fromLatin1(response.toBase64()));
    return authenticate(op, mechanism, response);
}

int ImapClient::authenticate(const QString &op, const QByteArray &mechanism, const QByteArray &response)
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
        return 1;
    if (outcome == Outcome::Failed && session_.lastFailure() == ImapFailure::Refusal && !report.isEmpty()) {
        const QString why = sasl::describe(sasl::decodeErrorChallenge(report));
        session_.setOutcome(session_.lastError() + QStringLiteral(" (") + why + QLatin1Char(')'), ImapFailure::Refusal);
    }
    return 0;
}

std::unique_ptr<MailboxList> ImapClient::ListMailboxes(const QString &reference, const QString &pattern)
{
    const QString op = QStringLiteral("LIST");
    if (!prepare(op))
        return nullptr;
    const bool literalPlus = session_.hasCapability("LITERAL+");
    ImapCommand c("LIST ");
    c.astring(encodeMailboxName(reference), literalPlus).text(" ").astring(encodeMailboxName(pattern), literalPlus);
    QList<MailboxInfo> boxes;
    const auto onList = [&boxes](ImapResponse &r) {
        if (r.name() != "LIST" || r.values.size() < 4 || r.values[3].kind == ImapValue::Nil
            || r.values[3].kind == ImapValue::List)
            return;
        MailboxInfo box;
        box.name = decodeMailboxName(r.values[3].text);
        for (const ImapValue &flag : r.values[1].list)
            box.flags << QString::fromUtf8(flag.text);
        boxes << box;
    };
    if (session_.run(op, c, onList) != Outcome::Ok)
        return nullptr;
    return std::make_unique<MailboxList>(std::move(boxes));
}

int ImapClient::SelectMailbox(const QString &mailbox)
{
    const QString op = QStringLiteral("SELECT ") + mailbox;
    if (!prepare(op))
        return 0;
    const bool isInbox = mailbox.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0;
    ImapCommand c("SELECT ");
    c.astring(isInbox ? QByteArray("INBOX") : encodeMailboxName(mailbox), session_.hasCapability("LITERAL+"));
    session_.setSelected(QString(), 0);
    uidValidity_ = 0;
    qint64 exists = 0;
    const auto onExists = [&](ImapResponse &r) {
        if (r.name() == "EXISTS")
            exists = r.number();
        else if (r.status == "OK" && r.code.toUpper().startsWith("UIDVALIDITY "))
            uidValidity_ = r.code.mid(12).trimmed().toUInt();
    };
    if (session_.run(op, c, onExists) != Outcome::Ok)
        return 0;
    session_.setSelected(mailbox, exists);
    return 1;
}

int ImapClient::NumMessages()
{
    return session_.selected().isEmpty() ? 0 : session_.exists();
}

int ImapClient::Disconnect()
{
    if (session_.isBusy()) {
        session_.abandon({ImapFailure::Disconnected, QStringLiteral("the connection was closed by Disconnect")});
        session_.setOutcome(QStringLiteral("Disconnect: the connection was closed while an operation waited"),
                            ImapFailure::None);
        return 1;
    }
    if (!session_.isOpen()) {
        session_.setOutcome(QStringLiteral("Disconnect: not connected"), ImapFailure::NotConnected);
        return 0;
    }
    const QString op = QStringLiteral("LOGOUT");
    const Outcome drained = drainReadAhead(op);
    if (drained != Outcome::Ok) {
        if (drained == Outcome::Failed)
            session_.setSecret(QString());
        return 0;
    }
    const int saved = session_.timeoutMs;
    session_.timeoutMs = qMin(saved, kLogoutTimeoutMs);
    const Outcome outcome = session_.run(op, ImapCommand("LOGOUT"));
    if (outcome == Outcome::Destroyed)
        return 0;
    session_.timeoutMs = saved;
    session_.close();
    session_.setSecret(QString());
    return outcome == Outcome::Ok ? 1 : 0;
}

}  // namespace vc
