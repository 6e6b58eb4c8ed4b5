#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vc {

// Reads a text-set item file: every line becomes one item, in file order. A line
// ends at CR LF, at a lone CR or at a lone LF; empty lines give empty items;
// nothing is trimmed and equal items are kept. A final line end does not start
// one more (empty) item. The file is read in the system's encoding.
// Throws AppError 53 ("File not found") when the file does not exist and 75
// ("Path/File access error") when it cannot be read.
QStringList readItemFile(const QString &path);

// The same splitting over text already in memory.
QStringList splitItemLines(const QString &text);

}  // namespace vc
