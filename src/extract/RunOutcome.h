#pragma once
#include "extract/FolderWalk.h"
#include "extract/StepFault.h"
#include "extract/WatchStep.h"

#include <optional>

namespace vc {

// How a run ended: the one value from which the window's boxes and the
// command-line program's messages and exit status are derived.
struct RunOutcome {
    enum class Kind {
        Completed,   // the walk went through the folder (walk.read of walk.asked)
        Incomplete,  // the walk ran, but messages could not be read (walk says how many, and why)
        Failed,      // a step failed: `failure` says which, and why
        Stopped,     // a stop was asked for; the walk ended at message `stoppedAt`
        NoMessages,  // the folder is empty, or the count did not come to a number
    };
    Kind kind = Kind::Completed;
    std::optional<StepFault> failure;  // Failed
    // Failed: the failure came from the walk's own sign-in or select, after the
    // folder had been counted; otherwise from the run's sign-in or the count.
    bool inWalk = false;
    WalkStats walk;         // what the walk did; zero when it never ran
    qint64 stoppedAt = 0;   // Stopped: the number of the last message asked for
    bool walked = false;    // the run reached its walk (which may have failed)
    int runTimeErrors = 0;  // steps that failed with a run-time error, each reported where it happened
    // Attachments: files written, attachments that could not be saved, and
    // attachments whose text could not be read (each also in the error log).
    int attachmentsSaved = 0;
    int attachmentSaveFailures = 0;
    int attachmentTextProblems = 0;
    // The watch after the walk, when the host asked for one (watch.ran).
    WatchStats watch;
};

}  // namespace vc
