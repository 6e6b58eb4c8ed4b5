#pragma once
#include "CliOptions.h"
#include "extract/ExtractionRun.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace vc {
class ImapComponent;
}

namespace vc::cli {

// The exit status for how a run ended; an interrupt wins over everything.
int exitStatus(RunOutcome outcome, bool interrupted);

// The password: the named environment variable, the first line of the file, or
// one line of standard input (not echoed when it is a terminal). Nothing and
// `error` set when it cannot be had.
std::optional<QString> readPassword(const Options &options, QString *error);

// Ctrl+C: the first SIGINT asks the running walk to stop (like the Stop button);
// a second one ends the program at once.
void installInterruptHandler();
bool interruptRequested();
void requestInterrupt();  // what the signal handler does; also for tests
void clearInterrupt();

// Where the output bytes go when there is no --output file.
using OutputSink = std::function<bool(const QByteArray &)>;
bool writeToStdout(const QByteArray &bytes);

// Runs one extraction with `component` (the caller configures it) and writes
// the rows. Engine boxes go through vc::dialogs(). Returns the exit status.
int runExtraction(const Options &options, ImapComponent &component, const QString &password,
                  const OutputSink &sink = writeToStdout);

// The whole program after QCoreApplication exists.
int cliMain(const QStringList &args);

}  // namespace vc::cli
