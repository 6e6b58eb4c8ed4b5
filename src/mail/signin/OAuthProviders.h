#pragma once
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace vc {

// One OAuth 2.0 provider: where its endpoints are, what to ask for, and which
// IMAP hosts and account domains belong to it. The providers are data in one
// table (oauthProviders()); the sign-in code has no per-provider branches.
struct OAuthProvider {
    QString id;         // "microsoft", "google", "custom"
    QString name;       // for messages: "Microsoft", "Google", ...
    QString authority;  // default authority; empty: the user must give one
    // Endpoints, relative to the authority or absolute. An absolute endpoint
    // keeps only its path when the authority is overridden. Empty device-code
    // endpoint: the provider has no device-code flow.
    QString authorizeEndpoint;
    QString deviceCodeEndpoint;
    QString tokenEndpoint;
    bool discovery = false;                          // endpoints from <authority>/.well-known/openid-configuration
    QString scope;                                   // default scope; empty: the user must give one
    QString redirectHost;                            // host of the loopback redirect URI: "localhost" or "127.0.0.1"
    QList<QPair<QString, QString>> authorizeExtras;  // further query items of the authorise request
    QString imapHost;                                // its IMAP service (TLS, port 993)
    QStringList imapHosts;                           // host names recognised as this provider's
    QStringList accountDomains;                      // mail domains whose accounts sign in here

    bool hasDeviceFlow() const { return discovery || !deviceCodeEndpoint.isEmpty(); }
};

// The provider table: microsoft, google, custom.
const QList<OAuthProvider> &oauthProviders();
// By id (case-insensitive); nullptr when unknown.
const OAuthProvider *findOAuthProvider(const QString &id);
// The provider whose IMAP service `host` is; nullptr when none.
const OAuthProvider *oauthProviderForHost(const QString &host);
// The provider of a full address ("someone@outlook.com"); nullptr when none.
const OAuthProvider *oauthProviderForAccount(const QString &account);

// The endpoints of one sign-in.
struct OAuthEndpoints {
    QUrl authorize;
    QUrl deviceCode;  // empty: no device-code flow
    QUrl token;
};

// True for an address the program may use: https://, or http:// to a loopback
// address (127.0.0.0/8, ::1, localhost).
bool isAllowedOAuthUrl(const QUrl &url);

// An authority as one text, the same however it was written: scheme and host
// in lower case, the scheme's default port left out, no trailing "/".
QString normalisedAuthority(const QString &authority);

// The endpoints of `provider` under `authorityOverride` (empty: the provider's
// own authority). False with *error set when an address is missing or not
// allowed. Providers with discovery cannot be resolved here (see OAuthClient).
bool resolveOAuthEndpoints(const OAuthProvider &provider, const QString &authorityOverride, OAuthEndpoints *out,
                           QString *error);

}  // namespace vc
