#include "app/SettingsStore.h"

#include "core/Convert.h"
#include "core/Product.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QStandardPaths>

#include <memory>
#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vc::settings {

namespace {

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

QString g_chosenPath;  // useFile(); empty: the per-user file
std::unique_ptr<QSettings> g_store;
bool g_opened = false;
std::optional<QString> g_refusal;  // set: the file is not used, values live in g_memory
QMap<QString, QString> g_memory;
int g_writes = 0;

// The per-user file: where QSettings keeps an INI file of the user scope.
QString perUserPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
           + product::kSettingsOrganisation + QLatin1Char('/') + product::kSettingsApplication + QStringLiteral(".ini");
}

QString chosenPath()
{
    return g_chosenPath.isEmpty() ? perUserPath() : g_chosenPath;
}

// Why `path` must not be read or written, or nothing. The file holds what the
// user typed; a file of another user, a link (which anyone who could make it
// may point at any file of ours) or a folder where others can swap the file
// would give that away or let someone else decide it.
std::optional<QString> problemWith(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const uid_t me = ::geteuid();
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return QStringLiteral("The settings file %1 is a symbolic link. %2 does not follow it, so that no one "
                                  "can point it at another file.")
                .arg(path, product::kAppTitle);
        if (!S_ISREG(st.st_mode))
            return QStringLiteral("The settings file %1 is not a regular file.").arg(path);
        if (st.st_uid != me)
            return QStringLiteral("The settings file %1 belongs to another user.").arg(path);
    } else if (errno != ENOENT) {
        return std::nullopt;  // unreadable folders: QSettings reports nothing either
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    struct stat dir {};
    if (::stat(folder.constData(), &dir) == 0) {
        if (dir.st_uid != me && dir.st_uid != 0)
            return QStringLiteral("The settings file %1 lies in a folder that belongs to another user.").arg(path);
        if ((dir.st_mode & S_IWOTH) && !(dir.st_mode & S_ISVTX))
            return QStringLiteral("The settings file %1 lies in a folder that other users may change.").arg(path);
    }
    return std::nullopt;
}

void refuse(const QString &why)
{
    g_refusal =
        why
        + QStringLiteral(" Nothing is read from it or kept in it: entries last until %1 ends.").arg(product::kAppTitle);
    g_store.reset();
}

// Opens the store at its first use; a refused file is never opened.
QSettings *store()
{
    if (!g_opened) {
        g_opened = true;
        const QString path = chosenPath();
        if (const std::optional<QString> why = problemWith(path))
            refuse(*why);
        else
            g_store = std::make_unique<QSettings>(QFileInfo(path).absoluteFilePath(), QSettings::IniFormat);
    }
    return g_store.get();
}

// Before each write: checks the file again (it could have been replaced since),
// creates it owner-only before anything goes into it, and puts the mode back
// should something have widened it. False when the file may not be written.
bool guardFile()
{
    if (!store())
        return false;
    const QString path = g_store->fileName();
    if (const std::optional<QString> why = problemWith(path)) {
        refuse(*why);
        return false;
    }
    if (!QFileInfo::exists(path)) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              S_IRUSR | S_IWUSR);
        if (fd >= 0)
            ::close(fd);
        // Someone else was quicker: that file is checked like any other.
        if (const std::optional<QString> why = problemWith(path)) {
            refuse(*why);
            return false;
        }
    }
    if (QFile::permissions(path) != kOwnerOnly)
        QFile::setPermissions(path, kOwnerOnly);
    return true;
}

QString storeKey(const Key &key)
{
    return product::kSettingsSection + QLatin1Char('/') + key.name;
}

}  // namespace

void useFile(const QString &path)
{
    g_chosenPath = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    g_store.reset();
    g_opened = false;
    g_refusal.reset();
    g_memory.clear();
}

QString filePath()
{
    return QFileInfo(chosenPath()).absoluteFilePath();
}

std::optional<QString> refusal()
{
    store();
    return g_refusal;
}

int writeCount()
{
    return g_writes;
}

void save(const Key &key, const QString &text)
{
    ++g_writes;
    if (!guardFile()) {
        g_memory.insert(key.name, text);
        return;
    }
    g_store->setValue(storeKey(key), text);
    g_store->sync();
    guardFile();
}

void remove(const Key &key)
{
    if (!store()) {
        g_memory.remove(key.name);
        return;
    }
    g_store->sync();
    if (!g_store->contains(storeKey(key)))
        return;
    ++g_writes;
    if (!guardFile())
        return;
    g_store->remove(storeKey(key));
    g_store->sync();
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
    if (!store())
        return g_memory.value(key.name, key.defaultText);
    g_store->sync();  // picks up changes made to the file from outside
    const QVariant v = g_store->value(storeKey(key));
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
