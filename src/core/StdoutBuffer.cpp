#include "core/StdoutBuffer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cerrno>
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
    // Whatever stdio holds goes first; then the piece with as few write calls as it takes.
    bool ok = std::fflush(stdout) == 0;
    const char *at = h.bytes.constData();
    qsizetype left = h.bytes.size();
    while (ok && left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok) {
            at += n;
            left -= n;
        }
    }
    h.bytes.truncate(0);  // keeps its room for the next piece
    h.sinceWrite.start();
    h.failed = !ok;
    return ok;
}

void toStderr(const QByteArray &text)
{
    flush();
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

}  // namespace vc::stdoutbuffer
