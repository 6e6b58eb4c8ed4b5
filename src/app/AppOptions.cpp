#include "app/AppOptions.h"

#include <QFileInfo>

namespace vc {

QString appUsage()
{
    return QStringLiteral("Usage: vellumcast [options]\n"
                          "\n"
                          "Options:\n"
                          "  --server HOST[:PORT]  IMAP server to use (default %1, port %2, TLS)\n"
                          "  --ca-file FILE        extra trusted CA certificates (PEM)\n"
                          "  --timeout SECONDS     fail a mail operation after this much server silence (default 60)\n"
                          "  --no-online-check     skip the connectivity check at start-up\n"
                          "  --help                show this help and exit\n"
                          "  --version             show the version and exit\n")
        .arg(product::kImapHost)
        .arg(product::kImapPort);
}

AppOptions parseAppOptions(const QStringList &arguments)
{
    AppOptions o;
    auto fail = [&](const QString &why) {
        if (o.error.isEmpty())
            o.error = why;
    };
    for (int i = 1; i < arguments.size() && o.error.isEmpty(); ++i) {
        QString arg = arguments[i];
        QString value;
        bool hasInline = false;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            const int eq = arg.indexOf(QLatin1Char('='));
            value = arg.mid(eq + 1);
            arg = arg.left(eq);
            hasInline = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasInline)
                return true;
            if (i + 1 >= arguments.size()) {
                fail(QStringLiteral("option %1 needs a value").arg(arg));
                return false;
            }
            value = arguments[++i];
            return true;
        };
        auto noValue = [&]() -> bool {
            if (hasInline) {
                fail(QStringLiteral("option %1 takes no value").arg(arg));
                return false;
            }
            return true;
        };

        if (arg == QLatin1String("--server")) {
            if (takeValue() && (value.isEmpty() || !o.window.connection.setServer(value)))
                fail(QStringLiteral("bad --server value: %1").arg(value));
        } else if (arg == QLatin1String("--ca-file")) {
            if (takeValue()) {
                if (!QFileInfo(value).isFile())
                    fail(QStringLiteral("CA file not found: %1").arg(value));
                else
                    o.window.connection.caFile = value;
            }
        } else if (arg == QLatin1String("--timeout")) {
            if (takeValue()) {
                bool ok = false;
                const int seconds = value.toInt(&ok);
                if (!ok || seconds <= 0 || seconds > 24 * 3600)
                    fail(QStringLiteral("bad --timeout value (seconds, 1 to 86400): %1").arg(value));
                else
                    o.window.connection.timeoutMs = seconds * 1000;
            }
        } else if (arg == QLatin1String("--no-online-check")) {
            if (noValue())
                o.window.onlineCheck = false;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            if (noValue())
                o.help = true;
        } else if (arg == QLatin1String("--version")) {
            if (noValue())
                o.version = true;
        } else {
            fail(QStringLiteral("unknown argument: %1").arg(arguments[i]));
        }
    }
    return o;
}

}  // namespace vc
