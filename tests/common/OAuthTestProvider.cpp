#include "OAuthTestProvider.h"

#include "TestServer.h"
#include "mail/signin/SignInWait.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace vc::test {

namespace {

QByteArray fetch(const QUrl &url, const QByteArray *post)
{
    QNetworkAccessManager nam;
    QNetworkRequest req(url);
    req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply *reply = post ? nam.post(req, *post) : nam.get(req);
    waitUntil(
        [reply] { return reply->isFinished(); }, 10000, {},
        [reply](QEventLoop &loop) { QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit); });
    const QByteArray body =
        reply->isFinished() && reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    delete reply;
    return body;
}

}  // namespace

OAuthTestProvider::~OAuthTestProvider()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(3000);
    }
}

std::unique_ptr<OAuthTestProvider> OAuthTestProvider::start()
{
    std::unique_ptr<OAuthTestProvider> p(new OAuthTestProvider);
    const QString script = qEnvironmentVariable("VC_SOURCE_DIR") + QStringLiteral("/scripts/oauth-provider.py");
    p->process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->process_.start(QStringLiteral("python3"), {script});
    if (!p->process_.waitForStarted(10000))
        return nullptr;
    // The first line says "port N" once it listens.
    QByteArray line;
    while (!line.contains('\n') && p->process_.waitForReadyRead(20000))
        line += p->process_.readLine();
    if (!line.startsWith("port "))
        return nullptr;
    p->port_ = line.mid(5).trimmed().toInt();
    return p->port_ > 0 ? std::move(p) : nullptr;
}

std::unique_ptr<OAuthTestProvider> OAuthTestProvider::ofTestServer()
{
    QFile f(TestServer::dir() + QStringLiteral("/oauth-port"));
    if (TestServer::dir().isEmpty() || !f.open(QIODevice::ReadOnly))
        return nullptr;
    std::unique_ptr<OAuthTestProvider> p(new OAuthTestProvider);
    p->port_ = f.readAll().trimmed().toInt();
    if (p->port_ <= 0 || !p->control({{QStringLiteral("reset"), true}}))
        return nullptr;
    return p;
}

QString OAuthTestProvider::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

bool OAuthTestProvider::control(const QJsonObject &command)
{
    const QByteArray body = QJsonDocument(command).toJson(QJsonDocument::Compact);
    const QJsonDocument answer = QJsonDocument::fromJson(fetch(QUrl(base() + QStringLiteral("/control")), &body));
    return answer.object().value(QLatin1String("ok")).toBool();
}

QJsonArray OAuthTestProvider::log()
{
    return QJsonDocument::fromJson(fetch(QUrl(base() + QStringLiteral("/control/log")), nullptr)).array();
}

QList<QJsonObject> OAuthTestProvider::requests(const QString &endpoint)
{
    QList<QJsonObject> out;
    for (const QJsonValue &v : log()) {
        if (v.toObject().value(QLatin1String("endpoint")).toString() == endpoint)
            out << v.toObject();
    }
    return out;
}

}  // namespace vc::test
