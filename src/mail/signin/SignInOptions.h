#pragma once
#include "core/CommandLine.h"
#include "mail/signin/OAuthSettings.h"

#include <QList>
#include <QString>

#include <optional>

namespace vc {

// How an account signs in: with its password (LOGIN) or with OAuth 2.0 tokens.
enum class SignInMethod { Password, OAuth2 };

// What the command line says about signing in (--auth, --oauth-...). Empty or
// unset members leave the choice to the account and the server.
struct SignInConfig {
    std::optional<SignInMethod> method;  // --auth
    QString provider;                    // --oauth-provider
    QString clientId;                    // --oauth-client-id
    QString clientSecretEnv;             // --oauth-client-secret-env: name of the variable
    QString authority;                   // --oauth-authority
    QString scope;                       // --oauth-scope
    std::optional<OAuthFlow> flow;       // --oauth-flow
    QString tokenCommand;                // --oauth-token-command
    bool noKeychain = false;             // --no-keychain
};

// The environment variable that holds a client ID when no option gives one.
inline constexpr char kClientIdVariable[] = "VC_OAUTH_CLIENT_ID";

// The sign-in options of both programs, one row each, filling `config`.
QList<cmdline::Option> signInOptions(SignInConfig &config);

// How one account signs in, all things considered.
struct SignInPlan {
    SignInMethod method = SignInMethod::Password;
    QString host;      // the IMAP server to connect to
    QString provider;  // for OAuth 2.0: the provider's id
};

// Which accounts sign in with OAuth 2.0 when neither the account nor --auth
// chooses: by the server (the command-line program: the Microsoft IMAP hosts
// take nothing else) or by the account (the window: addresses of a provider's
// mail domains, such as the Outlook.com suffixes and Gmail addresses). Both
// also take a provider's address on the default server.
enum class DefaultMethod { ByServer, ByAccount };

// The plan for `account` on `host` (`defaultServer`: no server was named).
// The method is `chosen` (the account's own choice), else --auth, else the
// default rule. An OAuth 2.0 account on the default server goes to its
// provider's IMAP service when the default server is not one of its hosts.
SignInPlan planSignIn(const SignInConfig &config, const QString &host, bool defaultServer, const QString &account,
                      DefaultMethod rule, std::optional<SignInMethod> chosen = std::nullopt);

// The provider of an account that signs in with OAuth 2.0: the one given, else
// the IMAP host's, else the one of the account's mail domain, else "custom".
QString signInProvider(const SignInConfig &config, const QString &host, const QString &account);

// The OAuth 2.0 settings of `provider` from the command line. The client ID
// comes from the option, else VC_OAUTH_CLIENT_ID, else `storedClientId`; the
// secret from the variable --oauth-client-secret-env names (*error says so
// when it is not set). `flow` applies when the command line names none.
OAuthSettings oauthSettingsFor(const SignInConfig &config, const QString &provider, const QString &storedClientId,
                               OAuthFlow flow, QString *error);

}  // namespace vc
