#pragma once
#include "CliOptions.h"
#include "CliOutput.h"
#include "extract/ExtractionRun.h"

#include <QString>
#include <QStringList>

namespace vc {
class ImapComponent;
}

namespace vc::cli {

// The exit status for how a run ended; an interrupt wins over everything.
int exitStatus(RunOutcome outcome, bool interrupted);

// Runs one extraction with `component` (the caller configures it) and writes
// the rows. Engine boxes go through vc::dialogs(). Returns the exit status.
int runExtraction(const Options &options, ImapComponent &component, const QString &password,
                  const OutputSink &sink = writeToStdout);

// The whole program after QCoreApplication exists.
int cliMain(const QStringList &args);

}  // namespace vc::cli
