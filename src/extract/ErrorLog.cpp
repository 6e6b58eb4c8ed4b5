#include "extract/ErrorLog.h"

#include "core/AppError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

namespace vc::errorlog {

namespace {

QString g_programFolder;
QString g_userFolder;

// The locale's long time format without its time-zone part ("t"), so the text
// is "1:02:03 PM" rather than "1:02:03 PM UTC".
QString longTimeFormatWithoutZone(const QLocale &locale)
{
    const QString f = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < f.size(); ++i) {
        const QChar c = f.at(i);
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
        } else if (!quoted && c == u't') {
            // drop the zone and the blank that separated it
            while (out.endsWith(u' '))
                out.chop(1);
        } else {
            out += c;
        }
    }
    return out.trimmed();
}

bool appendTo(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const bool ok = f.write(bytes) == bytes.size();
    f.close();
    return ok && f.error() == QFileDevice::NoError;
}

// An installed program shares its folder with other programs (/usr/bin, say);
// the log never goes there, also when the user could write there (root). The
// program counts as installed when its desktop file lies where the install put
// it relative to the program.
bool isInstalledProgramFolder(const QString &folder)
{
    return QFileInfo::exists(folder + QLatin1Char('/') + QLatin1String(VELLUMCAST_DESKTOP_FILE_FROM_BINDIR));
}

}  // namespace

QString timestampText(const QDateTime &localTime)
{
    // The system locale does not change while the program runs; working out
    // its formats once keeps the per-fetch record cheap.
    static const QLocale locale = QLocale::system();
    static const QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    static const QString timeFormat = longTimeFormatWithoutZone(locale);
    const QDateTime t = localTime.toLocalTime();
    return locale.toString(t.date(), dateFormat) + QLatin1Char(' ') + locale.toString(t.time(), timeFormat);
}

QByteArray recordBytes(const QDateTime &localTime, const QString &errorText)
{
    const QString text = timestampText(localTime) + QStringLiteral(" : ") + errorText + QStringLiteral("\r\n")
                         + QString(kSeparatorLength, u'*') + QStringLiteral("\r\n");
    return text.toLocal8Bit();
}

QString programFolderPath()
{
    const QString folder = g_programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : g_programFolder;
    return folder + QLatin1Char('/') + QLatin1String(kFileName);
}

QString userFolderPath()
{
    const QString folder =
        g_userFolder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) : g_userFolder;
    return folder + QLatin1Char('/') + QLatin1String(kFileName);
}

QString append(const QString &explicitPath, const QString &errorText)
{
    const QByteArray bytes = recordBytes(QDateTime::currentDateTime(), errorText);
    if (!explicitPath.isEmpty()) {
        if (!appendTo(explicitPath, bytes))
            raise(err::PathFileAccess);
        return explicitPath;
    }
    const QString primary = programFolderPath();
    if (!isInstalledProgramFolder(QFileInfo(primary).absolutePath()) && appendTo(primary, bytes))
        return primary;
    const QString fallback = userFolderPath();
    QDir().mkpath(QFileInfo(fallback).absolutePath());
    if (appendTo(fallback, bytes))
        return fallback;
    raise(err::PathFileAccess);
}

void overrideFolders(const QString &programFolder, const QString &userFolder)
{
    g_programFolder = programFolder;
    g_userFolder = userFolder;
}

}  // namespace vc::errorlog
