#include "output/ResultsOutput.h"

#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/TrapLocations.h"
#include "core/Yield.h"
#include "rules/ResultsModel.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QStringEncoder>

#include <algorithm>

namespace vc {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QStringView separatorOf(Padding padding)
{
    return padding == Padding::Spaces ? QStringView(u"     ") : QStringView(u"\t");
}

// Bytes of `text` in UTF-8; a surrogate pair makes four.
qint64 utf8Size(QStringView text)
{
    qint64 bytes = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        bytes += u < 0x80 ? 1 : u < 0x800 ? 2 : c.isHighSurrogate() ? 1 : 3;
    }
    return bytes;
}

// Padding is written in runs of this many spaces at most.
void writeSpaces(qsizetype count, const TextSink &sink)
{
    static const QString run(4096, QLatin1Char(' '));
    for (; count > 0; count -= run.size())
        sink(QStringView(run).left(std::min(count, run.size())));
}

void appendLines(const RowSource &rows, QString &out)
{
    const int n = rows.rowCount();
    for (int r = 0; r < n; ++r) {
        yieldToEvents();
        if (rows.isChecked(r)) {
            out += rows.cell(r, 0);
            out += kCrLf;
        }
    }
}

// The padded copy procedures: nothing at all for an empty list, a box instead
// of a text over the limit, otherwise the layout goes to the clipboard.
bool copyPadded(OutputHost &host, const RowSource &rows, const QString &location, Padding padding)
{
    ErrorTrap trap(location);
    int n = 0;
    trap(100, [&] { n = rows.rowCount(); });
    if (n == 0)
        return true;
    PaddedShape shape;
    trap(102, [&] { shape = measurePadded(rows, padding); });
    if (shape.utf8Bytes > output::kClipboardLimitBytes) {
        trap(104,
             [&] { dialogs().messageBox(output::tooLargeMessage(shape.utf8Bytes), BoxButtons::Ok, BoxIcon::Warning); });
        return false;
    }
    QString out;
    trap(106, [&] {
        out.reserve(qsizetype(shape.length));
        writePadded(rows, padding, shape, [&](QStringView piece) { out += piece; });
    });
    trap(108, [&] { host.setClipboardText(out); });
    return true;
}

// PushButton14 and PushButton3: status text, hourglass, copy, confirmation.
template <class Copy>
void copyCommand(OutputHost &host, const ResultsModel &results, const QString &location, Copy &&copy)
{
    ErrorTrap trap(location);
    trap(100, [&] { host.setStatus(output::kCopyingStatus); });
    trap(102, [&] { host.setBusy(true); });
    bool copied = true;
    trap(104, [&] {
        const ResultsRowSource rows(results);
        copied = copy(host, rows);
    });
    if (copied)
        trap(106, [&] { dialogs().messageBox(output::kCopiedMessage, BoxButtons::Ok, BoxIcon::None); });
    trap(108, [&] { host.setBusy(false); });
    trap(110, [&] { host.setStatus(output::kIdleStatus); });
}

void saveCommand(OutputHost &host, const ResultsModel &results, const QString &location, bool commaDelimited)
{
    ErrorTrap trap(location);
    QString name;
    trap(100, [&] { name = dialogs().saveFileName(output::kSaveTitle, output::kSaveFilter); });
    if (name.isEmpty())
        return;
    bool go = false;
    trap(102, [&] {
        go = !QFileInfo::exists(name)
             || dialogs().messageBox(output::overwriteQuestion(name), BoxButtons::YesNo, BoxIcon::None)
                    == BoxAnswer::Yes;
    });
    if (!go)
        return;
    trap(104, [&] { host.setBusy(true); });
    trap(106, [&] {
        const ResultsRowSource rows(results, true);
        writeFileAtomically(name, commaDelimited ? commaFileBytes(rows) : textFileBytes(rows));
    });
    trap(108, [&] { host.setBusy(false); });
}

}  // namespace

QByteArray systemBytes(const QString &text)
{
    QStringEncoder encoder(QStringConverter::System);
    return encoder.encode(text);
}

QString output::overwriteQuestion(const QString &fileName)
{
    return QStringLiteral("Are you sure you wish to overwrite ") + fileName + QStringLiteral(" ?");
}

ResultsRowSource::ResultsRowSource(const ResultsModel &model, bool allTicked)
    : texts_(model.texts()), allTicked_(allTicked)
{
    if (!allTicked) {
        checked_.reserve(model.count());
        for (int r = 0; r < model.count(); ++r)
            checked_.append(model.isChecked(r));
    }
}

ResultsRowSource::ResultsRowSource(QStringList rows, bool allTicked)
    : texts_(std::move(rows)), checked_(texts_.size(), false), allTicked_(allTicked)
{}

QString output::tooLargeMessage(qint64 utf8Bytes)
{
    const qint64 mb = (utf8Bytes + (qint64(1) << 20) - 1) >> 20;
    return QStringLiteral("The padded text would be %1 MB, too large for the clipboard.\r\rUse \"Copy Results To "
                          "Clipboard\" to copy the ticked rows one per line, without padding.")
        .arg(mb);
}

// The widest cell of every column over all rows, ticked or not, and the size
// of the text. Lengths are UTF-16 code units in qsizetype, so no cell is too long.
PaddedShape measurePadded(const RowSource &rows, Padding padding)
{
    PaddedShape shape;
    const int columns = rows.columnCount();
    shape.widths = QList<qsizetype>(columns, 0);
    const int n = rows.rowCount();
    qint64 ticked = 0;
    qint64 tickedExtraUtf8 = 0;  // UTF-8 bytes beyond one per code unit, in ticked cells
    for (int r = 0; r < n; ++r) {
        yieldToEvents();
        const bool checked = rows.isChecked(r);
        ticked += checked ? 1 : 0;
        for (int c = 0; c < columns; ++c) {
            const QString cell = rows.cell(r, c);
            shape.widths[c] = std::max(shape.widths[c], cell.size());
            if (checked)
                tickedExtraUtf8 += utf8Size(cell) - cell.size();
        }
    }
    // Every ticked row: each column at its width plus the separator, then CR LF.
    qint64 rowLength = 2;
    for (const qsizetype w : std::as_const(shape.widths))
        rowLength += w + separatorOf(padding).size();
    shape.length = ticked * rowLength;
    shape.utf8Bytes = shape.length + tickedExtraUtf8;
    return shape;
}

// The ticked rows, every cell padded to its column's width and followed by the
// separator, each row ended by CR LF. A cell wider than its measured column
// (the rows changed between the passes) gets the separator alone.
void writePadded(const RowSource &rows, Padding padding, const PaddedShape &shape, const TextSink &sink)
{
    const int n = rows.rowCount();
    const int columns = std::min(rows.columnCount(), int(shape.widths.size()));
    for (int r = 0; r < n; ++r) {
        yieldToEvents();
        if (!rows.isChecked(r))
            continue;
        for (int c = 0; c < columns; ++c) {
            const QString cell = rows.cell(r, c);
            sink(cell);
            if (shape.widths[c] >= cell.size())
                writeSpaces(shape.widths[c] - cell.size(), sink);
            sink(separatorOf(padding));
        }
        sink(kCrLf);
    }
}

namespace {

QString paddedText(const RowSource &rows, Padding padding)
{
    const PaddedShape shape = measurePadded(rows, padding);
    QString out;
    out.reserve(qsizetype(shape.length));
    writePadded(rows, padding, shape, [&](QStringView piece) { out += piece; });
    return out;
}

}  // namespace

QString spaceLayout(const RowSource &rows)
{
    return paddedText(rows, Padding::Spaces);
}

QString tabLayout(const RowSource &rows)
{
    return paddedText(rows, Padding::Tabs);
}

QString lineLayout(const RowSource &rows)
{
    QString out;
    appendLines(rows, out);
    return out;
}

QByteArray textFileBytes(const RowSource &rows)
{
    QString text;
    const int n = rows.rowCount();
    for (int r = 0; r < n; ++r) {
        yieldToEvents();
        text += rows.cell(r, 0);
        text += kCrLf;
    }
    return systemBytes(text);
}

QByteArray commaFileBytes(const RowSource &rows)
{
    QString line;
    const int n = rows.rowCount();
    for (int r = 0; r < n; ++r) {
        yieldToEvents();
        line += rows.cell(r, 0);
        line += QLatin1Char(',');
    }
    line += kCrLf;
    return systemBytes(line);
}

void writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        raise(err::PathFileAccess, file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        raise(err::PathFileAccess, reason);
    }
    if (!file.commit())
        raise(err::PathFileAccess, file.errorString());
}

bool CopyListViewToClipboardSpace(OutputHost &host, const RowSource &rows)
{
    return copyPadded(host, rows, location::Main::CopyListViewToClipboardSpace, Padding::Spaces);
}

bool CopyListViewToClipboardTab(OutputHost &host, const RowSource &rows)
{
    return copyPadded(host, rows, location::Main::CopyListViewToClipboardTab, Padding::Tabs);
}

void CopyListViewToClipboardEnter(OutputHost &host, const RowSource &rows)
{
    ErrorTrap trap(location::Main::CopyListViewToClipboardEnter);
    QString out;
    trap.setExtra([&] { return QStringLiteral("\rSelLength: ") + QString::number(out.size()); });
    int n = 0;
    trap(100, [&] { n = rows.rowCount(); });
    if (n == 0)
        return;
    trap(102, [&] { appendLines(rows, out); });
    trap(104, [&] { host.setClipboardText(out); });
}

void copyWithSpaces(OutputHost &host, const ResultsModel &results)
{
    copyCommand(host, results, location::Form1::PushButton14_Click, CopyListViewToClipboardSpace);
}

void copyWithTabs(OutputHost &host, const ResultsModel &results)
{
    copyCommand(host, results, location::Form1::PushButton3_Click, CopyListViewToClipboardTab);
}

void copyLines(OutputHost &host, const ResultsModel &results)
{
    ErrorTrap trap(location::Form1::PushButton1_Click);
    trap(100, [&] {
        const ResultsRowSource rows(results);
        CopyListViewToClipboardEnter(host, rows);
    });
}

void saveAsText(OutputHost &host, const ResultsModel &results)
{
    saveCommand(host, results, location::Form1::PushButton6_Click, false);
}

void saveAsCommaDelimited(OutputHost &host, const ResultsModel &results)
{
    saveCommand(host, results, location::Form1::PushButton12_Click, true);
}

}  // namespace vc
