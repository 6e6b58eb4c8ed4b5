#include "mail/signin/SignInWait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace vc {

namespace {
constexpr int kTickMs = 25;
}

WaitOutcome waitUntil(const std::function<bool()> &done, int timeoutMs, const std::function<bool()> &aborted,
                      const std::function<void(QEventLoop &)> &wire)
{
    const QDeadlineTimer deadline = timeoutMs > 0 ? QDeadlineTimer(timeoutMs) : QDeadlineTimer::Forever;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (wire)
        wire(loop);
    tick.start();
    for (;;) {
        if (done())
            return WaitOutcome::Done;
        if (aborted && aborted())
            return WaitOutcome::Aborted;
        if (deadline.hasExpired())
            return WaitOutcome::TimedOut;
        loop.exec();
    }
}

}  // namespace vc
