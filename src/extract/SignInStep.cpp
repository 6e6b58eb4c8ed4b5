#include "extract/SignInStep.h"

#include "core/AppError.h"
#include "mail/ImapComponent.h"
#include "mail/signin/OAuthSession.h"
#include "mail/signin/Sasl.h"

#include <QScopeGuard>

namespace vc {

namespace {

const QString kIdCommand = QStringLiteral("ID (\"GUID\" \"1\")");

}  // namespace

SignInStep::SignInStep(ImapComponent &imap, const Account &account) : imap_(&imap), account_(account) {}

ImapComponent &SignInStep::component() const
{
    if (!imap_)
        raise(err::ObjectNotSet);
    return *imap_;
}

StepFault SignInStep::faultOf(RunStage stage, const ImapFault &fault) const
{
    StepFault f;
    f.stage = stage;
    f.fault = fault;
    f.host = account_.config.host;
    f.port = account_.config.port;
    f.certificateErrors = component().certificateErrors();
    return f;
}

StepFault SignInStep::signInFault(const QString &why, bool tokenRefused, const ImapFault &refusal) const
{
    StepFault f = faultOf(RunStage::SignIn, tokenRefused ? refusal : ImapFault(ImapFailure::Refusal, why));
    f.tokenRefused = tokenRefused;
    if (tokenRefused)
        f.renewal = why;
    f.cancelled = account_.signIn->failure() == OAuthFailure::Cancelled;
    return f;
}

StepResult<void> SignInStep::run()
{
    signedIn_ = false;
    StepResult<void> r = signIn();
    signedIn_ = bool(r);
    return r;
}

StepResult<void> SignInStep::signIn()
{
    // A token first: the user may take a while in the browser, longer than a
    // server keeps a connection that has not signed in.
    QString token;
    if (account_.signIn) {
        bool got = false;
        {
            waiting_ = true;
            const auto done = qScopeGuard([this] { waiting_ = false; });
            got = account_.signIn->accessToken(&token);
        }
        if (!got)
            return signInFault(account_.signIn->lastError(), false);
    }
    if (StepResult<void> opened = open(); !opened)
        return opened;
    return account_.signIn ? logInWithToken(token) : logInWithPassword();
}

// A server that does not offer ID is not asked. The ID goes ahead of the
// login without waiting for its answer (a NO or BAD to it changes nothing), so
// the sign-in costs one round trip less; a line that goes under it fails the
// login, which then says so as a failed connection.
StepResult<void> SignInStep::open()
{
    idAhead_ = false;
    component().setSsl(account_.ssl);
    component().setPort(account_.config.port);
    if (ImapResult<void> connected = component().Connect(account_.config.host); !connected)
        return faultOf(RunStage::Connect, connected.fault());
    if (!component().Capabilities().contains(QStringLiteral("ID"), Qt::CaseInsensitive))
        return {};
    const ImapResult<void> sent = component().sendAhead(kIdCommand);
    if (!sent && sent.fault().kind != ImapFailure::Refusal)
        return faultOf(RunStage::Connect, sent.fault());
    idAhead_ = true;
    return {};
}

// A login that failed without a refusal, after an ID that went ahead of it:
// the line went under one of the two.
bool SignInStep::lostUnderId(const ImapFault &fault) const
{
    if (!idAhead_)
        return false;
    switch (fault.kind) {
    case ImapFailure::ClosedByServer:
    case ImapFailure::Network:
    case ImapFailure::TimedOut:
    case ImapFailure::NotConnected:
    case ImapFailure::Protocol: return true;
    default: return false;
    }
}

StepResult<void> SignInStep::logInWithPassword()
{
    const ImapResult<void> login = component().Login(account_.username, account_.password);
    if (login)
        return {};
    if (lostUnderId(login.fault()))
        return faultOf(RunStage::Connect, login.fault());
    StepFault f = faultOf(RunStage::Login, login.fault());
    if (!account_.tokenHint.isEmpty() && sasl::offersTokens(component().Capabilities()))
        f.hint = account_.tokenHint;
    return f;
}

StepResult<void> SignInStep::logInWithToken(const QString &token)
{
    const ImapResult<void> login = component().LoginWithToken(account_.username, token);
    if (login)
        return {};
    if (lostUnderId(login.fault()))
        return faultOf(RunStage::Connect, login.fault());
    // The token may have expired or been revoked since it was issued.
    return renewAndRetry(login.fault());
}

StepResult<void> SignInStep::renewAndRetry(const ImapFault &refusal)
{
    QString renewed;
    bool got = false;
    {
        waiting_ = true;
        const auto done = qScopeGuard([this] { waiting_ = false; });
        got = account_.signIn->renewAfterRefusal(&renewed);
    }
    if (!got)
        return signInFault(account_.signIn->lastError(), true, refusal);
    component().Disconnect();
    if (StepResult<void> opened = open(); !opened)
        return opened;
    const ImapResult<void> again = component().LoginWithToken(account_.username, renewed);
    if (again)
        return {};
    StepFault f = faultOf(RunStage::SignIn, again.fault());
    f.tokenRefused = true;
    return f;
}

}  // namespace vc
