#include "mail/signin/OAuthHttp.h"

#include "mail/signin/OAuthProviders.h"
#include "mail/signin/SignInWait.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <cmath>

namespace vc {

namespace {
constexpr qint64 kMaxAnswerBytes = qint64(1) << 20;
}

std::optional<qint64> boundedNumber(const QJsonValue &value, qint64 min, qint64 max)
{
    if (value.isDouble()) {
        const double d = value.toDouble();
        // Compared as doubles first: converting an out-of-range double is undefined.
        if (!std::isfinite(d) || d < double(min) || d > double(max))
            return std::nullopt;
        return qint64(d);
    }
    if (!value.isString())
        return std::nullopt;
    bool ok = false;
    const qint64 n = value.toString().trimmed().toLongLong(&ok);
    if (!ok || n < min || n > max)
        return std::nullopt;
    return n;
}

QString OAuthReply::firstLine(const QString &description)
{
    // Some services append trace and correlation lines: the first line says it.
    // Its closing full stop goes: the reason is quoted inside our own sentences.
    QString first = description.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (first.endsWith(QLatin1Char('.')) && !first.endsWith(QLatin1String("..")))
        first.chop(1);
    return first;
}

QString OAuthReply::reason() const
{
    const QString first = firstLine(description);
    if (!first.isEmpty())
        return first;
    if (!error.isEmpty())
        return error;
    return QStringLiteral("HTTP status %1").arg(httpStatus);
}

OAuthHttp::OAuthHttp(int timeoutMs, std::function<bool()> aborted)
    : timeoutMs_(timeoutMs > 0 ? timeoutMs : 60000), aborted_(std::move(aborted)), nam_(new QNetworkAccessManager)
{
    nam_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

OAuthHttp::~OAuthHttp()
{
    delete nam_;
}

QByteArray OAuthHttp::encodeForm(const Form &form)
{
    QByteArray body;
    for (const auto &[key, value] : form) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value);
    }
    return body;
}

namespace {

// Tokens travel only over https (plain http to a loopback address aside).
OAuthReply refusedAddress(const QUrl &url)
{
    OAuthReply r;
    r.failure = OAuthReply::Network;
    r.description = QStringLiteral("%1 is not an https:// address").arg(url.toDisplayString());
    return r;
}

}  // namespace

OAuthReply OAuthHttp::postForm(const QUrl &url, const Form &form)
{
    if (!isAllowedOAuthUrl(url))
        return refusedAddress(url);
    QNetworkRequest req(url);
    req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    req.setRawHeader("Accept", "application/json");
    return finish(nam_->post(req, encodeForm(form)), url);
}

OAuthReply OAuthHttp::getJson(const QUrl &url)
{
    if (!isAllowedOAuthUrl(url))
        return refusedAddress(url);
    QNetworkRequest req(url);
    req.setRawHeader("Accept", "application/json");
    return finish(nam_->get(req), url);
}

OAuthReply OAuthHttp::finish(QNetworkReply *reply, const QUrl &url)
{
    OAuthReply r;
    QPointer<QNetworkReply> guard(reply);
    bool tooLarge = false;
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [&tooLarge, reply](qint64 received, qint64) {
        if (received > kMaxAnswerBytes && !tooLarge) {
            tooLarge = true;
            reply->abort();
        }
    });
    const WaitOutcome outcome = waitUntil(
        [&] { return !guard || guard->isFinished(); }, timeoutMs_, aborted_,
        [reply](QEventLoop &loop) { QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit); });
    const QString where = url.host();
    if (outcome != WaitOutcome::Done) {
        r.failure = outcome == WaitOutcome::Aborted ? OAuthReply::Aborted : OAuthReply::TimedOut;
        r.description = outcome == WaitOutcome::Aborted
                            ? QStringLiteral("cancelled")
                            : QStringLiteral("%1 did not answer within %2 s").arg(where).arg((timeoutMs_ + 999) / 1000);
        if (guard) {
            guard->abort();
            guard->deleteLater();
        }
        return r;
    }
    r.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    const QNetworkReply::NetworkError netError = reply->error();
    const QString netText = reply->errorString();
    reply->deleteLater();
    if (tooLarge) {
        r.failure = OAuthReply::BadAnswer;
        r.description = QStringLiteral("%1 sent an answer larger than 1 MiB").arg(where);
        return r;
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error == QJsonParseError::NoError && doc.isObject()) {
        r.json = doc.object();
        r.error = r.json.value(QLatin1String("error")).toString();
        r.description = r.json.value(QLatin1String("error_description")).toString();
        return r;
    }
    if (r.httpStatus == 0 && netError != QNetworkReply::NoError) {
        r.failure = OAuthReply::Network;
        r.description = QStringLiteral("could not reach %1: %2").arg(where, netText);
    } else {
        r.failure = OAuthReply::BadAnswer;
        r.description =
            QStringLiteral("%1 answered with HTTP status %2 and no JSON object").arg(where).arg(r.httpStatus);
    }
    return r;
}

}  // namespace vc
