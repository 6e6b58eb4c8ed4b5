#pragma once
#include "extract/Account.h"
#include "extract/StepFault.h"
#include "mail/ImapComponent.h"

#include <QPointer>

namespace vc {

// Connecting and signing in, as one step: connect (SSL and port from the
// account), the ID command where the server offers it, then the login with
// the password, or with an OAuth 2.0 token from the account's sign-in
// session. A refused token is renewed once and tried again on a fresh
// connection, since some servers close the connection after a refusal.
class SignInStep {
public:
    SignInStep(ImapComponent &imap, const Account &account);

    StepResult<void> run();
    // True when this step's last sign-in succeeded and the component still
    // holds that connection, signed in: a walk may go on on it.
    bool stillSignedIn() const { return signedIn_ && imap_ && imap_->isSignedIn(); }
    // True while the step waits for a token (the browser, the code, a renewal).
    bool waiting() const { return waiting_; }

    // The component; AppError "Object variable ... not set" once it has gone.
    ImapComponent &component() const;
    const ImapComponent *componentOrNull() const { return imap_.data(); }
    // The fault of `stage` for what the component reported, with the server
    // asked and, when it refused a certificate, why.
    StepFault faultOf(RunStage stage, const ImapFault &fault) const;

private:
    StepResult<void> signIn();
    StepResult<void> open();  // connect, ID
    bool lostUnderId(const ImapFault &fault) const;
    StepResult<void> logInWithPassword();
    StepResult<void> logInWithToken(const QString &token);
    StepResult<void> renewAndRetry(const ImapFault &refusal);
    StepFault signInFault(const QString &why, bool tokenRefused, const ImapFault &refusal = {}) const;

    QPointer<ImapComponent> imap_;
    const Account &account_;
    bool waiting_ = false;
    bool signedIn_ = false;  // the last run() succeeded
    bool idAhead_ = false;   // open() sent ID ahead of the login
};

}  // namespace vc
