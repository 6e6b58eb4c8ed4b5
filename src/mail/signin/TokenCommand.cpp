#include "mail/signin/TokenCommand.h"

#include "mail/signin/SignInWait.h"

#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <csignal>
#include <unistd.h>

namespace vc {

namespace {

constexpr qint64 kMaxOutputBytes = 64 * 1024;
constexpr qsizetype kMaxLogChars = 2000;
const QString kRedacted = QStringLiteral("********");

QString firstLine(const QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf('\n');
    return QString::fromUtf8(end < 0 ? bytes : bytes.left(end)).trimmed();
}

// Ends the helper and whatever it started: they all share its process group.
void killGroup(QProcess &p)
{
    const qint64 pid = p.processId();
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    p.kill();
    p.waitForFinished(5000);
}

}  // namespace

QString redactSecrets(QString text, const QStringList &secrets)
{
    for (const QString &secret : secrets) {
        if (secret.size() >= 4)
            text.replace(secret, kRedacted);
    }
    static const QRegularExpression patterns[] = {
        // "Bearer <token>"
        QRegularExpression(QStringLiteral("(\\bbearer\\s+)[A-Za-z0-9._~+/=-]+"),
                           QRegularExpression::CaseInsensitiveOption),
        // JSON Web Tokens: three base64url parts, the first one a JSON object.
        QRegularExpression(QStringLiteral("()\\beyJ[A-Za-z0-9_-]*\\.[A-Za-z0-9_-]+\\.[A-Za-z0-9_-]*")),
        // token=..., "refresh_token": "...", client_secret: ..., password=...
        QRegularExpression(QStringLiteral("(\\b[A-Za-z_]*(?:token|secret|password|passwd)\"?\\s*[=:]\\s*\"?)"
                                          "[^\\s\"&,;]+"),
                           QRegularExpression::CaseInsensitiveOption),
    };
    for (const QRegularExpression &re : patterns)
        text.replace(re, QStringLiteral("\\1") + kRedacted);
    return text;
}

TokenCommandResult runTokenCommand(const QString &command, int timeoutMs, const std::function<bool()> &aborted)
{
    TokenCommandResult r;
    if (command.trimmed().isEmpty()) {
        r.error = QStringLiteral("The token command is empty.");
        return r;
    }
    QProcess p;
    p.setProgram(QStringLiteral("/bin/sh"));
    p.setArguments({QStringLiteral("-c"), command});
    p.setStandardInputFile(QProcess::nullDevice());
    // A group of its own, so that a time-out ends its children too.
    p.setChildProcessModifier([] { ::setpgid(0, 0); });
    p.start();
    if (!p.waitForStarted(10000)) {
        r.error = QStringLiteral("The token command could not be started: %1.").arg(p.errorString());
        return r;
    }
    QByteArray out, err;
    bool finished = false;
    QObject::connect(&p, &QProcess::finished, &p, [&finished] { finished = true; });
    auto drain = [&] {
        out += p.readAllStandardOutput().left(kMaxOutputBytes - out.size());
        err += p.readAllStandardError().left(kMaxOutputBytes - err.size());
    };
    QObject::connect(&p, &QProcess::readyReadStandardOutput, &p, drain);
    QObject::connect(&p, &QProcess::readyReadStandardError, &p, drain);
    const WaitOutcome outcome =
        waitUntil([&finished] { return finished; }, timeoutMs, aborted,
                  [&p](QEventLoop &loop) { QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit); });
    const auto keepLog = [&] {
        const QString said = QString::fromUtf8(err).trimmed();
        if (!said.isEmpty())
            r.log = redactSecrets(said, {firstLine(out)}).left(kMaxLogChars);
    };
    if (outcome != WaitOutcome::Done) {
        killGroup(p);
        drain();
        keepLog();
        r.aborted = outcome == WaitOutcome::Aborted;
        r.error = r.aborted
                      ? QStringLiteral("The token command was cancelled.")
                      : QStringLiteral("The token command did not finish within %1 s.").arg((timeoutMs + 999) / 1000);
        return r;
    }
    drain();
    keepLog();
    const QString seeLog = r.log.isEmpty() ? QString() : QStringLiteral(" Its messages are in the fetch log.");
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        r.error = p.exitStatus() != QProcess::NormalExit
                      ? QStringLiteral("The token command crashed.")
                      : QStringLiteral("The token command failed with exit status %1.").arg(p.exitCode());
        r.error += seeLog;
        return r;
    }
    r.token = firstLine(out);
    if (r.token.isEmpty()) {
        r.error = QStringLiteral("The token command printed no token on its first line.") + seeLog;
        return r;
    }
    r.ok = true;
    return r;
}

}  // namespace vc
