#pragma once
#include <functional>

class QEventLoop;

namespace vc {

enum class WaitOutcome { Done, TimedOut, Aborted };

// Waits in a local event loop, so the program's one thread keeps handling
// window events (Stop included) meanwhile, until `done` is true, `timeoutMs`
// has passed (0 or less: no limit) or `aborted` answers true. The conditions
// are checked every 25 ms and whenever something quits the loop: `wire` may
// connect signals to the loop's quit() to be woken at once.
WaitOutcome waitUntil(const std::function<bool()> &done, int timeoutMs, const std::function<bool()> &aborted,
                      const std::function<void(QEventLoop &)> &wire = {});

}  // namespace vc
