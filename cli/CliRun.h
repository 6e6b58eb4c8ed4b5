#pragma once
#include "CliOptions.h"
#include "CliOutcome.h"
#include "CliOutput.h"
#include "extract/ExtractionRun.h"

#include <QString>
#include <QStringList>

namespace vc {
class ImapComponent;
}

namespace vc::cli {

// Runs one extraction with `component` (the caller configures it), writes the
// rows and says how it ended (through vc::dialogs(), standard error in the
// program). Returns the exit status.
int runExtraction(const Options &options, ImapComponent &component, const QString &password,
                  const OutputSink &sink = writeToStdout);

// The whole program after QCoreApplication exists.
int cliMain(const QStringList &args);

}  // namespace vc::cli
