#include "app/CmdOutput.h"

#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/Yield.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStringDecoder>

namespace vc {

namespace {

// The public host the start-up check pings.
const QString kPingHost = QStringLiteral("www.google.com");
// How long one wait for more output lasts before the event loop gets a turn.
constexpr int kReadSliceMs = 20;

QString &onlineCommandOverride()
{
    static QString command;
    return command;
}

}  // namespace

QString GetCommandOutput(const QString &commandLine, bool stdOut, bool stdErr, bool oemConvert, int timeoutMs)
{
    Q_UNUSED(oemConvert);
    if (!stdOut && !stdErr)
        raise(err::InvalidCall);

    QStringList args = QProcess::splitCommand(commandLine);
    if (args.isEmpty())
        return kCreateProcessFailed;
    const QString program = args.takeFirst();

    QProcess process;
    if (stdOut && stdErr) {
        process.setProcessChannelMode(QProcess::MergedChannels);
    } else if (stdOut) {
        process.setStandardErrorFile(QProcess::nullDevice());
    } else {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setReadChannel(QProcess::StandardError);
    }
    process.setStandardInputFile(QProcess::nullDevice());

    QElapsedTimer clock;
    clock.start();
    process.start(program, args, QIODevice::ReadOnly);
    if (!process.waitForStarted(std::max(timeoutMs, 1)))
        return kCreateProcessFailed;

    // Output is decoded as it arrives; the decoder keeps a character split
    // between two reads whole.
    QStringDecoder decoder(QStringConverter::System);
    QString result;
    auto drain = [&] {
        const QByteArray bytes = stdOut ? process.readAllStandardOutput() : process.readAllStandardError();
        if (!bytes.isEmpty())
            result += decoder.decode(bytes);
    };
    for (;;) {
        yieldToEvents();
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            break;
        process.waitForReadyRead(int(std::min<qint64>(left, kReadSliceMs)));
        drain();
        if (process.state() == QProcess::NotRunning)
            break;
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
    }
    drain();
    return result;
}

QString defaultOnlineCheckCommand()
{
#ifdef Q_OS_WIN
    return QStringLiteral("ping ") + kPingHost + QStringLiteral(" -n 1");
#else
    return QStringLiteral("ping -c 1 -W 2 ") + kPingHost;
#endif
}

QString onlineReplyMarker()
{
#ifdef Q_OS_WIN
    return QStringLiteral("bytes=");
#else
    return QStringLiteral("bytes from");
#endif
}

void setOnlineCheckCommand(const QString &commandLine)
{
    onlineCommandOverride() = commandLine;
}

bool CheckOnlineWithin(int timeoutMs)
{
    const QString command = onlineCommandOverride().isEmpty() ? defaultOnlineCheckCommand() : onlineCommandOverride();
    // An empty capture (nothing printed within the wait) counts as offline
    // instead of being waited for again.
    const QString output = GetCommandOutput(command, true, false, true, timeoutMs);
    if (output.contains(onlineReplyMarker(), Qt::CaseInsensitive))
        return true;
    dialogs().messageBox(kOfflineWarning, BoxButtons::Ok, BoxIcon::None);
    return false;
}

void CheckOnline()
{
    CheckOnlineWithin(5000);
}

}  // namespace vc
