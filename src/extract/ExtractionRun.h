#pragma once
#include "extract/RunWiring.h"

namespace vc {

// How a run ended, for callers that need an exit status:
//   Done              the walk went through the folder
//   Incomplete        the walk ran, but messages could not be read
//   ConnectFailed     the connect or login (of the run or of the walk) failed
//   FolderNotSelected the folder could not be selected (count or walk)
//   NoMessages        the folder is empty
//   Stopped           AbortProcess was set during the run
//   Failed            a step of the run failed with a run-time error
enum class RunOutcome { Done, ConnectFailed, NoMessages, Failed, FolderNotSelected, Stopped, Incomplete };

// The run procedure (ExtractEmail): connects when there is no connection object,
// counts the folder, walks it, drops the connection object, resets the progress
// display and says "Done." unless the run failed before the walk. Every step is
// trapped under the run's location ("...Form1.ExtractEmail").
RunOutcome ExtractEmail(RunHost &host);

}  // namespace vc
