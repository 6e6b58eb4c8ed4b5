#pragma once
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QJsonValue;
class QNetworkAccessManager;
class QNetworkReply;

namespace vc {

// The answer of one request to a sign-in service.
struct OAuthReply {
    enum Failure { None, Network, TimedOut, Aborted, BadAnswer };
    Failure failure = None;  // None: a JSON object arrived (whatever the HTTP status)
    int httpStatus = 0;
    QJsonObject json;
    QString error;        // the "error" member of an OAuth error answer
    QString description;  // its "error_description", or what went wrong on the way

    bool ok() const { return failure == None && error.isEmpty() && httpStatus >= 200 && httpStatus < 300; }
    // One line for the user: the description, else the error code, else the status.
    QString reason() const;
    // The first line of a service's error description, without its closing full stop.
    static QString firstLine(const QString &description);
};

// A whole number that a service sends as a JSON number or as a numeric
// string, when it lies within [min, max]; nothing when it is absent, not a
// number or out of range. A fraction is cut off.
std::optional<qint64> boundedNumber(const QJsonValue &value, qint64 min, qint64 max);

// Form posts and JSON gets for the sign-in flows, each waited for in a local
// event loop (see waitUntil) with a time-out and an abort check. Answers larger
// than 1 MiB are refused. Only https:// and loopback http:// addresses are used.
class OAuthHttp {
public:
    using Form = QList<QPair<QString, QString>>;

    OAuthHttp(int timeoutMs, std::function<bool()> aborted);
    ~OAuthHttp();

    OAuthReply postForm(const QUrl &url, const Form &form);
    OAuthReply getJson(const QUrl &url);

    // application/x-www-form-urlencoded, every reserved character escaped.
    static QByteArray encodeForm(const Form &form);

private:
    OAuthReply finish(QNetworkReply *reply, const QUrl &url);

    int timeoutMs_;
    std::function<bool()> aborted_;
    QNetworkAccessManager *nam_;
};

}  // namespace vc
