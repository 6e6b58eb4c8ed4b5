#include "TestServer.h"

#include "TestProcess.h"

#include <QDir>
#include <QFile>

namespace vc::test {

QString TestServer::dir()
{
    return qEnvironmentVariable("VC_TEST_SERVER_DIR");
}

bool TestServer::available()
{
    return !dir().isEmpty() && QFile::exists(dir() + QStringLiteral("/port"));
}

int TestServer::port()
{
    QFile f(dir() + QStringLiteral("/port"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().trimmed().toInt();
}

QString TestServer::caFile()
{
    return dir() + QStringLiteral("/ca.pem");
}

QStringList TestServer::cliSignIn(const QString &errorLog)
{
    return {QStringLiteral("--user"),          user(),
            QStringLiteral("--server"),        QStringLiteral("127.0.0.1:%1").arg(port()),
            QStringLiteral("--ca-file"),       caFile(),
            QStringLiteral("--password-file"), dir() + QStringLiteral("/password"),
            QStringLiteral("--error-log"),     errorLog};
}

QString TestServer::password()
{
    QFile f(dir() + QStringLiteral("/password"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll().trimmed());
}

ConnectionConfig TestServer::config()
{
    ConnectionConfig c;
    c.host = QStringLiteral("127.0.0.1");
    c.port = port();
    c.caFile = caFile();
    c.timeoutMs = 10000;
    return c;
}

int TestServer::script(const QStringList &args, QByteArray *output)
{
    const QString script = qEnvironmentVariable("VC_SOURCE_DIR") + QStringLiteral("/scripts/test-server.sh");
    const ProcessResult r = runProcess(QStringLiteral("bash"), QStringList{script, args.first(), dir()} + args.mid(1));
    if (output)
        *output = r.out + r.err;
    return r.code;
}

void TestServer::resetMailbox()
{
    script({QStringLiteral("reset")});
}

void TestServer::deliver(const QString &folder, const QByteArray &message, const QString &account)
{
    const QString script = qEnvironmentVariable("VC_SOURCE_DIR") + QStringLiteral("/scripts/test-server.sh");
    QStringList args{script, QStringLiteral("deliver"), dir(), folder};
    if (!account.isEmpty())
        args << account;
    runProcess(QStringLiteral("bash"), args, message);
}

}  // namespace vc::test
