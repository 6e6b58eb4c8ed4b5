#include "mail/ConnectionConfig.h"

#include <QFileInfo>

namespace vc {

bool ConnectionConfig::setServer(const QString &hostPort)
{
    QString h = hostPort.trimmed();
    int p = product::kImapPort;
    qsizetype colon = -1;
    if (h.startsWith(QLatin1Char('['))) {
        const qsizetype close = h.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        if (close + 1 < h.size()) {
            if (h[close + 1] != QLatin1Char(':'))
                return false;
            colon = close + 1;
        }
        if (colon > 0) {
            bool ok = false;
            p = h.mid(colon + 1).toInt(&ok);
            if (!ok || p <= 0 || p > 65535)
                return false;
        }
        h = h.mid(1, close - 1);
    } else if ((colon = h.lastIndexOf(QLatin1Char(':'))) >= 0 && h.count(QLatin1Char(':')) == 1) {
        bool ok = false;
        p = h.mid(colon + 1).toInt(&ok);
        if (!ok || p <= 0 || p > 65535)
            return false;
        h = h.left(colon);
    }
    if (h.isEmpty())
        return false;
    host = h;
    port = p;
    return true;
}

}  // namespace vc

namespace vc {

QList<cmdline::Option> connectionOptions(ConnectionConfig &config)
{
    ConnectionConfig *c = &config;
    QList<cmdline::Option> rows{
        {QStringLiteral("server"), QStringLiteral("HOST[:PORT]"),
         QStringLiteral("IMAP server (TLS, certificate always verified);\ndefault %1:%2")
             .arg(product::kImapHost)
             .arg(product::kImapPort),
         QStringLiteral("imap.example.org:993"),
         [c](const QString &v) {
             return c->setServer(v) ? QString()
                                    : QStringLiteral("invalid --server '%1' (expected HOST or HOST:PORT)").arg(v);
         }},
        {QStringLiteral("ca-file"), QStringLiteral("FILE"),
         QStringLiteral("also trust the CA certificates in FILE (PEM)"), QStringLiteral("/etc/ssl/local-ca.pem"),
         [c](const QString &v) {
             if (!QFileInfo(v).isFile())
                 return QStringLiteral("CA file '%1' does not exist").arg(v);
             c->caFile = v;
             return QString();
         }},
        {QStringLiteral("timeout"), QStringLiteral("SECONDS"),
         QStringLiteral("fail a mail operation after this much server silence\n(1 to 86400, default %1)")
             .arg(ConnectionConfig().timeoutMs / 1000),
         QStringLiteral("120"),
         [c](const QString &v) {
             bool ok = false;
             const int seconds = v.toInt(&ok);
             if (!ok || seconds <= 0 || seconds > 24 * 3600)
                 return QStringLiteral("invalid --timeout '%1' (seconds, 1 to 86400)").arg(v);
             c->timeoutMs = seconds * 1000;
             return QString();
         }},
    };
    return rows + signInOptions(c->signIn);
}

}  // namespace vc
