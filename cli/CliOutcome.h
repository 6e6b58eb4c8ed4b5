#pragma once
#include "extract/RunOutcome.h"

#include <QStringList>

namespace vc::cli {

// What the program says about how a run ended, one message each, in order
// (each goes to standard error behind the program's name).
QStringList outcomeMessages(const RunOutcome &outcome);

// The exit status for how a run ended; an interrupt wins over everything.
int exitStatus(const RunOutcome &outcome, bool interrupted);

}  // namespace vc::cli
