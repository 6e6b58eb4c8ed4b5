#pragma once
// The workbook writer behind replaceFile() and toSink(); see RecordWriters.h.
#include "output/RecordWriters.h"

namespace vc::records {

// One sheet, a bold frozen header row, then the rows as they come, written in
// libxlsxwriter's constant-memory mode (a row at a time, never the whole
// workbook in memory). The workbook is built in a temporary file: committed,
// it replaces the file at `path`, or with an empty path goes to `sink` whole.
std::unique_ptr<RecordWriter> openXlsxWriter(const QString &path, ByteSink sink, const QList<Column> &columns,
                                             const WriterOptions &options, QString *error);

}  // namespace vc::records
