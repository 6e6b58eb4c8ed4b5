#include "mail/signin/OAuthFlows.h"

#include "mail/signin/LoopbackRedirect.h"
#include "mail/signin/Pkce.h"
#include "mail/signin/Sasl.h"
#include "mail/signin/SignInUi.h"
#include "mail/signin/SignInWait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonValue>

namespace vc {

namespace {

const QString kDeviceGrant = QStringLiteral("urn:ietf:params:oauth:grant-type:device_code");

// Lifetimes and pauses that services send; anything outside these ranges (or
// not a number) counts as absent and the usual value applies.
constexpr qint64 kMaxTokenLifetimeSecs = qint64(366) * 24 * 3600;
constexpr qint64 kMaxCodeLifetimeSecs = 24 * 3600;
constexpr qint64 kMaxPollIntervalSecs = 3600;

qint64 numberMember(const QJsonObject &o, const char *key, qint64 min, qint64 max, qint64 fallback)
{
    return boundedNumber(o.value(QLatin1String(key)), min, max).value_or(fallback);
}

// Closes the sign-in code box when the flow ends, however it ends.
struct CodeBox {
    explicit CodeBox(SignInUi &ui) : ui_(ui) {}
    bool shown = false;
    ~CodeBox()
    {
        if (shown)
            ui_.closeSignInCode();
    }

private:
    SignInUi &ui_;
};

}  // namespace

OAuthFlows::OAuthFlows(const OAuthSettings &settings, const QString &account, std::function<bool()> aborted,
                       std::function<void(const QString &)> status, SignInUi &ui)
    : settings_(settings), account_(account), aborted_(std::move(aborted)), status_(std::move(status)), ui_(ui),
      http_(settings.requestTimeoutMs, [this] { return aborted_ && aborted_(); })
{}

QString OAuthFlows::missingClientIdText(const QString &providerName, const QString &help)
{
    QString text = QStringLiteral("No OAuth 2.0 client ID is set for %1 sign-in. Register a free application with "
                                  "%1 (README.md, \"Signing in with OAuth 2.0\") and give its client ID.")
                       .arg(providerName);
    if (!help.isEmpty())
        text += QLatin1Char(' ') + help;
    return text;
}

bool OAuthFlows::fail(OAuthFailure failure, const QString &text)
{
    failure_ = failure;
    error_ = text;
    return false;
}

void OAuthFlows::say(const QString &text) const
{
    if (status_)
        status_(text);
}

void OAuthFlows::addSecret(OAuthHttp::Form &form) const
{
    if (!settings_.clientSecret.isEmpty())
        form.append({QStringLiteral("client_secret"), settings_.clientSecret});
}

bool OAuthFlows::prepare()
{
    if (prepared_)
        return true;
    provider_ = findOAuthProvider(settings_.provider);
    if (!provider_)
        return fail(OAuthFailure::Setup, QStringLiteral("Unknown sign-in provider \"%1\"; use microsoft, google or "
                                                        "custom.")
                                             .arg(settings_.provider));
    if (settings_.clientId.trimmed().isEmpty())
        return fail(OAuthFailure::Setup, missingClientIdText(provider_->name, settings_.clientIdHelp));
    scope_ = settings_.scope.trimmed().isEmpty() ? provider_->scope : settings_.scope.trimmed();
    if (scope_.isEmpty())
        return fail(OAuthFailure::Setup, QStringLiteral("No scope is set for the sign-in; give the scope that the "
                                                        "service requires for IMAP."));
    QString why;
    if (provider_->discovery) {
        if (!discover(settings_.authority))
            return false;
    } else if (!resolveOAuthEndpoints(*provider_, settings_.authority, &endpoints_, &why)) {
        return fail(OAuthFailure::Setup, why);
    }
    prepared_ = true;
    return true;
}

bool OAuthFlows::discover(const QString &authority)
{
    const QString base = authority.trimmed();
    if (base.isEmpty())
        return fail(OAuthFailure::Setup,
                    QStringLiteral("No sign-in authority is set; give the address of the sign-in "
                                   "service (the part before /.well-known/openid-configuration)."));
    if (!isAllowedOAuthUrl(QUrl(base)))
        return fail(OAuthFailure::Setup, QStringLiteral("The sign-in authority %1 must start with https:// (plain "
                                                        "http:// is allowed only for 127.0.0.1, ::1 and localhost).")
                                             .arg(base));
    QString root = base;
    while (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    const OAuthReply r = http_.getJson(QUrl(root + QStringLiteral("/.well-known/openid-configuration")));
    if (!r.ok())
        return fail(r.failure == OAuthReply::Aborted ? OAuthFailure::Cancelled : OAuthFailure::Network,
                    QStringLiteral("The sign-in service's configuration could not be read: %1.").arg(r.reason()));
    // The document must be the authority's own (OpenID Connect Discovery 1.0,
    // section 4.3): one that names another issuer is not used.
    const QString issuer = r.json.value(QLatin1String("issuer")).toString();
    if (normalisedAuthority(issuer) != normalisedAuthority(base))
        return fail(OAuthFailure::Setup,
                    QStringLiteral("The sign-in service's configuration belongs to %1, not to the authority %2, so "
                                   "it was not used.")
                        .arg(issuer.isEmpty() ? QStringLiteral("no named issuer") : issuer, base));
    endpoints_.authorize = QUrl(r.json.value(QLatin1String("authorization_endpoint")).toString());
    endpoints_.token = QUrl(r.json.value(QLatin1String("token_endpoint")).toString());
    endpoints_.deviceCode = QUrl(r.json.value(QLatin1String("device_authorization_endpoint")).toString());
    const bool deviceOk = endpoints_.deviceCode.isEmpty() || isAllowedOAuthUrl(endpoints_.deviceCode);
    if (!isAllowedOAuthUrl(endpoints_.authorize) || !isAllowedOAuthUrl(endpoints_.token) || !deviceOk)
        return fail(OAuthFailure::Setup, QStringLiteral("The sign-in service's configuration names endpoints that "
                                                        "are not https:// addresses."));
    return true;
}

bool OAuthFlows::signIn(OAuthTokens *out)
{
    if (!prepare())
        return false;
    return settings_.flow == OAuthFlow::Device ? deviceFlow(out) : browserFlow(out);
}

bool OAuthFlows::browserFlow(OAuthTokens *out)
{
    if (!prepare())
        return false;
    LoopbackRedirect listener;
    QString why;
    const bool localhost = provider_->redirectHost == QLatin1String("localhost");
    if (!listener.listen(&why, localhost ? LoopbackRedirect::Families::Both : LoopbackRedirect::Families::Ipv4Only))
        return fail(OAuthFailure::Setup, QStringLiteral("The sign-in could not start: %1.").arg(why));
    const QByteArray verifier = pkce::makeVerifier();
    const QByteArray state = pkce::makeState();
    listener.setExpectedState(state);
    OAuthHttp::Form items{{QStringLiteral("client_id"), settings_.clientId},
                          {QStringLiteral("response_type"), QStringLiteral("code")},
                          {QStringLiteral("redirect_uri"), listener.redirectUri(provider_->redirectHost).toString()},
                          {QStringLiteral("scope"), scope_},
                          {QStringLiteral("state"), QString::fromLatin1(state)},
                          {QStringLiteral("code_challenge"), QString::fromLatin1(pkce::challengeFor(verifier))},
                          {QStringLiteral("code_challenge_method"), QStringLiteral("S256")}};
    if (account_.contains(QLatin1Char('@')))
        items.append({QStringLiteral("login_hint"), account_});
    items += provider_->authorizeExtras;
    QUrl url = endpoints_.authorize;
    QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
    query += (query.isEmpty() ? "" : "&") + OAuthHttp::encodeForm(items);
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    return waitForBrowser(listener, url, out, verifier);
}

bool OAuthFlows::waitForBrowser(LoopbackRedirect &listener, const QUrl &url, OAuthTokens *out,
                                const QByteArray &verifier)
{
    CodeBox box(ui_);
    bool cancelled = false;
    if (!ui_.openUrl(url)) {
        if (provider_->hasDeviceFlow() && !endpoints_.deviceCode.isEmpty()) {
            listener.close();
            return deviceFlow(out);
        }
        box.shown = true;
        ui_.showSignInCode(QStringLiteral("No web browser could be opened. Open this address in a browser "
                                          "on this computer to sign in:"),
                           QString(), url, [&cancelled] { cancelled = true; });
    }
    say(QStringLiteral("Waiting for sign-in in your browser..."));
    const WaitOutcome outcome =
        waitUntil([&listener] { return listener.hasAnswer(); }, settings_.signInTimeoutMs,
                  [this, &cancelled] { return cancelled || (aborted_ && aborted_()); },
                  [&listener](QEventLoop &loop) {
                      QObject::connect(&listener, &LoopbackRedirect::answered, &loop, &QEventLoop::quit);
                  });
    listener.close();
    if (outcome == WaitOutcome::Aborted)
        return fail(OAuthFailure::Cancelled, QStringLiteral("The sign-in was cancelled."));
    if (outcome == WaitOutcome::TimedOut) {
        QString text = QStringLiteral("No sign-in came back from the browser within %1 minutes; the sign-in was "
                                      "abandoned.")
                           .arg(qMax(1, settings_.signInTimeoutMs / 60000));
        if (listener.refusedAnswers() > 0)
            text += QStringLiteral(" %1 answer(s) that did not belong to this sign-in (another state) were refused.")
                        .arg(listener.refusedAnswers());
        return fail(OAuthFailure::Expired, text);
    }
    // The listener takes only the answer that carries this sign-in's state.
    const LoopbackRedirect::Answer a = listener.answer();
    if (!a.error.isEmpty() || a.code.isEmpty())
        return fail(OAuthFailure::Refused,
                    QStringLiteral("%1 refused the sign-in: %2.")
                        .arg(provider_->name,
                             OAuthReply::firstLine(a.errorDescription.isEmpty() ? a.error : a.errorDescription)));
    say(QStringLiteral("Completing the sign-in..."));
    OAuthHttp::Form form{{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                         {QStringLiteral("client_id"), settings_.clientId},
                         {QStringLiteral("code"), a.code},
                         {QStringLiteral("redirect_uri"), listener.redirectUri(provider_->redirectHost).toString()},
                         {QStringLiteral("code_verifier"), QString::fromLatin1(verifier)},
                         {QStringLiteral("scope"), scope_}};
    addSecret(form);
    return takeTokens(http_.postForm(endpoints_.token, form), out, QStringLiteral("sign-in"));
}

bool OAuthFlows::deviceFlow(OAuthTokens *out)
{
    if (!prepare())
        return false;
    if (endpoints_.deviceCode.isEmpty())
        return fail(OAuthFailure::Setup, QStringLiteral("%1 offers no sign-in with a code; use the sign-in in the "
                                                        "browser.")
                                             .arg(provider_->name));
    say(QStringLiteral("Starting the sign-in..."));
    OAuthHttp::Form form{{QStringLiteral("client_id"), settings_.clientId}, {QStringLiteral("scope"), scope_}};
    addSecret(form);
    const OAuthReply r = http_.postForm(endpoints_.deviceCode, form);
    if (!r.ok()) {
        if (r.failure == OAuthReply::Aborted)
            return fail(OAuthFailure::Cancelled, QStringLiteral("The sign-in was cancelled."));
        return fail(r.failure == OAuthReply::None ? OAuthFailure::Refused : OAuthFailure::Network,
                    QStringLiteral("%1 did not start the sign-in: %2.").arg(provider_->name, r.reason()));
    }
    const QString deviceCode = r.json.value(QLatin1String("device_code")).toString();
    const QString userCode = r.json.value(QLatin1String("user_code")).toString();
    QString address = r.json.value(QLatin1String("verification_uri")).toString();
    if (address.isEmpty())
        address = r.json.value(QLatin1String("verification_url")).toString();
    if (deviceCode.isEmpty() || userCode.isEmpty() || address.isEmpty())
        return fail(OAuthFailure::Network, QStringLiteral("%1 sent an incomplete sign-in code.").arg(provider_->name));
    // The user is sent to this address to type the code: it must be the
    // service's own over https (a loopback address aside).
    if (!isAllowedOAuthUrl(QUrl(address)))
        return fail(OAuthFailure::Network, QStringLiteral("%1 named a sign-in page that is not an https:// address, "
                                                          "so it was not shown.")
                                               .arg(provider_->name));
    QString message = r.json.value(QLatin1String("message")).toString();
    if (message.isEmpty())
        message = QStringLiteral("To sign in, open %1 in a web browser and enter the code %2.").arg(address, userCode);
    CodeBox box(ui_);
    bool cancelled = false;
    box.shown = true;
    ui_.showSignInCode(message, userCode, QUrl(address), [&cancelled] { cancelled = true; });
    say(QStringLiteral("Waiting for sign-in: enter the code %1 at %2").arg(userCode, address));
    const auto aborted = aborted_;
    aborted_ = [&cancelled, aborted] { return cancelled || (aborted && aborted()); };
    const int interval = int(numberMember(r.json, "interval", 0, kMaxPollIntervalSecs, 5));
    const int expiresIn = int(numberMember(r.json, "expires_in", 1, kMaxCodeLifetimeSecs, 900));
    const bool ok = pollDeviceToken(deviceCode, interval, expiresIn, out);
    aborted_ = aborted;
    return ok;
}

bool OAuthFlows::pollDeviceToken(const QString &deviceCode, int interval, int expiresIn, OAuthTokens *out)
{
    const QDeadlineTimer deadline(qint64(qMax(1, expiresIn)) * 1000);
    interval = qBound(1, interval, 60);
    const QString expired = QStringLiteral("The sign-in code expired before the sign-in was completed; start the "
                                           "sign-in again.");
    for (;;) {
        const int pause = int(qMin<qint64>(qint64(interval) * 1000, qMax<qint64>(0, deadline.remainingTime())));
        if (waitUntil([] { return false; }, qMax(1, pause), aborted_) == WaitOutcome::Aborted)
            return fail(OAuthFailure::Cancelled, QStringLiteral("The sign-in was cancelled."));
        if (deadline.hasExpired())
            return fail(OAuthFailure::Expired, expired);
        OAuthHttp::Form form{{QStringLiteral("grant_type"), kDeviceGrant},
                             {QStringLiteral("client_id"), settings_.clientId},
                             {QStringLiteral("device_code"), deviceCode}};
        addSecret(form);
        const OAuthReply r = http_.postForm(endpoints_.token, form);
        if (r.ok())
            return takeTokens(r, out, QStringLiteral("sign-in"));
        if (r.failure == OAuthReply::Aborted || (aborted_ && aborted_()))
            return fail(OAuthFailure::Cancelled, QStringLiteral("The sign-in was cancelled."));
        if (r.error == QLatin1String("authorization_pending"))
            continue;
        if (r.error == QLatin1String("slow_down")) {
            interval += 5;
            continue;
        }
        if (r.error == QLatin1String("expired_token"))
            return fail(OAuthFailure::Expired, expired);
        if (r.error == QLatin1String("authorization_declined") || r.error == QLatin1String("access_denied"))
            return fail(OAuthFailure::Refused, QStringLiteral("The sign-in was declined: %1.").arg(r.reason()));
        if (r.failure == OAuthReply::TimedOut || r.failure == OAuthReply::Network)
            return fail(OAuthFailure::Network, QStringLiteral("The sign-in failed: %1.").arg(r.reason()));
        return fail(OAuthFailure::Refused,
                    QStringLiteral("%1 refused the sign-in: %2.").arg(provider_->name, r.reason()));
    }
}

bool OAuthFlows::refresh(const QString &refreshToken, OAuthTokens *out)
{
    if (!prepare())
        return false;
    say(QStringLiteral("Renewing the sign-in..."));
    OAuthHttp::Form form{{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                         {QStringLiteral("client_id"), settings_.clientId},
                         {QStringLiteral("refresh_token"), refreshToken},
                         {QStringLiteral("scope"), scope_}};
    addSecret(form);
    const OAuthReply r = http_.postForm(endpoints_.token, form);
    // Only invalid_grant says that the refresh token itself is dead. Anything
    // else (the service is busy or broken, the client is refused) leaves the
    // token as good as it was: the next attempt tries it again.
    if (r.failure == OAuthReply::None && r.error == QLatin1String("invalid_grant"))
        return fail(OAuthFailure::InvalidGrant,
                    QStringLiteral("%1 no longer accepts the stored sign-in: %2.").arg(provider_->name, r.reason()));
    if (r.failure != OAuthReply::Aborted && !r.ok()) {
        const OAuthFailure f = r.failure == OAuthReply::None && r.httpStatus < 500
                                       && r.error != QLatin1String("temporarily_unavailable")
                                       && r.error != QLatin1String("server_error")
                                   ? OAuthFailure::Refused
                                   : OAuthFailure::Network;
        return fail(f, QStringLiteral("%1 could not renew the sign-in: %2. The remembered sign-in is kept; the next "
                                      "attempt tries again.")
                           .arg(provider_->name, r.reason()));
    }
    if (!takeTokens(r, out, QStringLiteral("renewal")))
        return false;
    if (out->refreshToken.isEmpty())
        out->refreshToken = refreshToken;
    return true;
}

bool OAuthFlows::takeTokens(const OAuthReply &r, OAuthTokens *out, const QString &step)
{
    if (r.failure == OAuthReply::Aborted)
        return fail(OAuthFailure::Cancelled, QStringLiteral("The sign-in was cancelled."));
    if (!r.ok()) {
        const OAuthFailure f = r.failure == OAuthReply::None ? OAuthFailure::Refused : OAuthFailure::Network;
        return fail(f, QStringLiteral("The %1 failed: %2.").arg(step, r.reason()));
    }
    const QString type = r.json.value(QLatin1String("token_type")).toString();
    OAuthTokens t;
    t.accessToken = r.json.value(QLatin1String("access_token")).toString();
    t.refreshToken = r.json.value(QLatin1String("refresh_token")).toString();
    t.scope = r.json.value(QLatin1String("scope")).toString();
    t.expiresAt =
        QDateTime::currentDateTimeUtc().addSecs(numberMember(r.json, "expires_in", 0, kMaxTokenLifetimeSecs, 3600));
    if (!sasl::isBearerToken(t.accessToken)
        || (!type.isEmpty() && type.compare(QLatin1String("bearer"), Qt::CaseInsensitive) != 0))
        return fail(OAuthFailure::Network,
                    QStringLiteral("The %1 failed: %2 sent no usable bearer token.").arg(step, provider_->name));
    *out = t;
    failure_ = OAuthFailure::None;
    error_.clear();
    return true;
}

}  // namespace vc
