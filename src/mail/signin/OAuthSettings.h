#pragma once
#include <QDateTime>
#include <QString>

namespace vc {

enum class OAuthFlow { Browser, Device };

// How one account signs in with OAuth 2.0.
struct OAuthSettings {
    QString provider = QStringLiteral("microsoft");  // an id of oauthProviders()
    QString authority;                               // overrides the provider's; empty: the provider's
    QString scope;                                   // overrides the provider's; empty: the provider's
    QString clientId;
    QString clientSecret;  // Google's desktop clients have one (it is not secret)
    OAuthFlow flow = OAuthFlow::Browser;
    QString tokenCommand;          // non-empty: this command prints the access token instead
    bool remember = false;         // keep the refresh token in the system keychain
    bool useKeychain = true;       // false: never touch the keychain
    bool interactive = true;       // false: only silent renewals; a needed sign-in fails
    int requestTimeoutMs = 60000;  // one exchange with the sign-in service
    int signInTimeoutMs = 600000;  // the user's part in the browser
    QString clientIdHelp;          // appended to the "no client ID" message: where to set one
};

// Tokens from one sign-in or renewal.
struct OAuthTokens {
    QString accessToken;
    QString refreshToken;  // empty when the service sent none
    QDateTime expiresAt;   // UTC
    QString scope;
};

// Why a sign-in failed.
enum class OAuthFailure {
    None,
    Setup,         // something is missing or not allowed (client ID, authority, ...)
    Refused,       // the provider or the user said no
    Expired,       // the code or the wait ran out
    Cancelled,     // Stop, Disconnect or the box's Cancel
    InvalidGrant,  // the refresh token is no longer accepted
    Network,       // the service could not be reached or answered nonsense
};

}  // namespace vc
