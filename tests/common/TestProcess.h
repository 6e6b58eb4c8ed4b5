#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vc::test {

// How a process ended and what it wrote.
struct ProcessResult {
    int code = -1;  // -1: it did not start, did not finish in time, or crashed
    QByteArray out, err;
};

// Runs `program` with `arguments`, writes `input` to its standard input and
// closes it, and waits for the end; after `waitMs` the process is killed.
ProcessResult runProcess(const QString &program, const QStringList &arguments, const QByteArray &input = {},
                         int waitMs = 120000);

// The same for one of the programs of this build ("vellumcast-cli", "vellumcast").
ProcessResult runProgram(const QString &name, const QStringList &arguments, const QByteArray &input = {},
                         int waitMs = 120000);

}  // namespace vc::test
