#pragma once
#include <QString>

#include <functional>

namespace vc {

// Runs the user's own token helper: `command` goes to the system shell
// (/bin/sh -c, or cmd.exe /c on Windows) and the first line of what it prints
// is the access token. Nothing of its output ever appears in an error text.
struct TokenCommandResult {
    bool ok = false;
    bool aborted = false;
    QString token;
    QString error;  // when !ok: what went wrong, for the user
};

TokenCommandResult runTokenCommand(const QString &command, int timeoutMs, const std::function<bool()> &aborted);

}  // namespace vc
