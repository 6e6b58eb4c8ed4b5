#pragma once
#include "CliOptions.h"
#include "core/Dialogs.h"

#include <QString>

#include <functional>
#include <optional>

namespace vc::cli {

// "vellumcast-cli: TEXT" on standard error.
void printError(const QString &text);

// Text from outside (mail, a server's or a sign-in service's answers) as it
// may go to `fd`: on a terminal each line with its control and bidi characters
// escaped (see safetext::forTerminal), line breaks kept; to a file or a pipe
// unchanged.
QString forStream(const QString &text, int fd);

// The message boxes and sign-in prompts of a run, on standard error, with
// their texts escaped when standard error is a terminal. (The addresses it
// shows are written percent-encoded.)
class TerminalDialogs : public StderrDialogs {
public:
    explicit TerminalDialogs(QString prefix) : StderrDialogs(std::move(prefix)) {}
    BoxAnswer messageBox(const QString &text, BoxButtons buttons, BoxIcon icon, const QString &title) override;
    void showSignInCode(const QString &message, const QString &code, const QUrl &address,
                        std::function<void()> cancel) override;
};

// The password: the named environment variable (removed from the environment
// once read, so that no program started later inherits it), the first line of
// the file, or one line of standard input (not echoed when it is a terminal).
// Nothing and `error` set when it cannot be had.
std::optional<QString> readPassword(const Options &options, QString *error);

// Ctrl+C: the first SIGINT asks the running walk to stop (like the Stop button);
// a second one ends the program at once.
void installInterruptHandler();
bool interruptRequested();
void requestInterrupt();  // what the signal handler does; also for tests
void clearInterrupt();
// SIGTERM (a watch's usual end): stops the run as Ctrl+C does, and the program
// then ends as after a completed run; a second one ends it at once.
void installTerminateHandler();
bool terminateRequested();

// "Reading mail n of m" on standard error: one line per change, or one line
// rewritten in place on a terminal.
class ProgressPrinter {
public:
    explicit ProgressPrinter(bool on);
    void show(const QString &text);
    void finish();  // ends a line left open on a terminal
    // Runs `write`, which writes rows to standard output. When standard output
    // is the terminal the progress line is drawn on, the line is cleared
    // first, so the rows start at the beginning of a line, and drawn again
    // below them afterwards.
    void aside(const std::function<void()> &write);

private:
    void draw();

    bool on_, tty_;
    bool sharesTerminal_;  // standard output goes to the same terminal
    bool open_ = false;
    QString last_;
};

}  // namespace vc::cli
