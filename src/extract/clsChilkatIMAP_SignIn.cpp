// Signing in with OAuth 2.0: the connection object gets a token from its
// sign-in session (a browser or device-code sign-in when nothing can be
// renewed silently) and hands it to the component; a refused token is renewed
// once and tried again on a fresh connection.
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "extract/ErrorLog.h"
#include "extract/clsChilkatIMAP.h"
#include "mail/signin/OAuthSession.h"

namespace vc {

void clsChilkatIMAP::setSignIn(std::shared_ptr<OAuthSession> session, std::function<void(const QString &)> status)
{
    signIn_ = std::move(session);
    signInStatus_ = std::move(status);
    if (!signIn_)
        return;
    // Stop, Disconnect and Ctrl+C end a wait for the browser or the code.
    signIn_->aborted = [this] {
        noteStopRequest();
        return AbortProcess;
    };
    signIn_->status = [this](const QString &text) {
        if (signInStatus_)
            signInStatus_(text);
    };
    signIn_->notice = [](const QString &text) {
        dialogs().messageBox(text, BoxButtons::Ok, BoxIcon::Information, QString());
    };
    // The token command's messages go to the fetch log only; a log that
    // cannot be written changes nothing for the sign-in.
    signIn_->log = [this](const QString &text) {
        try {
            errorlog::append(errorLogPath_, text);
        } catch (const AppError &) {}
    };
}

void clsChilkatIMAP::signInFailed(const QString &text)
{
    dialogs().messageBox(text, BoxButtons::Ok, BoxIcon::Warning, QString());
}

namespace {

// Marks the connection object as waiting for a token for as long as it lives.
class SigningIn {
public:
    explicit SigningIn(bool &flag) : flag_(flag) { flag_ = true; }
    ~SigningIn() { flag_ = false; }

private:
    bool &flag_;
};

}  // namespace

bool clsChilkatIMAP::obtainToken(QString *token)
{
    bool got = false;
    {
        const SigningIn waiting(signingIn_);
        got = signIn_->accessToken(token);
    }
    if (got)
        return true;
    lastResult_ = 0;
    // A sign-in the user cancelled needs no box.
    if (signIn_->failure() != OAuthFailure::Cancelled)
        signInFailed(QStringLiteral("Sign-in failed: ") + signIn_->lastError());
    return false;
}

bool clsChilkatIMAP::logInWithToken(const QString &token)
{
    lastResult_ = ChilkatImap1->LoginWithToken(username_, token);
    if (lastResult_ == 1)
        return true;
    // The token may have expired or been revoked since it was issued: renew
    // it once. Some servers close the connection after a refused token, so
    // the second try goes over a new one.
    const QString refused = ChilkatImap1->LastErrorText();
    QString renewed;
    bool got = false;
    {
        const SigningIn waiting(signingIn_);
        got = signIn_->renewAfterRefusal(&renewed);
    }
    if (!got) {
        if (signIn_->failure() != OAuthFailure::Cancelled)
            signInFailed(QStringLiteral("The mail server refused the sign-in: %1\r\rRenewing it failed too: %2")
                             .arg(refused, signIn_->lastError()));
        return false;
    }
    ChilkatImap1->Disconnect();
    if (!openAndIdentify(true))
        return false;
    lastResult_ = ChilkatImap1->LoginWithToken(username_, renewed);
    if (lastResult_ == 1)
        return true;
    signInFailed(QStringLiteral("The mail server refused the sign-in: ") + ChilkatImap1->LastErrorText());
    return false;
}

}  // namespace vc
