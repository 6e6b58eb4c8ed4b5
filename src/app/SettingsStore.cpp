#include "app/SettingsStore.h"

#include "core/Convert.h"
#include "core/Product.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <memory>

#include <sys/stat.h>

namespace vc::settings {

namespace {

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

std::unique_ptr<QSettings> g_store;
int g_writes = 0;

// The per-user file, unless useFile() named another.
QSettings &store()
{
    if (!g_store)
        g_store = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                              product::kSettingsOrganisation, product::kSettingsApplication);
    return *g_store;
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

QString storeKey(const Key &key)
{
    return product::kSettingsSection + QLatin1Char('/') + key.name;
}

}  // namespace

void useFile(const QString &path)
{
    if (path.isEmpty())
        g_store.reset();
    else
        g_store = std::make_unique<QSettings>(QFileInfo(path).absoluteFilePath(), QSettings::IniFormat);
}

QString filePath()
{
    return store().fileName();
}

int writeCount()
{
    return g_writes;
}

void save(const Key &key, const QString &text)
{
    guardFile();
    store().setValue(storeKey(key), text);
    store().sync();
    guardFile();
    ++g_writes;
}

void saveNumber(const Key &key, int number)
{
    Q_ASSERT(key.kind == Kind::Int16);
    save(key, QString::number(number));
}

void saveFlag(const Key &key, bool flag)
{
    Q_ASSERT(key.kind == Kind::Bool);
    save(key, convert::boolText(flag));
}

QString readText(const Key &key)
{
    store().sync();  // picks up changes made to the file from outside
    const QVariant v = store().value(storeKey(key));
    if (!v.isValid())
        return key.defaultText;
    return v.toString();
}

int16_t readInt16(const Key &key)
{
    Q_ASSERT(key.kind == Kind::Int16);
    return convert::toInt16(readText(key));
}

bool readBool(const Key &key)
{
    Q_ASSERT(key.kind == Kind::Bool);
    return convert::toBool(readText(key));
}

}  // namespace vc::settings
