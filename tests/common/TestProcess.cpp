#include "TestProcess.h"

#include <QProcess>

namespace vc::test {

ProcessResult runProcess(const QString &program, const QStringList &arguments, const QByteArray &input, int waitMs)
{
    QProcess p;
    p.start(program, arguments);
    ProcessResult r;
    if (!p.waitForStarted(10000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(waitMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

ProcessResult runProgram(const QString &name, const QStringList &arguments, const QByteArray &input, int waitMs)
{
    return runProcess(qEnvironmentVariable("VC_BIN_DIR") + QLatin1Char('/') + name, arguments, input, waitMs);
}

}  // namespace vc::test
