#pragma once
#include "CliOptions.h"
#include "core/Dialogs.h"

#include <QString>

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
