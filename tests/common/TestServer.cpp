#include "TestServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

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
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    const QString script = qEnvironmentVariable("VC_SOURCE_DIR") + QStringLiteral("/scripts/test-server.sh");
    QStringList all{script};
    all << args.first() << dir();
    all << args.mid(1);
    p.start(QStringLiteral("bash"), all);
    p.waitForFinished(120000);
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void TestServer::resetMailbox()
{
    script({QStringLiteral("reset")});
}

void TestServer::deliver(const QString &folder, const QByteArray &message)
{
    QProcess p;
    const QString script = qEnvironmentVariable("VC_SOURCE_DIR") + QStringLiteral("/scripts/test-server.sh");
    p.start(QStringLiteral("bash"), {script, QStringLiteral("deliver"), dir(), folder});
    p.waitForStarted();
    p.write(message);
    p.closeWriteChannel();
    p.waitForFinished(60000);
}

}  // namespace vc::test
