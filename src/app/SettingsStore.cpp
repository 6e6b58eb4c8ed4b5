#include "app/SettingsStore.h"

#include "core/Product.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <sys/stat.h>

namespace vc::settings {

namespace {

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

QSettings &store()
{
    static QSettings *s = [] {
        auto *q = new QSettings(QSettings::IniFormat, QSettings::UserScope, product::kSettingsOrganisation,
                                product::kSettingsApplication);
        return q;
    }();
    return *s;
}

// Creates the file owner-only before anything is written into it, and puts the
// mode back should something have widened it.
void guardFile()
{
    const QString path = store().fileName();
    if (!QFile::exists(path)) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        const mode_t old = ::umask(077);
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Append);
        f.close();
        ::umask(old);
    }
    if (QFile::permissions(path) != kOwnerOnly)
        QFile::setPermissions(path, kOwnerOnly);
}

QString key(const QString &name)
{
    return product::kSettingsSection + QLatin1Char('/') + name;
}

}  // namespace

QString filePath()
{
    return store().fileName();
}

void Save(const QString &name, const QString &text)
{
    guardFile();
    store().setValue(key(name), text);
    store().sync();
    guardFile();
}

QString Read(const QString &name, const QString &defaultText)
{
    store().sync();  // picks up changes made to the file from outside
    const QVariant v = store().value(key(name));
    if (!v.isValid())
        return defaultText;
    return v.toString();
}

}  // namespace vc::settings
