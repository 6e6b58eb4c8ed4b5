#include "mail/ConnectionConfig.h"

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
