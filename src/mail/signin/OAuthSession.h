#pragma once
#include "mail/signin/OAuthSettings.h"

#include <QHash>
#include <QString>

#include <functional>
#include <memory>

namespace vc {

class SignInUi;
class TokenStore;

// Keeps one account signed in: hands out access tokens, renews them with the
// refresh token shortly before they expire, and signs in anew (browser or
// device code) only when there is nothing to renew with. Tokens live in
// memory for the rest of the program's run, shared by every session of the
// same account; the refresh token also goes to the system keychain when the
// settings say `remember`. With a token command, that command supplies every
// access token instead.
class OAuthSession {
public:
    // `ui` (not owned) shows what the person signing in must see or do; it
    // outlives the session.
    OAuthSession(OAuthSettings settings, QString account, SignInUi &ui);
    ~OAuthSession();

    // Stop, Disconnect: true cancels any wait.
    std::function<bool()> aborted;
    // What is happening, for the status line ("Waiting for sign-in in your browser...").
    std::function<void(const QString &)> status;
    // Things to tell the user once (no keychain service); the UI's notice
    // unless replaced.
    std::function<void(const QString &)> notice;
    // What belongs in the fetch log only: the token command's standard error,
    // already redacted.
    std::function<void(const QString &)> log;
    // Replaces the system keychain (tests); not owned.
    void setTokenStore(TokenStore *store) { store_ = store; }

    // An access token for the account; false with lastError() set.
    bool accessToken(QString *token);
    // The server refused the token it got last: forget it and get another
    // (renewed, the token command's again, or a new sign-in when nothing is left
    // to renew with). Call once per refusal.
    bool renewAfterRefusal(QString *token);
    // Forgets the account's tokens, in memory and in the keychain.
    void forget();

    QString lastError() const { return error_; }
    OAuthFailure failure() const { return failure_; }
    const OAuthSettings &settings() const { return settings_; }

    // Refresh this long before an access token expires.
    static constexpr int kRenewMarginSecs = 300;
    // Drops every token kept in memory (tests).
    static void clearMemory();

private:
    struct Cached;
    static QHash<QString, Cached *> &memory();
    Cached &cached();
    bool fromCommand(QString *token);
    bool renewOrSignIn(QString *token);
    bool keep(const OAuthTokens &t, QString *token);
    TokenStore *store();
    QString authority() const;  // the one the settings give, else the provider's
    QString storeKey() const;
    QString legacyStoreKey() const;
    bool providersOwnAuthority() const;
    QString storedRefreshToken();  // from the keychain, an older entry moved first
    bool fail(OAuthFailure failure, const QString &text);

    OAuthSettings settings_;
    QString account_;
    SignInUi &ui_;
    TokenStore *store_ = nullptr;
    std::unique_ptr<TokenStore> ownStore_;
    QString error_;
    OAuthFailure failure_ = OAuthFailure::None;
};

}  // namespace vc
