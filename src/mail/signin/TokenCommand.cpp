#include "mail/signin/TokenCommand.h"

#include "mail/signin/SignInWait.h"

#include <QEventLoop>
#include <QProcess>

namespace vc {

namespace {

constexpr qint64 kMaxOutputBytes = 64 * 1024;

QString firstLine(const QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf('\n');
    return QString::fromUtf8(end < 0 ? bytes : bytes.left(end)).trimmed();
}

}  // namespace

TokenCommandResult runTokenCommand(const QString &command, int timeoutMs, const std::function<bool()> &aborted)
{
    TokenCommandResult r;
    if (command.trimmed().isEmpty()) {
        r.error = QStringLiteral("The token command is empty.");
        return r;
    }
    QProcess p;
#ifdef Q_OS_WIN
    p.setProgram(QStringLiteral("cmd.exe"));
    p.setNativeArguments(QStringLiteral("/d /s /c \"") + command + QLatin1Char('"'));
#else
    p.setProgram(QStringLiteral("/bin/sh"));
    p.setArguments({QStringLiteral("-c"), command});
#endif
    p.setStandardInputFile(QProcess::nullDevice());
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
    if (outcome != WaitOutcome::Done) {
        p.kill();
        p.waitForFinished(5000);
        r.aborted = outcome == WaitOutcome::Aborted;
        r.error = r.aborted
                      ? QStringLiteral("The token command was cancelled.")
                      : QStringLiteral("The token command did not finish within %1 s.").arg((timeoutMs + 999) / 1000);
        return r;
    }
    drain();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        const QString why = firstLine(err);
        r.error = p.exitStatus() != QProcess::NormalExit
                      ? QStringLiteral("The token command crashed.")
                      : QStringLiteral("The token command failed with exit status %1").arg(p.exitCode())
                            + (why.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + why);
        return r;
    }
    r.token = firstLine(out);
    if (r.token.isEmpty()) {
        r.error = QStringLiteral("The token command printed no token on its first line.");
        return r;
    }
    r.ok = true;
    return r;
}

}  // namespace vc
