#pragma once

namespace vc {

// Lets the message loop handle pending events (repaints, clicks such as Stop).
// Throttled: at most one pass every 20 ms, so a hot loop does not spend its time
// here. yieldNow() always runs one pass.
void yieldToEvents();
void yieldNow();

}  // namespace vc
