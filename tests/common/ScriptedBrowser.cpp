#include "ScriptedBrowser.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

namespace vc::test {

ScriptedBrowser::ScriptedBrowser(QObject *parent) : QObject(parent), nam_(new QNetworkAccessManager(this))
{
    nam_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

ScriptedBrowser::~ScriptedBrowser() = default;

void ScriptedBrowser::open(const QUrl &url)
{
    get(url, 0);
}

void ScriptedBrowser::enterCode(const QUrl &address, const QString &code, const QString &action, const QString &login)
{
    QUrl url = address;
    QUrlQuery q(url);
    q.addQueryItem(QStringLiteral("user_code"), code);
    q.addQueryItem(QStringLiteral("action"), action);
    if (!login.isEmpty())
        q.addQueryItem(QStringLiteral("login"), login);
    url.setQuery(q);
    get(url, 0);
}

void ScriptedBrowser::get(const QUrl &given, int hops)
{
    const QUrl url = rewrite ? rewrite(given) : given;
    visited << url;
    QNetworkReply *reply = nam_->get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::finished, this, [this, reply, hops] { arrived(reply, hops); });
}

void ScriptedBrowser::arrived(QNetworkReply *reply, int hops)
{
    reply->deleteLater();
    lastStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (lastStatus >= 300 && lastStatus < 400 && location.isValid() && hops < 10) {
        get(reply->url().resolved(location), hops + 1);
        return;
    }
    lastPage = QString::fromUtf8(reply->readAll());
    ++finished;
    Q_EMIT pageLoaded();
}

}  // namespace vc::test
