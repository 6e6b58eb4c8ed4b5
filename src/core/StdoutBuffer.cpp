#include "core/StdoutBuffer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

namespace vc::stdoutbuffer {

namespace {

constexpr qsizetype kPiece = 64 * 1024;
constexpr qint64 kHoldMs = 200;

struct Held {
    QByteArray bytes;
    QElapsedTimer sinceWrite;
    int terminal = -1;  // not asked yet
    bool failed = false;
    bool timerSet = false;
};

Held &held()
{
    static Held h;
    return h;
}

}  // namespace

bool write(const QByteArray &bytes)
{
    Held &h = held();
    if (h.failed)
        return false;
    h.bytes += bytes;
    if (h.terminal < 0)
        h.terminal = ::isatty(STDOUT_FILENO) ? 1 : 0;
    if (h.terminal == 1 || h.bytes.size() >= kPiece || !h.sinceWrite.isValid() || h.sinceWrite.hasExpired(kHoldMs))
        return flush();
    // Held bytes go out within the hold time also when nothing follows them
    // for a while (a slow server, a watch between messages).
    if (!h.timerSet && QCoreApplication::instance()) {
        h.timerSet = true;
        QTimer::singleShot(kHoldMs, QCoreApplication::instance(), [] {
            held().timerSet = false;
            flush();
        });
    }
    return true;
}

bool flush()
{
    Held &h = held();
    if (h.failed)
        return false;
    if (h.bytes.isEmpty())
        return true;
    const size_t n = std::fwrite(h.bytes.constData(), 1, size_t(h.bytes.size()), stdout);
    const bool ok = n == size_t(h.bytes.size()) && std::fflush(stdout) == 0;
    h.bytes.truncate(0);  // keeps its room for the next piece
    h.sinceWrite.start();
    h.failed = !ok;
    return ok;
}

}  // namespace vc::stdoutbuffer
