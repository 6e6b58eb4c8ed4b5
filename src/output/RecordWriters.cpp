#include "output/RecordWriters.h"

#include "core/JsonText.h"
#include "output/RecordWriterXlsx.h"
#include "output/SafeText.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace vc::records {

bool RecordWriter::fail(const QString &reason)
{
    if (error_.isEmpty())
        error_ = reason;
    return false;
}

// --- the encodings -------------------------------------------------------------------

namespace {

void appendCsvField(QByteArray &out, QStringView text)
{
    bool quote = false;
    for (QChar c : text)
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    if (!quote) {
        out += text.toUtf8();
        return;
    }
    out += '"';
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == u'"') {
            out += text.mid(from, i + 1 - from).toUtf8();
            out += '"';
            from = i + 1;
        }
    out += text.mid(from).toUtf8();
    out += '"';
}

// A number column's number stays a number; any other cell that a spreadsheet
// would run as a formula is made inert.
bool keepsAsIs(const Column &column, const QString &text, const WriterOptions &options)
{
    return options.rawCells || !safetext::looksLikeFormula(text)
           || (column.type == CellType::Number && cellNumber(text).has_value());
}

void appendNumber(QByteArray &out, double value)
{
    out += QByteArray::number(value, 'g', 15);
}

}  // namespace

QByteArray csvHeader(const QList<Column> &columns)
{
    QByteArray out;
    for (qsizetype c = 0; c < columns.size(); ++c) {
        if (c)
            out += ',';
        appendCsvField(out, columns.at(c).name);
    }
    out += "\r\n";
    return out;
}

void appendCsvRow(QByteArray &out, const QList<Column> &columns, const Row &row, const WriterOptions &options)
{
    for (qsizetype c = 0; c < row.size(); ++c) {
        if (c)
            out += ',';
        const QString &text = row.at(c).text;
        if (c < columns.size() && !keepsAsIs(columns.at(c), text, options))
            appendCsvField(out, safetext::neutraliseFormula(text));
        else
            appendCsvField(out, text);
    }
    out += "\r\n";
}

void appendJsonRow(QByteArray &out, const QList<Column> &columns, const Row &row)
{
    out += '{';
    for (qsizetype c = 0; c < columns.size(); ++c) {
        const Column &column = columns.at(c);
        const Cell cell = c < row.size() ? row.at(c) : Cell();
        if (c)
            out += ',';
        json::appendString(out, column.name);
        out += ':';
        if (column.multi) {
            out += '[';
            for (qsizetype i = 0; i < cell.items.size(); ++i) {
                if (i)
                    out += ',';
                json::appendString(out, cell.items.at(i));
            }
            out += ']';
        } else if (column.type == CellType::Number && !cell.text.isEmpty()) {
            if (const auto n = cellNumber(cell.text))
                appendNumber(out, *n);
            else
                json::appendString(out, cell.text);
        } else {
            json::appendString(out, cell.text);
        }
    }
    out += "}\n";
}

QByteArray recordBytes(RecordFormat format, const QList<Column> &columns, const QList<Row> &rows,
                       const WriterOptions &options)
{
    QByteArray out;
    if (format == RecordFormat::Csv) {
        if (options.byteOrderMark)
            out += "\xEF\xBB\xBF";
        out += csvHeader(columns);
        for (const Row &row : rows)
            appendCsvRow(out, columns, row, options);
    } else if (format == RecordFormat::Jsonl) {
        for (const Row &row : rows)
            appendJsonRow(out, columns, row);
    }
    return out;
}

// --- CSV and JSON lines --------------------------------------------------------------

namespace {

// Writes the encoded rows of each message in one piece to its target.
class TextWriter : public RecordWriter {
public:
    TextWriter(RecordFormat format, QList<Column> columns, WriterOptions options)
        : format_(format), columns_(std::move(columns)), options_(options)
    {}

    // The header row (with the byte-order mark), once, before the first message's rows.
    QByteArray lead() const
    {
        if (format_ != RecordFormat::Csv)
            return {};
        return (options_.byteOrderMark ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + csvHeader(columns_);
    }

    bool append(const QList<Row> &rows) override
    {
        if (!error_.isEmpty())
            return false;
        if (rows.isEmpty())
            return true;
        buffer_.truncate(0);  // keeps its room for the next message
        for (const Row &row : rows) {
            if (format_ == RecordFormat::Csv)
                appendCsvRow(buffer_, columns_, row, options_);
            else
                appendJsonRow(buffer_, columns_, row);
        }
        if (!put(buffer_))
            return false;
        rows_ += rows.size();
        return true;
    }

protected:
    // Writes the bytes whole, or fails leaving none of them.
    virtual bool put(const QByteArray &bytes) = 0;

    RecordFormat format_;
    QList<Column> columns_;
    WriterOptions options_;
    QByteArray buffer_;
};

// Replaces the file as a whole at commit (QSaveFile).
class ReplacingTextWriter : public TextWriter {
public:
    ReplacingTextWriter(RecordFormat format, const QString &path, QList<Column> columns, WriterOptions options)
        : TextWriter(format, std::move(columns), options), file_(path)
    {}

    bool open(QString *error)
    {
        if (!file_.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("cannot write '%1': %2").arg(file_.fileName(), file_.errorString());
            return false;
        }
        if (!put(lead())) {
            *error = error_;
            return false;
        }
        return true;
    }

    bool commit() override
    {
        if (!error_.isEmpty()) {
            file_.cancelWriting();
            return false;
        }
        if (!file_.commit())
            return fail(QStringLiteral("cannot write '%1': %2").arg(file_.fileName(), file_.errorString()));
        return true;
    }

    void discard() override { file_.cancelWriting(); }

protected:
    bool put(const QByteArray &bytes) override
    {
        if (file_.write(bytes) != bytes.size())
            return fail(QStringLiteral("cannot write '%1': %2").arg(file_.fileName(), file_.errorString()));
        return true;
    }

private:
    QSaveFile file_;
};

// Appends to the file; a message whose bytes did not all get there is cut off again.
class AppendingTextWriter : public TextWriter {
public:
    AppendingTextWriter(RecordFormat format, const QString &path, QList<Column> columns, WriterOptions options)
        : TextWriter(format, std::move(columns), options), file_(path)
    {}

    bool open(QString *error)
    {
        // A device (a pipe, /dev/stdout) is written as it stands; a file at its end.
        const QFileInfo info(file_.fileName());
        const QIODevice::OpenMode mode =
            info.exists() && !info.isFile() ? QIODevice::WriteOnly : QIODevice::WriteOnly | QIODevice::Append;
        if (!file_.open(mode)) {
            *error = QStringLiteral("cannot write '%1': %2").arg(file_.fileName(), file_.errorString());
            return false;
        }
        if (file_.size() == 0 && !put(lead())) {
            *error = error_;
            return false;
        }
        return true;
    }

    bool commit() override
    {
        file_.close();
        return error_.isEmpty();
    }
    void discard() override { file_.close(); }

protected:
    bool put(const QByteArray &bytes) override
    {
        const qint64 before = file_.size();
        if (file_.write(bytes) == bytes.size() && file_.flush())
            return true;
        const QString reason = file_.errorString();
        if (!file_.isSequential())
            file_.resize(before);
        return fail(QStringLiteral("cannot write '%1': %2").arg(file_.fileName(), reason));
    }

private:
    QFile file_;
};

class SinkTextWriter : public TextWriter {
public:
    SinkTextWriter(RecordFormat format, ByteSink sink, QList<Column> columns, WriterOptions options)
        : TextWriter(format, std::move(columns), options), sink_(std::move(sink))
    {}

    bool open(QString *error)
    {
        if (!put(lead())) {
            *error = error_;
            return false;
        }
        return true;
    }
    bool commit() override { return error_.isEmpty(); }
    void discard() override {}

protected:
    bool put(const QByteArray &bytes) override
    {
        if (bytes.isEmpty() || sink_(bytes))
            return true;
        return fail(QStringLiteral("cannot write the rows to standard output"));
    }

private:
    ByteSink sink_;
};

}  // namespace

// --- opening -------------------------------------------------------------------------

std::unique_ptr<RecordWriter> replaceFile(RecordFormat format, const QString &path, const QList<Column> &columns,
                                          const WriterOptions &options, QString *error)
{
    if (format == RecordFormat::Xlsx)
        return openXlsxWriter(path, ByteSink(), columns, options, error);
    auto w = std::make_unique<ReplacingTextWriter>(format, path, columns, options);
    if (!w->open(error))
        return nullptr;
    return w;
}

std::unique_ptr<RecordWriter> appendFile(RecordFormat format, const QString &path, const QList<Column> &columns,
                                         const WriterOptions &options, QString *error)
{
    if (format == RecordFormat::Xlsx) {
        *error = QStringLiteral("a workbook cannot be appended to; write a new one");
        return nullptr;
    }
    auto w = std::make_unique<AppendingTextWriter>(format, path, columns, options);
    if (!w->open(error))
        return nullptr;
    return w;
}

std::unique_ptr<RecordWriter> toSink(RecordFormat format, ByteSink sink, const QList<Column> &columns,
                                     const WriterOptions &options, QString *error)
{
    if (format == RecordFormat::Xlsx)
        return openXlsxWriter(QString(), std::move(sink), columns, options, error);
    auto w = std::make_unique<SinkTextWriter>(format, std::move(sink), columns, options);
    if (!w->open(error))
        return nullptr;
    return w;
}

}  // namespace vc::records
