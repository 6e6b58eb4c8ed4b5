#pragma once
#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace vc::cli {

// Xlsx is written only through the record writers (see CliRecords.h).
enum class Format { Text, Comma, Space, Tab, Csv, Jsonl, Xlsx };

// How rows are made safe for where they go.
struct RowSafety {
    // A terminal reads the output: control and bidi characters of the rows
    // are written as escapes (safetext::forTerminal).
    bool terminal = false;
    // CSV cells that a spreadsheet would take for formulas (=, +, -, @ ...)
    // are written as they are; otherwise a "'" goes before them.
    bool rawCells = false;
};

// The bytes written for the result rows in one output format.
QByteArray formatRows(const QStringList &rows, Format format, RowSafety safety = {});

// One RFC 4180 field (always quoted) and one JSON string literal.
QByteArray csvField(const QString &text);
QByteArray jsonString(const QString &text);

// Where the output bytes go when there is no --output file; false when they
// could not be written. Standard output holds bytes for a while (see
// stdoutbuffer): whoever needs them out at a given point flushes.
using OutputSink = std::function<bool(const QByteArray &)>;
bool writeToStdout(const QByteArray &bytes);

// Writes the result rows as they come. Row-by-row formats (text, comma, csv,
// jsonl) are encoded and written per message, so a long run never holds all
// its rows; the padded layouts need every row for their widths and are written
// at the end. An --output file is written through QSaveFile: it replaces the
// old file only when the run has something to write (see finish()).
class RowWriter {
public:
    RowWriter(Format format, QString path, OutputSink sink, RowSafety safety = {});
    ~RowWriter();

    bool streaming() const { return format_ != Format::Space && format_ != Format::Tab; }

    // Opens the --output file (if any) before anything is fetched, so an
    // unusable path fails at once; false with the reason printed.
    bool open();
    // --excel: the output begins with a UTF-8 byte-order mark (written by open()).
    void setByteOrderMark(bool on) { byteOrderMark_ = on; }
    // The --output file is appended to instead of replaced (a watch): each
    // message's rows in one write, flushed at once, and cut off again when
    // they could not be written whole. Set before open().
    void setAppend(bool on) { append_ = on; }
    // Something could not be written; nothing more will be.
    bool failed() const { return failed_; }
    void add(const QStringList &rows);
    // Writes what is left and commits the output file; false (with the
    // reason printed) when anything could not be written.
    bool finish();
    // The rows written so far are out of the program (standard output is
    // flushed); false when they could not be written.
    bool flush();
    // Nothing is written, an existing output file stays as it was.
    void discard();

private:
    void write(const QByteArray &bytes);
    void append(const QByteArray &bytes);
    // The padded layouts of the kept rows, measured first, then encoded and
    // written in pieces of about 64 KiB: the text is never whole in memory.
    void writePaddedRows();
    void fail(const QString &reason);

    // The rows as the chosen destination gets them (escaped for a terminal).
    QStringList safeRows(const QStringList &rows) const;

    Format format_;
    RowSafety safety_;
    QString path_;
    OutputSink sink_;
    std::unique_ptr<QSaveFile> file_;
    std::unique_ptr<QFile> appended_;  // the --output file, when appended to
    bool append_ = false;
    QStringList kept_;
    QByteArray buffer_;  // the text and comma formats' bytes of one message
    bool failed_ = false;
    bool byteOrderMark_ = false;
    QString error_;
};

}  // namespace vc::cli
