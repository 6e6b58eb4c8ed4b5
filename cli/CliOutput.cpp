#include "CliOutput.h"

#include "CliTerminal.h"
#include "core/StdoutBuffer.h"
#include "core/JsonText.h"
#include "output/ResultsOutput.h"
#include "output/SafeText.h"

#include <cstdio>

namespace vc::cli {

QByteArray csvField(const QString &text)
{
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return systemBytes(u'"' + quoted + u'"');
}

QByteArray jsonString(const QString &text)
{
    return json::stringLiteral(text);
}

QByteArray formatRows(const QStringList &given, Format format, RowSafety safety)
{
    QStringList rows = given;
    if (safety.terminal) {
        for (QString &row : rows)
            row = safetext::forTerminal(row);
    }
    const ResultsRowSource source(rows, true);
    switch (format) {
    case Format::Text: return textFileBytes(source);
    case Format::Comma: return commaFileBytes(source);
    case Format::Space: return systemBytes(spaceLayout(source));
    case Format::Tab: return systemBytes(tabLayout(source));
    case Format::Csv: {
        QByteArray out;
        for (const QString &row : rows)
            out += csvField(safety.rawCells ? row : safetext::neutraliseFormula(row)) + "\r\n";
        return out;
    }
    case Format::Jsonl: {
        QByteArray out;
        for (const QString &row : rows)
            out += jsonString(row) + '\n';
        return out;
    }
    case Format::Xlsx: break;
    }
    return {};
}

bool writeToStdout(const QByteArray &bytes)
{
    return stdoutbuffer::write(bytes);
}

RowWriter::RowWriter(Format format, QString path, OutputSink sink, RowSafety safety)
    : format_(format), safety_(safety), path_(std::move(path)), sink_(std::move(sink))
{}

QStringList RowWriter::safeRows(const QStringList &rows) const
{
    if (!safety_.terminal)
        return rows;
    QStringList out = rows;
    for (QString &row : out)
        row = safetext::forTerminal(row);
    return out;
}

RowWriter::~RowWriter() = default;

void RowWriter::add(const QStringList &rows)
{
    if (rows.isEmpty())
        return;
    if (!streaming()) {
        kept_ += safeRows(rows);
        return;
    }
    if (format_ == Format::Text || format_ == Format::Comma) {
        // The line of the comma format ends once, at the end.
        appendRowBytes(safeRows(rows), format_ == Format::Text ? QStringView(u"\r\n") : QStringView(u","), buffer_);
        write(buffer_);
        buffer_.truncate(0);  // keeps its room for the next message
        return;
    }
    write(formatRows(rows, format_, safety_));
}

bool RowWriter::finish()
{
    if (format_ == Format::Comma)
        write(QByteArrayLiteral("\r\n"));
    else if (!streaming())
        writePaddedRows();
    if (!path_.isEmpty() && !file_)
        write(QByteArray());  // a run without rows still leaves an (empty) file
    flush();
    if (file_ && !failed_ && !file_->commit())
        fail(file_->errorString());
    if (appended_)
        appended_->close();
    if (failed_)
        printError(error_);
    return !failed_;
}

bool RowWriter::flush()
{
    if (path_.isEmpty() && !failed_ && !stdoutbuffer::flush())
        fail(QStringLiteral("cannot write the results to standard output"));
    return !failed_;
}

bool RowWriter::open()
{
    if (!path_.isEmpty() && !file_)
        write(QByteArray());
    if (byteOrderMark_ && !(appended_ && appended_->size() > 0))
        write(QByteArrayLiteral("\xEF\xBB\xBF"));
    if (failed_)
        printError(error_);
    return !failed_;
}

void RowWriter::writePaddedRows()
{
    const ResultsRowSource rows(kept_, true);
    const Padding padding = format_ == Format::Space ? Padding::Spaces : Padding::Tabs;
    const PaddedShape shape = measurePadded(rows, padding);
    QString chunk;
    const auto flush = [&] {
        write(systemBytes(chunk));
        chunk.clear();
    };
    writePadded(rows, padding, shape, [&](QStringView piece) {
        if (failed_)
            return;
        chunk += piece;
        if (chunk.size() >= 32 * 1024)
            flush();
    });
    flush();
}

void RowWriter::discard()
{
    if (file_)
        file_->cancelWriting();
}

void RowWriter::write(const QByteArray &bytes)
{
    if (failed_)
        return;
    if (path_.isEmpty()) {
        if (!sink_(bytes))
            fail(QStringLiteral("cannot write the results to standard output"));
        return;
    }
    if (append_) {
        append(bytes);
        return;
    }
    if (!file_) {
        file_ = std::make_unique<QSaveFile>(path_);
        if (!file_->open(QIODevice::WriteOnly)) {
            fail(QStringLiteral("cannot write '%1': %2").arg(path_, file_->errorString()));
            return;
        }
    }
    if (file_->write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write '%1': %2").arg(path_, file_->errorString()));
}

void RowWriter::append(const QByteArray &bytes)
{
    if (!appended_) {
        appended_ = std::make_unique<QFile>(path_);
        if (!appended_->open(QIODevice::WriteOnly | QIODevice::Append)) {
            fail(QStringLiteral("cannot write '%1': %2").arg(path_, appended_->errorString()));
            return;
        }
    }
    if (bytes.isEmpty())
        return;
    const qint64 before = appended_->size();
    if (appended_->write(bytes) == bytes.size() && appended_->flush())
        return;
    // Part of the message's rows may be in the file: a reader must never see half of them.
    const QString reason = appended_->errorString();
    appended_->resize(before);
    fail(QStringLiteral("cannot write '%1': %2").arg(path_, reason));
}

void RowWriter::fail(const QString &reason)
{
    if (failed_)
        return;
    failed_ = true;
    error_ = reason.startsWith(QStringLiteral("cannot")) ? reason
                                                         : QStringLiteral("cannot write '%1': %2").arg(path_, reason);
    if (file_)
        file_->cancelWriting();
}

}  // namespace vc::cli
