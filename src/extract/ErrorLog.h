#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace vc {

// The fetch log: one record appended after every fetch of the message walk.
// Record: "<local date-time> : <last-error text>" CR LF, 52 asterisks, CR LF,
// in the system encoding, written with one write call, so every record is in
// the file when append returns. The error text stays on its one line: line
// breaks and other control characters in it are written as escapes ("\x0d").
// The file is only ever appended to; it is created readable by its owner only,
// and a symbolic link in its place is refused, not followed.
namespace errorlog {

inline constexpr int kSeparatorLength = 52;
inline constexpr char kFileName[] = "errorlog.txt";

// The date-time text of a record: system short date, a blank, system long time
// (without a time-zone name).
QString timestampText(const QDateTime &localTime);

// The bytes of one record.
QByteArray recordBytes(const QDateTime &localTime, const QString &errorText);

// "<program folder>/errorlog.txt" and "<per-user data folder>/errorlog.txt".
QString programFolderPath();
QString userFolderPath();

// Appends one record. With a non-empty `explicitPath` the record goes there and
// nowhere else. Otherwise the program folder's log is used, or the per-user one
// when the program folder cannot be written or the program is an installed one
// (its desktop file lies in ../share/applications); that folder is created on
// demand. Which of the two is decided at the first record of the process and
// again only when writing to the chosen one fails. Returns the path written;
// throws AppError 75 when no log could be written.
QString append(const QString &explicitPath, const QString &errorText);

// While a Session lives (the message walk holds one), the log stays open between
// records instead of being opened and closed for each. Records reach the file
// one by one, unless a batching session is open: then the first record is
// written at once (a log that cannot be written fails before anything else
// happens) and the later ones are held and written together, at the latest
// after 64 records or a quarter of a second, by flush(), or when the last
// session ends. Sessions nest; the last one to end closes the file.
class Session {
public:
    enum class Writes { OneByOne, Batched };
    explicit Session(Writes writes = Writes::OneByOne);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

private:
    bool batched_;
};

// Writes the records a batching session holds; throws AppError 75 when they
// cannot be written.
void flush();

// Test hook: replaces the two default folders (empty strings restore them) and
// forgets which of them was chosen.
void overrideFolders(const QString &programFolder, const QString &userFolder);

}  // namespace errorlog
}  // namespace vc
