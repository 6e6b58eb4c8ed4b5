#include "mail/signin/SignInOptions.h"

#include "mail/signin/OAuthProviders.h"

namespace vc {

namespace {

cmdline::Option textRow(const QString &name, const QString &valueName, const QString &description,
                        const QString &example, QString *target)
{
    return {name, valueName, description, example, [name, target](const QString &v) {
                if (v.isEmpty())
                    return QStringLiteral("option --%1 needs a value").arg(name);
                *target = v;
                return QString();
            }};
}

}  // namespace

QList<cmdline::Option> signInOptions(SignInConfig &config)
{
    SignInConfig *c = &config;
    return {
        {QStringLiteral("auth"), QStringLiteral("METHOD"),
         QStringLiteral("sign in with: password or oauth2 (default oauth2 for the\nMicrosoft IMAP hosts, password "
                        "otherwise)"),
         QStringLiteral("oauth2"),
         [c](const QString &v) {
             if (v == QLatin1String("password"))
                 c->method = SignInMethod::Password;
             else if (v == QLatin1String("oauth2"))
                 c->method = SignInMethod::OAuth2;
             else
                 return QStringLiteral("unknown auth '%1' (one of password, oauth2)").arg(v);
             return QString();
         }},
        {QStringLiteral("oauth-provider"), QStringLiteral("NAME"),
         QStringLiteral("OAuth 2.0 provider: microsoft, google or custom (default:\nthe server's or the account's)"),
         QStringLiteral("google"),
         [c](const QString &v) {
             if (!findOAuthProvider(v))
                 return QStringLiteral("unknown oauth-provider '%1' (one of microsoft, google, custom)").arg(v);
             c->provider = v.toLower();
             return QString();
         }},
        textRow(QStringLiteral("oauth-client-id"), QStringLiteral("ID"),
                QStringLiteral("the client ID of your registered application (or the\nenvironment variable %1)")
                    .arg(QLatin1String(kClientIdVariable)),
                QStringLiteral("00000000-0000-0000-0000-000000000000"), &c->clientId),
        textRow(QStringLiteral("oauth-client-secret-env"), QStringLiteral("VAR"),
                QStringLiteral("take the client secret (Google desktop clients) from\nenvironment variable VAR"),
                QStringLiteral("VC_OAUTH_SECRET"), &c->clientSecretEnv),
        textRow(QStringLiteral("oauth-authority"), QStringLiteral("URL"),
                QStringLiteral("sign in at this authority instead of the provider's\n(https://, or http:// on "
                               "127.0.0.1/::1/localhost only)"),
                QStringLiteral("https://login.microsoftonline.com/common"), &c->authority),
        textRow(QStringLiteral("oauth-scope"), QStringLiteral("SCOPE"),
                QStringLiteral("ask for this scope instead of the provider's"), QStringLiteral("'imap offline_access'"),
                &c->scope),
        {QStringLiteral("oauth-flow"), QStringLiteral("FLOW"),
         QStringLiteral("device (a code to enter on any device; default) or browser"), QStringLiteral("browser"),
         [c](const QString &v) {
             if (v == QLatin1String("device"))
                 c->flow = OAuthFlow::Device;
             else if (v == QLatin1String("browser"))
                 c->flow = OAuthFlow::Browser;
             else
                 return QStringLiteral("unknown oauth-flow '%1' (one of device, browser)").arg(v);
             return QString();
         }},
        textRow(QStringLiteral("oauth-token-command"), QStringLiteral("CMD"),
                QStringLiteral("run CMD through the shell; the first line it prints is\nthe access token"),
                QStringLiteral("'oauth2-helper --account me'"), &c->tokenCommand),
        {QStringLiteral("no-keychain"), QString(),
         QStringLiteral("keep the sign-in in memory only, not in the system keychain"), QString(),
         [c](const QString &) {
             c->noKeychain = true;
             return QString();
         }},
    };
}

SignInPlan planSignIn(const SignInConfig &config, const QString &host, bool defaultServer, const QString &account,
                      DefaultMethod rule, std::optional<SignInMethod> chosen)
{
    const OAuthProvider *byHost = oauthProviderForHost(host);
    const OAuthProvider *byAccount = oauthProviderForAccount(account);
    SignInPlan plan;
    plan.host = host;
    if (chosen)
        plan.method = *chosen;
    else if (config.method)
        plan.method = *config.method;
    else if (rule == DefaultMethod::ByServer && byHost && byHost->id == QLatin1String("microsoft"))
        plan.method = SignInMethod::OAuth2;
    else if (byAccount && (rule == DefaultMethod::ByAccount || defaultServer))
        plan.method = SignInMethod::OAuth2;
    if (plan.method != SignInMethod::OAuth2)
        return plan;
    // On the default server the account's own provider wins (a Gmail address
    // goes to Gmail); elsewhere the server's.
    plan.provider = signInProvider(config, defaultServer && byAccount ? QString() : host, account);
    const OAuthProvider *p = findOAuthProvider(plan.provider);
    if (defaultServer && p && !p->imapHost.isEmpty() && !p->imapHosts.contains(host.toLower()))
        plan.host = p->imapHost;
    return plan;
}

QString signInProvider(const SignInConfig &config, const QString &host, const QString &account)
{
    if (!config.provider.isEmpty())
        return config.provider;
    if (const OAuthProvider *p = oauthProviderForHost(host))
        return p->id;
    if (const OAuthProvider *p = oauthProviderForAccount(account))
        return p->id;
    return QStringLiteral("custom");
}

OAuthSettings oauthSettingsFor(const SignInConfig &config, const QString &provider, const QString &storedClientId,
                               OAuthFlow flow, QString *error)
{
    OAuthSettings s;
    s.provider = provider;
    s.authority = config.authority;
    s.scope = config.scope;
    s.clientId = config.clientId;
    if (s.clientId.isEmpty())
        s.clientId = qEnvironmentVariable(kClientIdVariable).trimmed();
    if (s.clientId.isEmpty())
        s.clientId = storedClientId.trimmed();
    if (!config.clientSecretEnv.isEmpty()) {
        if (!qEnvironmentVariableIsSet(config.clientSecretEnv.toLocal8Bit().constData()))
            *error = QStringLiteral("environment variable %1 is not set").arg(config.clientSecretEnv);
        s.clientSecret = qEnvironmentVariable(config.clientSecretEnv.toLocal8Bit().constData());
    }
    s.flow = config.flow.value_or(flow);
    s.tokenCommand = config.tokenCommand;
    s.useKeychain = !config.noKeychain;
    return s;
}

}  // namespace vc
