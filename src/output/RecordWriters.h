#pragma once
#include "rules/RecordRows.h"
#include "rules/Template.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QTime>

#include <functional>
#include <memory>
#include <optional>

// The rows of a template run written out as they come, message by message:
// CSV (RFC 4180), JSON lines, or an XLSX workbook.
namespace vc::records {

enum class RecordFormat { Csv, Jsonl, Xlsx };

struct WriterOptions {
    bool byteOrderMark = false;  // CSV: a UTF-8 byte-order mark first, for spreadsheet programs
    bool rawCells = false;       // CSV, XLSX: a cell that a spreadsheet would take for a formula stays as it is
    QString sheetName;           // XLSX: the sheet's name (the template's); empty: "Sheet1"
};

// --- the encodings -------------------------------------------------------------------

// A CSV file's header row: the column names, CRLF.
QByteArray csvHeader(const QList<Column> &columns);
// Appends one CSV record: the cells, quoted where they hold a comma, a quote
// or a line end, CRLF at the end; a cell that would be a formula gets a
// leading "'" (unless rawCells, or a number column holding a number).
void appendCsvRow(QByteArray &out, const QList<Column> &columns, const Row &row, const WriterOptions &options);
// Appends one JSON line: an object with the column names as keys, a list for a
// column with several values, a number for a number column holding one, LF at
// the end.
void appendJsonRow(QByteArray &out, const QList<Column> &columns, const Row &row);

// What a cell's text stands for in a number or date column: "£1,234.50" is
// 1234.5, "11,90" 11.9; a date in ISO 8601, RFC 2822 or as mail writes it
// ("Monday 6 January 2025", "06/01/2025": day first). Nothing when it is no
// number or date.
std::optional<double> cellNumber(QStringView text);
struct CellDate {
    QDate date;
    QTime time;  // invalid: a date alone
};
std::optional<CellDate> cellDate(QStringView text);

// --- the writers ---------------------------------------------------------------------

// Takes the rows of one message at a time; each append writes all of them or
// none. Nothing reaches an output file that replaces another until commit().
class RecordWriter {
public:
    virtual ~RecordWriter() = default;

    // The rows of one message. False, with errorString(), when they could not
    // be written; the output then holds none of them, and the writer takes no more.
    virtual bool append(const QList<Row> &rows) = 0;
    // Finishes the output: a replaced file takes the new content only now.
    virtual bool commit() = 0;
    // Abandons the output: a file that would have been replaced keeps its content.
    virtual void discard() = 0;

    QString errorString() const { return error_; }
    qint64 rowsWritten() const { return rows_; }

protected:
    bool fail(const QString &reason);
    QString error_;
    qint64 rows_ = 0;
};

// Where the bytes of a CSV or JSON-lines output go when it is no file
// (standard output); false when they could not be written.
using ByteSink = std::function<bool(const QByteArray &)>;

// A writer that replaces the file at `path` as a whole when committed. Null,
// with `error` set, when the file cannot be written there.
std::unique_ptr<RecordWriter> replaceFile(RecordFormat format, const QString &path, const QList<Column> &columns,
                                          const WriterOptions &options, QString *error);

// A CSV or JSON-lines writer that appends to the file at `path` (created when
// missing): the header row only when the file is new or empty, each message's
// rows whole or not at all (a failed write is cut off again).
std::unique_ptr<RecordWriter> appendFile(RecordFormat format, const QString &path, const QList<Column> &columns,
                                         const WriterOptions &options, QString *error);

// A writer that hands its bytes to `sink`: CSV and JSON lines message by
// message; a workbook, which is one file, whole at commit().
std::unique_ptr<RecordWriter> toSink(RecordFormat format, ByteSink sink, const QList<Column> &columns,
                                     const WriterOptions &options, QString *error);

// The bytes of a whole output for the given rows, as a writer gives them (CSV
// and JSON lines; the window's Copy and tests).
QByteArray recordBytes(RecordFormat format, const QList<Column> &columns, const QList<Row> &rows,
                       const WriterOptions &options);

}  // namespace vc::records
