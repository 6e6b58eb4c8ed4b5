#include "mail/signin/OAuthProviders.h"

#include <QHostAddress>

namespace vc {

namespace {

QList<OAuthProvider> makeTable()
{
    OAuthProvider microsoft;
    microsoft.id = QStringLiteral("microsoft");
    microsoft.name = QStringLiteral("Microsoft");
    microsoft.authority = QStringLiteral("https://login.microsoftonline.com/consumers");
    microsoft.authorizeEndpoint = QStringLiteral("oauth2/v2.0/authorize");
    microsoft.deviceCodeEndpoint = QStringLiteral("oauth2/v2.0/devicecode");
    microsoft.tokenEndpoint = QStringLiteral("oauth2/v2.0/token");
    microsoft.scope = QStringLiteral("https://outlook.office.com/IMAP.AccessAsUser.All offline_access");
    // An app registration lists "http://localhost"; the port may vary at run time.
    microsoft.redirectHost = QStringLiteral("localhost");
    microsoft.imapHost = QStringLiteral("outlook.office365.com");
    microsoft.imapHosts = {QStringLiteral("outlook.office365.com"), QStringLiteral("imap-mail.outlook.com")};
    microsoft.accountDomains = {QStringLiteral("outlook.com"), QStringLiteral("hotmail.com"),
                                QStringLiteral("live.com"), QStringLiteral("msn.com")};

    OAuthProvider google;
    google.id = QStringLiteral("google");
    google.name = QStringLiteral("Google");
    google.authority = QStringLiteral("https://accounts.google.com");
    google.authorizeEndpoint = QStringLiteral("o/oauth2/v2/auth");
    google.tokenEndpoint = QStringLiteral("https://oauth2.googleapis.com/token");
    google.scope = QStringLiteral("https://mail.google.com/");
    google.redirectHost = QStringLiteral("127.0.0.1");
    // Desktop clients get a refresh token with every code; offline access says so explicitly.
    google.authorizeExtras = {{QStringLiteral("access_type"), QStringLiteral("offline")}};
    google.imapHost = QStringLiteral("imap.gmail.com");
    google.imapHosts = {QStringLiteral("imap.gmail.com")};
    google.accountDomains = {QStringLiteral("gmail.com"), QStringLiteral("googlemail.com")};

    OAuthProvider custom;
    custom.id = QStringLiteral("custom");
    custom.name = QStringLiteral("the sign-in service");
    custom.discovery = true;
    custom.redirectHost = QStringLiteral("127.0.0.1");

    return {microsoft, google, custom};
}

// `endpoint` relative to `authority`, or absolute; with an overridden authority
// an absolute endpoint keeps only its path.
QUrl endpointUrl(const QString &authority, const QString &endpoint, bool overridden)
{
    const QUrl given(endpoint);
    QString relative = endpoint;
    if (given.isRelative() == false) {
        if (!overridden)
            return given;
        relative = given.path();
    }
    QString base = authority;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    return QUrl(base + QLatin1Char('/') + relative);
}

}  // namespace

const QList<OAuthProvider> &oauthProviders()
{
    static const QList<OAuthProvider> table = makeTable();
    return table;
}

const OAuthProvider *findOAuthProvider(const QString &id)
{
    for (const OAuthProvider &p : oauthProviders()) {
        if (p.id.compare(id.trimmed(), Qt::CaseInsensitive) == 0)
            return &p;
    }
    return nullptr;
}

const OAuthProvider *oauthProviderForHost(const QString &host)
{
    const QString h = host.trimmed().toLower();
    for (const OAuthProvider &p : oauthProviders()) {
        if (p.imapHosts.contains(h))
            return &p;
    }
    return nullptr;
}

const OAuthProvider *oauthProviderForAccount(const QString &account)
{
    const qsizetype at = account.lastIndexOf(QLatin1Char('@'));
    if (at < 0)
        return nullptr;
    const QString domain = account.mid(at + 1).trimmed().toLower();
    for (const OAuthProvider &p : oauthProviders()) {
        if (p.accountDomains.contains(domain))
            return &p;
    }
    return nullptr;
}

bool isAllowedOAuthUrl(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    const QString host = url.host().toLower();
    if (host == QLatin1String("localhost"))
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QString normalisedAuthority(const QString &authority)
{
    QUrl url(authority.trimmed());
    if (!url.isValid() || url.host().isEmpty())
        return authority.trimmed();
    url.setScheme(url.scheme().toLower());
    url.setHost(url.host().toLower());
    if ((url.scheme() == QLatin1String("https") && url.port() == 443)
        || (url.scheme() == QLatin1String("http") && url.port() == 80))
        url.setPort(-1);
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path);
    return url.toString(QUrl::FullyEncoded);
}

bool resolveOAuthEndpoints(const OAuthProvider &provider, const QString &authorityOverride, OAuthEndpoints *out,
                           QString *error)
{
    const bool overridden = !authorityOverride.trimmed().isEmpty();
    const QString authority = overridden ? authorityOverride.trimmed() : provider.authority;
    if (authority.isEmpty()) {
        *error = QStringLiteral("No sign-in authority is set for %1; give its address (the part before "
                                "/.well-known/openid-configuration).")
                     .arg(provider.name);
        return false;
    }
    if (!isAllowedOAuthUrl(QUrl(authority))) {
        *error = QStringLiteral("The sign-in authority %1 must start with https:// (plain http:// is allowed only "
                                "for 127.0.0.1, ::1 and localhost).")
                     .arg(authority);
        return false;
    }
    OAuthEndpoints e;
    e.authorize = endpointUrl(authority, provider.authorizeEndpoint, overridden);
    e.token = endpointUrl(authority, provider.tokenEndpoint, overridden);
    if (!provider.deviceCodeEndpoint.isEmpty())
        e.deviceCode = endpointUrl(authority, provider.deviceCodeEndpoint, overridden);
    *out = e;
    return true;
}

}  // namespace vc
