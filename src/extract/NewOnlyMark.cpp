#include "extract/NewOnlyMark.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <optional>

namespace vc {

namespace {

constexpr char kFormat[] = "vellumcast-new-only-marks";
constexpr int kVersion = 1;
constexpr qint64 kMostFileBytes = qint64(16) << 20;
constexpr int kLockWaitMs = 10000;

// The marks in the file; an empty list when there is no file yet; nothing
// (and `error`) when it cannot be read.
std::optional<QJsonArray> readMarks(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.exists())
        return QJsonArray();
    const auto unreadable = [&](const QString &why) {
        *error = QStringLiteral("The state file %1 cannot be read: %2").arg(QDir::toNativeSeparators(path), why);
        return std::nullopt;
    };
    if (!f.open(QIODevice::ReadOnly))
        return unreadable(f.errorString());
    if (f.size() > kMostFileBytes)
        return unreadable(QStringLiteral("it is larger than %1 bytes").arg(kMostFileBytes));
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return unreadable(parseError.errorString());
    const QJsonObject root = doc.object();
    if (root.value(QLatin1String("format")).toString() != QLatin1String(kFormat)
        || root.value(QLatin1String("version")).toInt() != kVersion || !root.value(QLatin1String("marks")).isArray())
        return unreadable(QStringLiteral("it is not a state file of this program"));
    return root.value(QLatin1String("marks")).toArray();
}

bool writeMarks(const QString &path, const QJsonArray &marks, QString *error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    QJsonObject root;
    root.insert(QLatin1String("format"), QLatin1String(kFormat));
    root.insert(QLatin1String("version"), kVersion);
    root.insert(QLatin1String("marks"), marks);
    if (!f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(root).toJson()) < 0 || !f.commit()) {
        *error = QStringLiteral("The state file %1 cannot be written: %2")
                     .arg(QDir::toNativeSeparators(path), f.errorString());
        return false;
    }
    return true;
}

bool matches(const QJsonObject &mark, const NewOnlyMark::Key &key, bool anyFolder)
{
    return mark.value(QLatin1String("account")).toString() == key.account
           && mark.value(QLatin1String("server")).toString() == key.server
           && (anyFolder || mark.value(QLatin1String("folder")).toString() == key.folder);
}

quint32 number(const QJsonObject &mark, const char *name)
{
    const double v = mark.value(QLatin1String(name)).toDouble(-1);
    return v >= 0 && v <= 4294967295.0 ? quint32(v) : 0;
}

}  // namespace

NewOnlyMark::NewOnlyMark(const QString &path)
    : path_(
        path.isEmpty()
            ? QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).filePath(QLatin1String(kFileName))
            : path)
{}

QString NewOnlyMark::validityChangedText(const QString &folder)
{
    return QStringLiteral("The folder %1 was renumbered on the server (its UIDVALIDITY changed), so this run reads "
                          "all of it once; later runs take only new mail again.")
        .arg(folder);
}

NewOnlyMark::Mark NewOnlyMark::load(const Key &key, quint32 uidValidity) const
{
    Mark m;
    const std::optional<QJsonArray> marks = readMarks(path_, &m.error);
    if (!marks) {
        m.state = Mark::Unreadable;
        return m;
    }
    for (const QJsonValue &v : *marks) {
        const QJsonObject mark = v.toObject();
        if (!matches(mark, key, false))
            continue;
        const quint32 validity = number(mark, "uidValidity");
        if (validity == uidValidity) {
            m.state = Mark::Ready;
            m.uid = number(mark, "uid");
        } else {
            m.state = Mark::ValidityChanged;
            m.oldValidity = validity;
        }
        return m;
    }
    return m;
}

bool NewOnlyMark::advance(const Key &key, quint32 uidValidity, quint32 uid)
{
    error_.clear();
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QLockFile lock(path_ + QStringLiteral(".lock"));
    lock.setStaleLockTime(kLockWaitMs);
    if (!lock.tryLock(kLockWaitMs)) {
        error_ = QStringLiteral("The state file %1 is locked by another program").arg(QDir::toNativeSeparators(path_));
        return false;
    }
    std::optional<QJsonArray> marks = readMarks(path_, &error_);
    if (!marks)
        return false;
    qsizetype found = -1;
    for (qsizetype i = 0; i < marks->size(); ++i) {
        if (matches(marks->at(i).toObject(), key, false))
            found = i;
    }
    QJsonObject mark = found >= 0 ? marks->at(found).toObject() : QJsonObject();
    if (found >= 0 && number(mark, "uidValidity") == uidValidity && number(mark, "uid") >= uid)
        return true;  // never backwards
    mark.insert(QLatin1String("account"), key.account);
    mark.insert(QLatin1String("server"), key.server);
    mark.insert(QLatin1String("folder"), key.folder);
    mark.insert(QLatin1String("uidValidity"), double(uidValidity));
    mark.insert(QLatin1String("uid"), double(uid));
    if (found >= 0)
        marks->replace(found, mark);
    else
        marks->append(mark);
    return writeMarks(path_, *marks, &error_);
}

bool NewOnlyMark::reset(const Key &key)
{
    error_.clear();
    if (!QFileInfo::exists(path_))
        return true;
    QLockFile lock(path_ + QStringLiteral(".lock"));
    lock.setStaleLockTime(kLockWaitMs);
    if (!lock.tryLock(kLockWaitMs)) {
        error_ = QStringLiteral("The state file %1 is locked by another program").arg(QDir::toNativeSeparators(path_));
        return false;
    }
    QString unreadable;
    std::optional<QJsonArray> marks = readMarks(path_, &unreadable);
    if (!marks) {
        const QString aside = path_ + QStringLiteral(".damaged");
        QFile::remove(aside);
        QFile::rename(path_, aside);
        marks = QJsonArray();
    }
    QJsonArray kept;
    for (const QJsonValue &v : std::as_const(*marks)) {
        if (!matches(v.toObject(), key, key.folder.isEmpty()))
            kept.append(v);
    }
    return writeMarks(path_, kept, &error_);
}

QString NewOnlyProgress::folderKey(const QString &folder)
{
    return folder.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0 ? QStringLiteral("INBOX") : folder;
}

void NewOnlyProgress::begin(const QString &folder, quint32 uidValidity, quint32 mark)
{
    Folder f;
    f.validity = uidValidity;
    f.lastDelivered = f.written = mark;
    f.isWritten = mark != 0;
    folders_.insert(folderKey(folder), f);
}

void NewOnlyProgress::walked(const MailRecord &record)
{
    const auto it = folders_.find(folderKey(record.folder));
    if (it == folders_.end() || it->gap)
        return;
    if (record.position != it->next || record.uidValidity != it->validity || record.uid <= it->lastDelivered) {
        it->gap = true;
        return;
    }
    it->lastDelivered = record.uid;
    ++it->next;
}

void NewOnlyProgress::watched(const MailRecord &record)
{
    const auto it = folders_.find(folderKey(record.folder));
    if (it == folders_.end() || it->gap)
        return;
    if (record.uidValidity != it->validity) {
        it->validity = record.uidValidity;
        it->isWritten = false;
        it->lastDelivered = record.uid;
        return;
    }
    it->lastDelivered = qMax(it->lastDelivered, record.uid);
}

QList<NewOnlyProgress::Move> NewOnlyProgress::moves() const
{
    QList<Move> out;
    for (auto it = folders_.cbegin(); it != folders_.cend(); ++it) {
        if (it->isWritten && it->lastDelivered == it->written)
            continue;
        out << Move{it.key(), it->validity, it->lastDelivered};
    }
    return out;
}

void NewOnlyProgress::written(const Move &move)
{
    const auto it = folders_.find(move.folder);
    if (it == folders_.end() || it->validity != move.uidValidity)
        return;
    it->written = move.uid;
    it->isWritten = true;
}

}  // namespace vc
