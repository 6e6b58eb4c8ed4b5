#pragma once
#include <QString>

#include <functional>

namespace vc {

// Runs the user's own token helper: `command` goes to the system shell
// (/bin/sh -c) in a process group of its own, and the first line of what it
// prints is the access token. A helper that does not finish in time (or is
// cancelled) is killed together with everything it started. Nothing of its
// output ever appears in an error text; what it wrote to standard error comes
// back in `log`, redacted, for the fetch log.
struct TokenCommandResult {
    bool ok = false;
    bool aborted = false;
    QString token;
    QString error;  // when !ok: what went wrong, for the user
    QString log;    // its standard error, tokens and secrets replaced by "********"; empty when it wrote none
};

TokenCommandResult runTokenCommand(const QString &command, int timeoutMs, const std::function<bool()> &aborted);

// `text` with what looks like a credential replaced by "********": each of
// `secrets`, bearer tokens and JWTs, and the values of "token=", "secret:",
// "password=" and the like.
QString redactSecrets(QString text, const QStringList &secrets);

}  // namespace vc
