#pragma once
#include "extract/ErrorLog.h"
#include "extract/FolderWalk.h"

#include <QString>

namespace vc {

// The fetch log as a walk observer: one record after every exchange of the
// walk (each fetch, each reconnect attempt, the count asked again), holding
// the component's last-error text. The log stays open while the observer
// lives. A record that cannot be written raises AppError 75, which ends the
// walk before the message of that fetch is delivered. A walk's log may hold
// its records and write them in batches (see errorlog::Session); flush()
// then writes the rest at the walk's end, and a failure's record is written
// at once.
class FetchLog : public WalkObserver {
public:
    explicit FetchLog(QString explicitPath, errorlog::Session::Writes writes = errorlog::Session::Writes::OneByOne)
        : explicitPath_(std::move(explicitPath)), open_(writes)
    {}

    void exchanged(const QString &lastError) override;
    // Writes the held records; throws AppError 75 when they cannot be written.
    void flush() { errorlog::flush(); }
    // Where the records went; empty before the first.
    QString path() const { return written_; }

    // The record of a failure the user is told about, its lines joined into
    // one; a log that cannot be written changes nothing.
    static void recordFailure(const QString &explicitPath, const QString &text);

private:
    QString explicitPath_;
    QString written_;
    errorlog::Session open_;
};

}  // namespace vc
