#pragma once
#include "extract/RunOutcome.h"
#include "extract/RunWiring.h"

namespace vc {

// The run procedure (ExtractEmail): connects when there is no connection
// object, counts the folder, walks it (every message to the host), drops the
// connection object and resets the progress display. Every step is trapped
// under the run's location ("...Form1.ExtractEmail"). The host tells the user
// how the run ended from the outcome.
RunOutcome ExtractEmail(RunHost &host);

}  // namespace vc
