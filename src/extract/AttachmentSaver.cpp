#include "extract/AttachmentSaver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QTextBoundaryFinder>

#include <utility>

namespace vc {

namespace {

constexpr qsizetype kMaxFileNameBytes = 255;  // what Linux file systems allow
constexpr qsizetype kMaxExtensionBytes = 16;
constexpr int kMaxNumber = 9999;

qsizetype utf8Size(QStringView s)
{
    return s.toUtf8().size();
}

// The longest start of `s` of at most `maxBytes` bytes in UTF-8 that ends
// between two characters as a reader sees them (never inside a surrogate pair
// or between a letter and its accent).
QString cutToBytes(const QString &s, qsizetype maxBytes)
{
    if (utf8Size(s) <= maxBytes)
        return s;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    qsizetype used = 0;
    qsizetype end = 0;
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary()) {
        const qsizetype add = utf8Size(QStringView(s).mid(end, next - end));
        if (used + add > maxBytes)
            break;
        used += add;
        end = next;
    }
    return s.left(end);
}

bool isUnsafe(char32_t u)
{
    switch (u) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*': return true;
    default: return false;
    }
}

QString trimDotsAndSpaces(QString s, bool leading)
{
    if (leading) {
        qsizetype i = 0;
        while (i < s.size() && (s[i] == QLatin1Char('.') || s[i].isSpace()))
            ++i;
        s.remove(0, i);
    }
    while (!s.isEmpty() && (s.back() == QLatin1Char('.') || s.back().isSpace()))
        s.chop(1);
    return s;
}

// "name.pdf" as "name" and ".pdf"; no extension when the dot starts the name
// or what follows it is long or holds blanks.
std::pair<QString, QString> splitExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return {name, {}};
    const QString extension = name.mid(dot);
    if (utf8Size(extension) > kMaxExtensionBytes || extension.contains(QLatin1Char(' ')))
        return {name, {}};
    return {name.left(dot), extension};
}

}  // namespace

QString safeAttachmentName(const QString &name, qsizetype maxBytes)
{
    maxBytes = qMax<qsizetype>(maxBytes, 1);
    QString base = name;
    const qsizetype slash = qMax(base.lastIndexOf(QLatin1Char('/')), base.lastIndexOf(QLatin1Char('\\')));
    if (slash >= 0)
        base = base.mid(slash + 1);

    QString clean;
    clean.reserve(base.size());
    for (const char32_t u : base.toUcs4()) {
        const QChar::Category category = QChar::category(u);
        if (category == QChar::Other_Format)
            continue;  // bidi overrides and isolates, zero-width spaces, byte order marks
        if (category == QChar::Other_Control || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph || category == QChar::Other_Surrogate
            || category == QChar::Other_NotAssigned || isUnsafe(u))
            clean += QLatin1Char('_');
        else if (QChar::isSpace(u))
            clean += QLatin1Char(' ');
        else
            clean += QString::fromUcs4(&u, 1);
    }
    clean = trimDotsAndSpaces(clean, true);
    if (clean.isEmpty())
        clean = QStringLiteral("attachment");
    if (utf8Size(clean) <= maxBytes)
        return clean;

    auto [stem, extension] = splitExtension(clean);
    qsizetype room = maxBytes - utf8Size(extension);
    if (room < 1) {
        stem = clean;
        extension.clear();
        room = maxBytes;
    }
    stem = trimDotsAndSpaces(cutToBytes(stem, room), false);
    if (stem.isEmpty())
        stem = cutToBytes(QStringLiteral("attachment"), room);
    return stem + extension;
}

AttachmentSaver::AttachmentSaver(const QString &folder, const QStringList &globs) : folder_(folder)
{
    for (const QString &glob : globs) {
        if (glob.trimmed().isEmpty())
            continue;
        globs_ << QRegularExpression(QRegularExpression::wildcardToRegularExpression(glob.trimmed()),
                                     QRegularExpression::CaseInsensitiveOption);
    }
}

bool AttachmentSaver::open(QString *error)
{
    QMutexLocker lock(&mutex_);
    open_ = false;
    if (folder_.isEmpty()) {
        *error = QStringLiteral("no folder was given for the attachments");
        return false;
    }
    if (!QDir().mkpath(folder_)) {
        *error = QStringLiteral("the folder %1 cannot be made").arg(QDir::toNativeSeparators(folder_));
        return false;
    }
    const QFileInfo info(folder_);
    if (!info.isDir() || !info.isWritable()) {
        *error = QStringLiteral("%1 is not a folder this program can write to").arg(QDir::toNativeSeparators(folder_));
        return false;
    }
    folder_ = info.canonicalFilePath();
    open_ = true;
    return true;
}

namespace {

bool matchesGlobs(const QList<QRegularExpression> &globs, const QString &name)
{
    if (globs.isEmpty())
        return true;
    const QString safe = safeAttachmentName(name);
    for (const QRegularExpression &glob : globs)
        if (glob.match(safe).hasMatch())
            return true;
    return false;
}

}  // namespace

bool AttachmentSaver::matches(const QString &name) const
{
    return matchesGlobs(globs_, name);
}

std::function<bool(const QString &name)> AttachmentSaver::matcher() const
{
    return [globs = globs_](const QString &name) { return matchesGlobs(globs, name); };
}

QString AttachmentSaver::save(quint32 uid, const QString &name, const QByteArray &bytes, QString *error)
{
    QMutexLocker lock(&mutex_);
    if (!open_) {
        *error = QStringLiteral("the attachment folder is not open");
        return {};
    }
    const QString prefix = QString::number(uid) + QLatin1Char('-');
    const qsizetype numberRoom = utf8Size(QStringLiteral(" (%1)").arg(kMaxNumber));
    const QString safe = safeAttachmentName(name, kMaxFileNameBytes - utf8Size(prefix) - numberRoom);
    const auto [stem, extension] = splitExtension(safe);
    for (int n = 1; n <= kMaxNumber; ++n) {
        const QString fileName = n == 1 ? prefix + safe : prefix + stem + QStringLiteral(" (%1)").arg(n) + extension;
        const QString path = write(fileName, bytes, error);
        if (!path.isEmpty()) {
            saved_ << path;
            return path;
        }
        if (!error->isEmpty())
            return {};
    }
    *error = QStringLiteral("%1: every numbered name is taken").arg(prefix + safe);
    return {};
}

// Writes one file under a name nobody has taken; an empty result with an
// empty *error means the name is taken.
QString AttachmentSaver::write(const QString &fileName, const QByteArray &bytes, QString *error)
{
    error->clear();
    const QString path = folder_ + QLatin1Char('/') + fileName;
    // The name has no separators, but the file must land in the folder whatever it holds.
    if (fileName.contains(QLatin1Char('/')) || QFileInfo(path).absolutePath() != folder_
        || QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath() != folder_) {
        *error = QStringLiteral("%1: the name leads outside the folder").arg(fileName);
        return {};
    }
    // Claim the name first: creating it fails when anything (a file, a link)
    // has it already, so no file is ever replaced. QSaveFile then puts the
    // whole content in its place at once.
    QFile claim(path);
    if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            return {};
        *error = QStringLiteral("%1: %2").arg(fileName, claim.errorString());
        return {};
    }
    claim.close();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("%1: %2").arg(fileName, file.errorString());
        file.cancelWriting();
        QFile::remove(path);
        return {};
    }
    return path;
}

AttachmentSink AttachmentSaver::sinkFor(quint32 uid)
{
    AttachmentSink sink;
    sink.wants = [this](const AttachmentInfo &info) { return matches(info.name); };
    sink.take = [this, uid](const AttachmentInfo &info, const QByteArray &bytes) {
        QString error;
        if (save(uid, info.name, bytes, &error).isEmpty()) {
            QMutexLocker lock(&mutex_);
            errors_ << error;
        }
    };
    return sink;
}

QStringList AttachmentSaver::savedFiles() const
{
    QMutexLocker lock(&mutex_);
    return saved_;
}

QStringList AttachmentSaver::takeErrors()
{
    QMutexLocker lock(&mutex_);
    return std::exchange(errors_, {});
}

}  // namespace vc
