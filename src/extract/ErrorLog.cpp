#include "extract/ErrorLog.h"

#include "core/AppError.h"
#include "core/DateText.h"
#include "output/SafeText.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <limits>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vc::errorlog {

namespace {

QString g_programFolder;
QString g_userFolder;
QString g_chosenDefault;  // the default log chosen at the first record; empty: not chosen yet

// The log a Session keeps open between records, and the records a batching
// session holds for it.
struct OpenLog {
    int sessions = 0;
    int batching = 0;
    QString path;
    std::unique_ptr<QFile> file;
    QByteArray held;
    int heldRecords = 0;
    QElapsedTimer sinceWrite;

    void close()
    {
        file.reset();
        path.clear();
    }
    void dropHeld()
    {
        held.clear();
        heldRecords = 0;
    }
    // What was held is in the file.
    void written()
    {
        dropHeld();
        sinceWrite.start();
    }
    bool due() const
    {
        return batching == 0 || heldRecords >= 64 || held.size() >= 32 * 1024 || !sinceWrite.isValid()
               || sinceWrite.hasExpired(250);
    }
};
OpenLog g_open;

// Opens the log for appending, created owner-only when it is missing. A link
// in its place is not followed (someone else could point it at any file of
// ours), and only a regular file is written to.
std::unique_ptr<QFile> openLog(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    auto f = std::make_unique<QFile>();
    // Unbuffered: each record goes to the file with its own write call.
    if (!f->open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return f;
}

bool writeWhole(QFile &f, const QByteArray &bytes)
{
    return f.write(bytes) == bytes.size() && f.error() == QFileDevice::NoError;
}

// Writes the held records to the open log; a failed write closes the file and
// keeps them, for the next attempt to write them first.
bool writeHeld()
{
    if (g_open.held.isEmpty())
        return true;
    if (!g_open.file || !writeWhole(*g_open.file, g_open.held)) {
        g_open.close();
        return false;
    }
    g_open.written();
    return true;
}

// Appends `bytes` to `path` with one write call (after the held records of
// a log whose write failed). Within a Session the file stays open for the
// next record, and a batching one holds records for a while; a failed write
// closes the file, and the caller's retry opens it afresh.
bool appendTo(const QString &path, const QByteArray &bytes)
{
    if (g_open.sessions > 0 && g_open.file && g_open.path == path) {
        g_open.held += bytes;
        ++g_open.heldRecords;
        if (!g_open.due() || writeHeld())
            return true;
        g_open.held.chop(bytes.size());  // the retry writes it with the others
        --g_open.heldRecords;
        return false;
    }
    if (g_open.file && !writeHeld())
        g_open.dropHeld();  // another log now; the earlier one cannot be written
    g_open.close();
    std::unique_ptr<QFile> f = openLog(path);
    if (!f)
        return false;
    const QByteArray whole = g_open.held + bytes;
    if (!writeWhole(*f, whole))
        return false;
    g_open.written();
    if (g_open.sessions > 0) {
        g_open.path = path;
        g_open.file = std::move(f);
    }
    return true;
}

// The text of the current time; the conversion to local time (with its time
// zone look-ups) is made once per second, not once per record.
QString currentTimestamp()
{
    static qint64 second = std::numeric_limits<qint64>::min();
    static QString text;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 s = now >= 0 ? now / 1000 : (now - 999) / 1000;
    if (s != second) {
        text = timestampText(QDateTime::fromMSecsSinceEpoch(s * 1000));
        second = s;
    }
    return text;
}

// The error text as one line of the log: a server's text may carry line
// breaks and control characters, which would otherwise start records of their
// own; they are written as escapes ("\x0d\x0a").
QString loggedText(const QString &errorText)
{
    return safetext::forTerminal(errorText);
}

QByteArray recordWithTimestamp(const QString &timestamp, const QString &errorText)
{
    const QString text = timestamp + QStringLiteral(" : ") + loggedText(errorText) + QStringLiteral("\r\n")
                         + QString(kSeparatorLength, u'*') + QStringLiteral("\r\n");
    return text.toLocal8Bit();
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
    return dateTimeText(localTime);
}

QByteArray recordBytes(const QDateTime &localTime, const QString &errorText)
{
    return recordWithTimestamp(timestampText(localTime), errorText);
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
    const QByteArray bytes = recordWithTimestamp(currentTimestamp(), errorText);
    if (!explicitPath.isEmpty()) {
        if (!appendTo(explicitPath, bytes) && !appendTo(explicitPath, bytes))
            raise(err::PathFileAccess);
        return explicitPath;
    }
    if (!g_chosenDefault.isEmpty() && appendTo(g_chosenDefault, bytes))
        return g_chosenDefault;
    // First record, or the chosen log failed: the program folder's log, else the
    // per-user one.
    g_chosenDefault.clear();
    const QString primary = programFolderPath();
    if (!isInstalledProgramFolder(QFileInfo(primary).absolutePath()) && appendTo(primary, bytes)) {
        g_chosenDefault = primary;
        return primary;
    }
    const QString fallback = userFolderPath();
    QDir().mkpath(QFileInfo(fallback).absolutePath());
    if (appendTo(fallback, bytes)) {
        g_chosenDefault = fallback;
        return fallback;
    }
    raise(err::PathFileAccess);
}

Session::Session(Writes writes) : batched_(writes == Writes::Batched)
{
    ++g_open.sessions;
    if (batched_)
        ++g_open.batching;
}

Session::~Session()
{
    if (batched_ && --g_open.batching == 0)
        writeHeld();  // best effort: the walk's own end flushes and says when it fails
    if (--g_open.sessions == 0) {
        g_open.close();
        g_open.dropHeld();
    }
}

void flush()
{
    if (g_open.held.isEmpty())
        return;
    const QString path = g_open.path;
    if (writeHeld())
        return;
    // One more attempt on a freshly opened file, as for a single record.
    if (!path.isEmpty() && appendTo(path, QByteArray()))
        return;
    g_open.dropHeld();
    raise(err::PathFileAccess);
}

void overrideFolders(const QString &programFolder, const QString &userFolder)
{
    g_programFolder = programFolder;
    g_userFolder = userFolder;
    g_chosenDefault.clear();
    g_open.close();
    g_open.dropHeld();
}

}  // namespace vc::errorlog
