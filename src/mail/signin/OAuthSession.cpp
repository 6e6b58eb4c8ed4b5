#include "mail/signin/OAuthSession.h"

#include "mail/signin/OAuthFlows.h"
#include "mail/signin/OAuthProviders.h"
#include "mail/signin/Sasl.h"
#include "mail/signin/SignInUi.h"
#include "mail/signin/TokenCommand.h"
#include "mail/signin/TokenStore.h"

#include <QHash>

namespace vc {

struct OAuthSession::Cached {
    QString accessToken;
    QDateTime expiresAt;
    QString refreshToken;
};

QHash<QString, OAuthSession::Cached *> &OAuthSession::memory()
{
    static QHash<QString, Cached *> m;
    return m;
}

OAuthSession::OAuthSession(OAuthSettings settings, QString account, SignInUi &ui)
    : notice([&ui](const QString &text) { ui.notice(text); }), settings_(std::move(settings)),
      account_(std::move(account)), ui_(ui)
{}

OAuthSession::~OAuthSession() = default;

void OAuthSession::clearMemory()
{
    qDeleteAll(memory());
    memory().clear();
}

QString OAuthSession::authority() const
{
    if (!settings_.authority.trimmed().isEmpty())
        return settings_.authority.trimmed();
    const OAuthProvider *p = findOAuthProvider(settings_.provider);
    return p ? p->authority : QString();
}

QString OAuthSession::storeKey() const
{
    return tokenStoreKey(settings_.provider.toLower(), authority(), settings_.clientId, account_);
}

QString OAuthSession::legacyStoreKey() const
{
    return legacyTokenStoreKey(settings_.provider.toLower(), settings_.clientId, account_);
}

bool OAuthSession::providersOwnAuthority() const
{
    const OAuthProvider *p = findOAuthProvider(settings_.provider);
    return p && !p->authority.isEmpty() && normalisedAuthority(authority()) == normalisedAuthority(p->authority);
}

QString OAuthSession::storedRefreshToken()
{
    TokenStore *s = store();
    if (!s)
        return {};
    QString token = s->load(storeKey());
    // An entry of an earlier version has no authority in its key. It can only
    // have come from the provider's own service, so it moves to that
    // authority's key; under any other authority it is not used.
    if (token.isEmpty() && providersOwnAuthority()) {
        token = s->load(legacyStoreKey());
        if (!token.isEmpty()) {
            s->save(storeKey(), token);
            s->remove(legacyStoreKey());
        }
    }
    return token;
}

OAuthSession::Cached &OAuthSession::cached()
{
    // The authority is part of the key: a token of one service is no use at another.
    Cached *&c = memory()[storeKey()];
    if (!c)
        c = new Cached;
    return *c;
}

TokenStore *OAuthSession::store()
{
    if (!settings_.remember || !settings_.useKeychain)
        return nullptr;
    if (!store_) {
        ownStore_ = std::make_unique<KeychainTokenStore>(notice);
        store_ = ownStore_.get();
    }
    return store_;
}

bool OAuthSession::fail(OAuthFailure failure, const QString &text)
{
    failure_ = failure;
    error_ = text;
    return false;
}

bool OAuthSession::fromCommand(QString *token)
{
    if (status)
        status(QStringLiteral("Running the token command..."));
    const TokenCommandResult r = runTokenCommand(settings_.tokenCommand, settings_.requestTimeoutMs, aborted);
    if (!r.log.isEmpty() && log)
        log(QStringLiteral("The token command wrote: ") + r.log);
    if (!r.ok)
        return fail(r.aborted ? OAuthFailure::Cancelled : OAuthFailure::Setup, r.error);
    if (!sasl::isBearerToken(r.token))
        return fail(OAuthFailure::Setup, QStringLiteral("The token command's first line is not an access token."));
    *token = r.token;
    return true;
}

bool OAuthSession::accessToken(QString *token)
{
    failure_ = OAuthFailure::None;
    error_.clear();
    if (!settings_.tokenCommand.isEmpty())
        return fromCommand(token);
    Cached &c = cached();
    if (!c.accessToken.isEmpty() && QDateTime::currentDateTimeUtc().secsTo(c.expiresAt) > kRenewMarginSecs) {
        *token = c.accessToken;
        return true;
    }
    return renewOrSignIn(token);
}

bool OAuthSession::renewAfterRefusal(QString *token)
{
    failure_ = OAuthFailure::None;
    error_.clear();
    if (!settings_.tokenCommand.isEmpty())
        return fromCommand(token);
    cached().accessToken.clear();
    return renewOrSignIn(token);
}

bool OAuthSession::renewOrSignIn(QString *token)
{
    Cached &c = cached();
    c.accessToken.clear();
    OAuthFlows flows(settings_, account_, aborted, status, ui_);
    if (!flows.prepare())
        return fail(flows.failure(), flows.error());
    QString refresh = c.refreshToken;
    if (refresh.isEmpty())
        refresh = storedRefreshToken();
    OAuthTokens t;
    if (!refresh.isEmpty()) {
        if (flows.refresh(refresh, &t))
            return keep(t, token);
        if (flows.failure() != OAuthFailure::InvalidGrant)
            return fail(flows.failure(), flows.error());
        // The refresh token is dead: forget it and sign in anew.
        c.refreshToken.clear();
        if (TokenStore *s = store())
            s->remove(storeKey());
    }
    if (!settings_.interactive)
        return fail(OAuthFailure::Setup, flows.error().isEmpty()
                                             ? QStringLiteral("The account has to sign in again in the browser.")
                                             : flows.error());
    if (!flows.signIn(&t))
        return fail(flows.failure(), flows.error());
    return keep(t, token);
}

bool OAuthSession::keep(const OAuthTokens &t, QString *token)
{
    Cached &c = cached();
    c.accessToken = t.accessToken;
    c.expiresAt = t.expiresAt;
    if (!t.refreshToken.isEmpty()) {
        c.refreshToken = t.refreshToken;
        if (TokenStore *s = store())
            s->save(storeKey(), t.refreshToken);
    }
    *token = t.accessToken;
    return true;
}

void OAuthSession::forget()
{
    cached() = Cached();
    // An entry of an earlier run that remembered goes too; quietly when there
    // is no keychain, as this run never asked for one.
    const auto removeFrom = [this](TokenStore &s) {
        s.remove(storeKey());
        s.remove(legacyStoreKey());
    };
    if (store_) {
        removeFrom(*store_);
    } else if (settings_.useKeychain) {
        KeychainTokenStore quiet;
        removeFrom(quiet);
    }
}

}  // namespace vc
