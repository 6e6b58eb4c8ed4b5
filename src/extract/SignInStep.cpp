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

// A server that does not offer ID is not asked; one that answers it NO or BAD
// is signed in to all the same. Only a connection that goes under the ID
// command ends the step.
StepResult<void> SignInStep::open()
{
    component().setSsl(account_.ssl);
    component().setPort(account_.config.port);
    if (ImapResult<void> connected = component().Connect(account_.config.host); !connected)
        return faultOf(RunStage::Connect, connected.fault());
    if (!component().Capabilities().contains(QStringLiteral("ID"), Qt::CaseInsensitive))
        return {};
    const ImapResult<QString> reply = component().SendRawCommand(kIdCommand);
    if (!reply && reply.fault().kind != ImapFailure::Refusal)
        return faultOf(RunStage::Connect, reply.fault());
    return {};
}

StepResult<void> SignInStep::logInWithPassword()
{
    const ImapResult<void> login = component().Login(account_.username, account_.password);
    if (login)
        return {};
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
