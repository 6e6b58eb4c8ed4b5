#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>

namespace vc::test {

// The bytes of a file; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace vc::test
