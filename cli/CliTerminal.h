#pragma once
#include "CliOptions.h"

#include <QString>

#include <optional>

namespace vc::cli {

// "vellumcast-cli: TEXT" on standard error.
void printError(const QString &text);

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

// "Reading mail n of m" on standard error: one line per change, or one line
// rewritten in place on a terminal.
class ProgressPrinter {
public:
    explicit ProgressPrinter(bool on);
    void show(const QString &text);
    void finish();  // ends a line left open on a terminal

private:
    bool on_, tty_;
    bool open_ = false;
    QString last_;
};

}  // namespace vc::cli
