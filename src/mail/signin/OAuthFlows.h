#pragma once
#include "mail/signin/OAuthHttp.h"
#include "mail/signin/OAuthProviders.h"
#include "mail/signin/OAuthSettings.h"

#include <functional>

namespace vc {

class LoopbackRedirect;
class SignInUi;

// The OAuth 2.0 exchanges of one sign-in: the browser flow (authorisation code
// with PKCE S256 and a loopback redirect), the device-code flow (RFC 8628) and
// the refresh. Browser launches and the device-code box go through the
// program's SignInUi.
// Every wait runs a local event loop with the abort check, so Stop cancels.
class OAuthFlows {
public:
    OAuthFlows(const OAuthSettings &settings, const QString &account, std::function<bool()> aborted,
               std::function<void(const QString &)> status, SignInUi &ui);
    OAuthFlows(const OAuthFlows &) = delete;
    OAuthFlows &operator=(const OAuthFlows &) = delete;

    // Finds the provider, checks the client ID and scope, resolves the
    // endpoints (asking the service itself when the provider uses discovery).
    bool prepare();
    // A new sign-in by the settings' flow; the browser flow falls back to the
    // device code when no browser can be opened.
    bool signIn(OAuthTokens *out);
    bool browserFlow(OAuthTokens *out);
    bool deviceFlow(OAuthTokens *out);
    bool refresh(const QString &refreshToken, OAuthTokens *out);

    QString error() const { return error_; }
    OAuthFailure failure() const { return failure_; }
    const OAuthProvider *provider() const { return provider_; }
    const OAuthEndpoints &endpoints() const { return endpoints_; }

    // "No OAuth 2.0 client ID is set for <name> sign-in. ..." plus `help`.
    static QString missingClientIdText(const QString &providerName, const QString &help);

private:
    bool discover(const QString &authority);
    bool takeTokens(const OAuthReply &reply, OAuthTokens *out, const QString &step);
    bool pollDeviceToken(const QString &deviceCode, int interval, int expiresIn, OAuthTokens *out);
    bool waitForBrowser(LoopbackRedirect &listener, const QUrl &url, OAuthTokens *out, const QByteArray &verifier);
    void addSecret(OAuthHttp::Form &form) const;
    bool fail(OAuthFailure failure, const QString &text);
    void say(const QString &text) const;

    OAuthSettings settings_;
    QString account_;
    std::function<bool()> aborted_;
    std::function<void(const QString &)> status_;
    SignInUi &ui_;
    OAuthHttp http_;
    const OAuthProvider *provider_ = nullptr;
    OAuthEndpoints endpoints_;
    QString scope_;
    bool prepared_ = false;
    QString error_;
    OAuthFailure failure_ = OAuthFailure::None;
};

}  // namespace vc
