#include "mail/signin/Sasl.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace vc::sasl {

namespace {

// A user name may hold any printable character, but no control characters:
// \x01 separates the fields and CR/LF would end the command line.
bool sendableUser(const QString &user)
{
    if (user.isEmpty())
        return false;
    for (const QChar c : user) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

// RFC 5801 saslname: "," and "=" are escaped as "=2C" and "=3D".
QByteArray saslName(const QString &user)
{
    QByteArray out;
    for (const char c : user.toUtf8()) {
        if (c == ',')
            out += "=2C";
        else if (c == '=')
            out += "=3D";
        else
            out += c;
    }
    return out;
}

QString stringField(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isString())
        return v.toString();
    if (v.isDouble())
        return QString::number(v.toDouble());
    return {};
}

}  // namespace

bool isBearerToken(const QString &token)
{
    // Services issue opaque tokens of their own making (RFC 6750's b64token is
    // not kept by all); what matters is that the token cannot break the message:
    // visible ASCII only, no spaces or control characters.
    if (token.isEmpty())
        return false;
    for (const QChar c : token) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

QByteArray xoauth2(const QString &user, const QString &token)
{
    if (!sendableUser(user) || !isBearerToken(token))
        return {};
    return "user=" + user.toUtf8()
           + "\x01"
             "auth=Bearer "
           + token.toLatin1() + "\x01\x01";
}

QByteArray oauthBearer(const QString &user, const QString &token, const QString &host, int port)
{
    if (!sendableUser(user) || !isBearerToken(token))
        return {};
    QByteArray out = "n,a=" + saslName(user) + ",\x01";
    if (!host.isEmpty()) {
        for (const QChar c : host) {
            if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
                return {};
        }
        out += "host=" + host.toLatin1() + "\x01";
        if (port > 0)
            out += "port=" + QByteArray::number(port) + "\x01";
    }
    out += "auth=Bearer " + token.toLatin1() + "\x01\x01";
    return out;
}

QByteArray plain(const QString &user, const QString &password)
{
    if (user.isEmpty() || user.contains(QChar(0)) || password.contains(QChar(0)))
        return {};
    QByteArray out;
    out += '\0';
    out += user.toUtf8();
    out += '\0';
    out += password.toUtf8();
    return out;
}

ErrorChallenge decodeErrorChallenge(const QByteArray &base64)
{
    ErrorChallenge c;
    const auto decoded = QByteArray::fromBase64Encoding(base64.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return c;
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(*decoded, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return c;
    const QJsonObject o = doc.object();
    c.valid = true;
    c.status = stringField(o, "status");
    c.scope = stringField(o, "scope");
    c.schemes = stringField(o, "schemes");
    return c;
}

QString describe(const ErrorChallenge &challenge)
{
    if (!challenge.valid)
        return QStringLiteral("the server refused the token");
    QStringList parts;
    if (!challenge.status.isEmpty())
        parts << QStringLiteral("status ") + challenge.status;
    if (!challenge.scope.isEmpty())
        parts << QStringLiteral("scope ") + challenge.scope;
    QString text = QStringLiteral("the server refused the token");
    if (!parts.isEmpty())
        text += QStringLiteral(" (") + parts.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text;
}

QByteArray tokenMechanism(const QStringList &capabilities)
{
    if (capabilities.contains(QLatin1String("AUTH=OAUTHBEARER"), Qt::CaseInsensitive))
        return "OAUTHBEARER";
    if (capabilities.contains(QLatin1String("AUTH=XOAUTH2"), Qt::CaseInsensitive))
        return "XOAUTH2";
    return {};
}

bool offersTokens(const QStringList &capabilities)
{
    return !tokenMechanism(capabilities).isEmpty();
}

}  // namespace vc::sasl
