#include "CliRecords.h"

#include "CliTerminal.h"
#include "core/StdoutBuffer.h"
#include "output/SafeText.h"
#include "rules/FieldMatch.h"

namespace vc::cli {

using records::Cell;
using records::Column;
using records::Row;

QList<Column> sourceColumns()
{
    QList<Column> columns;
    for (const char *name : {"text", "folder", "uid", "message_id", "date", "from"}) {
        Column c;
        c.name = QLatin1String(name);
        c.field = int(columns.size());
        columns << c;
    }
    return columns;
}

Row sourceRow(const QString &text, const MailRecord &m)
{
    using records::Builtin;
    const auto cell = [](const QString &t) { return Cell{t, {}}; };
    return {cell(text),
            cell(records::builtinValue(Builtin::Folder, m)),
            cell(records::builtinValue(Builtin::Uid, m)),
            cell(records::builtinValue(Builtin::MessageId, m)),
            cell(records::builtinValue(Builtin::Date, m)),
            cell(m.From)};
}

namespace {

records::RecordFormat recordFormat(Format f)
{
    switch (f) {
    case Format::Jsonl: return records::RecordFormat::Jsonl;
    case Format::Xlsx: return records::RecordFormat::Xlsx;
    default: return records::RecordFormat::Csv;
    }
}

}  // namespace

std::unique_ptr<RecordOutput> RecordOutput::open(const Options &o, const OutputSink &sink, bool terminal)
{
    std::unique_ptr<RecordOutput> out(new RecordOutput);
    out->terminal_ = terminal;
    out->withSource_ = o.withSource;
    QList<Column> columns;
    records::WriterOptions options;
    options.byteOrderMark = o.excel;
    options.rawCells = o.rawCells;
    if (o.compiledTemplate) {
        out->template_.emplace(*o.compiledTemplate);
        columns = o.compiledTemplate->columns();
        options.sheetName = o.compiledTemplate->spec().name;
    } else if (o.withSource) {
        columns = sourceColumns();
    } else {
        columns = sourceColumns().mid(0, 1);
    }
    QString error;
    const records::RecordFormat format = recordFormat(o.format);
    if (o.output.isEmpty())
        out->writer_ = records::toSink(format, sink, columns, options, &error);
    else if (o.watch)  // a watch adds each message's rows to what the file holds
        out->writer_ = records::appendFile(format, o.output, columns, options, &error);
    else
        out->writer_ = records::replaceFile(format, o.output, columns, options, &error);
    if (!out->writer_) {
        printError(error);
        return nullptr;
    }
    return out;
}

RecordOutput::~RecordOutput() = default;

void RecordOutput::addMessage(const MailRecord &m)
{
    QList<Row> rows;
    template_->append(m, rows);
    write(rows);
}

void RecordOutput::addRuleRows(const MailRecord &m, const QStringList &texts)
{
    QList<Row> rows;
    rows.reserve(texts.size());
    for (const QString &t : texts)
        rows << (withSource_ ? sourceRow(t, m) : Row{Cell{t, {}}});
    write(rows);
}

void RecordOutput::write(QList<Row> &rows)
{
    if (failed_ || rows.isEmpty())
        return;
    if (terminal_) {
        for (Row &row : rows) {
            for (Cell &cell : row) {
                cell.text = safetext::forTerminal(cell.text);
                for (QString &item : cell.items)
                    item = safetext::forTerminal(item);
            }
        }
    }
    failed_ = !writer_->append(rows);
}

bool RecordOutput::flush()
{
    if (!failed_ && !stdoutbuffer::flush()) {
        failed_ = true;
        stdoutFailed_ = true;
    }
    return !failed_;
}

bool RecordOutput::finish()
{
    if (!failed_ && writer_->commit() && flush())
        return true;
    printError(stdoutFailed_ ? QStringLiteral("cannot write the results to standard output") : writer_->errorString());
    writer_->discard();
    return false;
}

void RecordOutput::discard()
{
    writer_->discard();
}

}  // namespace vc::cli
