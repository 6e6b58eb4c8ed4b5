#include "core/Dialogs.h"
#include "core/StdoutBuffer.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace vc {

namespace {
StderrDialogs g_fallback;
Dialogs *g_current = nullptr;
}  // namespace

Dialogs &dialogs()
{
    return g_current ? *g_current : g_fallback;
}

Dialogs *setDialogs(Dialogs *d)
{
    Dialogs *old = g_current;
    g_current = d;
    return old;
}

QString boxTextForDisplay(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

QList<QPair<QString, QString>> filterPairs(const QString &pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QList<QPair<QString, QString>> out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out.append({parts[i], parts[i + 1]});
    return out;
}

QString withFilterExtension(const QString &path, const QString &pipeFilter, int filter)
{
    const QList<QPair<QString, QString>> pairs = filterPairs(pipeFilter);
    if (path.isEmpty() || filter < 0 || filter >= pairs.size())
        return path;
    static const QRegularExpression plainExtension(QStringLiteral("^\\*\\.([A-Za-z0-9_-]+)$"));
    const QRegularExpressionMatch m = plainExtension.match(pairs[filter].second.trimmed());
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (!m.hasMatch() || name.isEmpty() || name.contains(QLatin1Char('.')) || info.isDir())
        return path;
    return path + QLatin1Char('.') + m.captured(1);
}

BoxAnswer StderrDialogs::messageBox(const QString &text, BoxButtons buttons, BoxIcon, const QString &)
{
    const QByteArray line = (prefix_ + boxTextForDisplay(text)).toLocal8Bit();
    stdoutbuffer::toStderr(line + '\n');
    return buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Ok;
}

bool StderrDialogs::openUrl(const QUrl &url)
{
    const QByteArray text = (prefix_ + QStringLiteral("Open this address in a web browser to sign in:\n  ")
                             + url.toString(QUrl::FullyEncoded))
                                .toLocal8Bit();
    stdoutbuffer::toStderr(text + '\n');
    return true;
}

void StderrDialogs::showSignInCode(const QString &message, const QString &code, const QUrl &address,
                                   std::function<void()>)
{
    QString text = message;
    if (text.isEmpty())
        text =
            QStringLiteral("To sign in, open %1 in a web browser and enter the code %2.").arg(address.toString(), code);
    const QByteArray line = (prefix_ + text).toLocal8Bit();
    stdoutbuffer::toStderr(line + '\n');
}

}  // namespace vc
