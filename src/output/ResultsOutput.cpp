#include "output/ResultsOutput.h"

#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/TrapLocations.h"
#include "core/Yield.h"
#include "rules/ResultsModel.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QSaveFile>
#include <QStringEncoder>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <functional>

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
        trap(104, [&] {
            host.boxes().messageBox(output::tooLargeMessage(shape.utf8Bytes), BoxButtons::Ok, BoxIcon::Warning);
        });
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
        trap(106, [&] { host.boxes().messageBox(output::kCopiedMessage, BoxButtons::Ok, BoxIcon::None); });
    trap(108, [&] { host.setBusy(false); });
    trap(110, [&] { host.setStatus(output::kIdleStatus); });
}

// The save dialog of a save command: it opens in the folder of the last save
// and proposes the format's file name; a name typed without an extension gets
// the chosen filter's. Empty when the user cancels.
QString chooseSaveFile(OutputHost &host, bool commaDelimited)
{
    const SaveFileRequest request{output::kSaveTitle, commaDelimited ? output::kCommaSaveFilter : output::kSaveFilter,
                                  host.saveFolder(), commaDelimited ? output::kCommaFileName : output::kTextFileName};
    const SaveFileChoice choice = host.boxes().saveFile(request);
    if (choice.path.isEmpty())
        return QString();
    const QString path = withFilterExtension(choice.path, request.filter, choice.filter);
    host.rememberSaveFolder(QFileInfo(path).absolutePath());
    return path;
}

void saveCommand(OutputHost &host, const ResultsModel &results, const QString &location, bool commaDelimited)
{
    ErrorTrap trap(location);
    QString name;
    trap(100, [&] { name = chooseSaveFile(host, commaDelimited); });
    if (name.isEmpty())
        return;
    bool go = false;
    trap(102, [&] {
        go = !QFileInfo::exists(name)
             || host.boxes().messageBox(output::overwriteQuestion(name), BoxButtons::YesNo, BoxIcon::None)
                    == BoxAnswer::Yes;
    });
    if (!go)
        return;
    trap(104, [&] { host.setBusy(true); });
    trap(106, [&] {
        const ResultsRowSource rows(results, true);
        saveRowsAtomically(name, rows, commaDelimited);
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

namespace {

// Bytes in pieces, as a file is written.
using ByteSink = std::function<void(const QByteArray &)>;

// The system encoding as an encoder that writes into the caller's buffer. Qt
// takes the system encoding to be UTF-8 everywhere but on Windows, and its
// UTF-8 encoder writes in place, where the system one builds a byte array of
// every piece first and copies that.
#ifdef Q_OS_WIN
constexpr QStringConverter::Encoding kSystemEncoding = QStringConverter::System;
#else
constexpr QStringConverter::Encoding kSystemEncoding = QStringConverter::Utf8;
#endif

// Text in the system encoding, appended piece by piece with one encoder for the
// whole text, so the bytes are those of the pieces encoded in one go (a
// surrogate pair or a lone surrogate at a piece's end included). Without a sink
// room for the worst case is reserved at once and the text is never copied as
// it grows; with one, the bytes go to it whenever about kChunkBytes gathered.
class SystemText {
    // Whether `next` starts right after `separator`, which starts at `end`.
    static bool adjoins(const QChar *end, QStringView separator, const QString &next)
    {
        return end && next.constData() == end + separator.size() && QStringView(end, separator.size()) == separator;
    }

public:
    static constexpr qsizetype kChunkBytes = qsizetype(1) << 20;

    // Continues after the bytes already in `buffer`, growing into its room.
    explicit SystemText(QByteArray buffer) : out_(std::move(buffer)) {}
    explicit SystemText(qsizetype utf16Length, ByteSink sink = {}) : sink_(std::move(sink))
    {
        out_.reserve(encoder_.requiredSpace(sink_ ? std::min(utf16Length, kChunkBytes) : utf16Length));
    }
    void append(QStringView piece)
    {
        const qsizetype at = out_.size();
        out_.resize(at + encoder_.requiredSpace(piece.size()));
        char *end = encoder_.appendToBuffer(out_.data() + at, piece);
        out_.truncate(end - out_.constData());
        if (sink_ && out_.size() >= kChunkBytes)
            flush();
    }
    // Every row followed by `separator`, as append() of each would give: the
    // room for a group of short rows is made once, not once a piece.
    void appendRows(const QStringList &rows, QStringView separator)
    {
        constexpr qsizetype kGroupUnits = 16 * 1024;
        const qsizetype n = rows.size();
        for (qsizetype first = 0; first < n;) {
            qsizetype units = rows.at(first).size() + separator.size();
            qsizetype end = first + 1;
            while (end < n && units + rows.at(end).size() + separator.size() <= kGroupUnits)
                units += rows.at(end++).size() + separator.size();
            const qsizetype at = out_.size();
            out_.resize(at + encoder_.requiredSpace(units));
            char *p = out_.data() + at;
            for (qsizetype r = first; r < end;) {
                // Rows that follow one another in one text, the separator
                // between them there too (the lines of a body, as views of
                // it), are converted as one piece.
                const QChar *begin = rows.at(r).constData();
                qsizetype length = rows.at(r).size();
                while (++r < end && adjoins(begin + length, separator, rows.at(r)))
                    length += separator.size() + rows.at(r).size();
                p = encoder_.appendToBuffer(p, QStringView(begin, length));
                p = encoder_.appendToBuffer(p, separator);
            }
            out_.truncate(p - out_.constData());
            if (sink_ && out_.size() >= kChunkBytes)
                flush();
            first = end;
        }
    }
    void flush()
    {
        if (sink_ && !out_.isEmpty()) {
            sink_(out_);
            out_.truncate(0);  // keeps the room for the next chunk
        }
    }
    QByteArray take()
    {
        out_.squeeze();  // gives back the unused part of the worst case
        return std::move(out_);
    }
    QByteArray takeWithRoom() { return std::move(out_); }

private:
    QStringEncoder encoder_{kSystemEncoding};
    ByteSink sink_;
    QByteArray out_;
};

// The length in UTF-16 code units of every row's first cell plus `perRow`.
qsizetype firstColumnLength(const RowSource &rows, qsizetype perRow)
{
    qsizetype length = 0;
    const int n = rows.rowCount();
    for (int r = 0; r < n; ++r) {
        yieldToEvents();
        length += rows.cell(r, 0).size() + perRow;
    }
    return length;
}

// A saved file's text: one row per line, or every row followed by a comma and
// then one line end.
void appendFileRows(const RowSource &rows, bool commaDelimited, SystemText &out)
{
    const int n = rows.rowCount();
    for (int r = 0; r < n; ++r) {
        yieldToEvents();
        out.append(rows.cell(r, 0));
        out.append(commaDelimited ? QStringView(u",") : QStringView(kCrLf));
    }
    if (commaDelimited)
        out.append(kCrLf);
}

// QSaveFile's commit brings the file to the disk, which takes a while for a
// big one: it runs on a worker thread while the window goes on.
bool commitWhileYielding(QSaveFile &file)
{
    QFuture<bool> committed = QtConcurrent::run([&file] { return file.commit(); });
    if (!committed.isFinished()) {
        QEventLoop loop;
        QFutureWatcher<bool> watcher;
        QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
        watcher.setFuture(committed);
        if (!committed.isFinished())
            loop.exec();
    }
    return committed.result();
}

}  // namespace

QByteArray textFileBytes(const RowSource &rows)
{
    SystemText text(firstColumnLength(rows, kCrLf.size()));
    appendFileRows(rows, false, text);
    return text.take();
}

QByteArray commaFileBytes(const RowSource &rows)
{
    SystemText line(firstColumnLength(rows, 1) + kCrLf.size());
    appendFileRows(rows, true, line);
    return line.take();
}

void appendRowBytes(const QStringList &rows, QStringView separator, QByteArray &out)
{
    SystemText text(std::move(out));
    text.appendRows(rows, separator);
    out = text.takeWithRoom();
}

void saveRowsAtomically(const QString &path, const RowSource &rows, bool commaDelimited)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        raise(err::PathFileAccess, file.errorString());
    QString failure;
    SystemText text(SystemText::kChunkBytes, [&](const QByteArray &bytes) {
        if (failure.isEmpty() && file.write(bytes) != bytes.size())
            failure = file.errorString();
    });
    appendFileRows(rows, commaDelimited, text);
    text.flush();
    if (!failure.isEmpty()) {
        file.cancelWriting();
        raise(err::PathFileAccess, failure);
    }
    if (!commitWhileYielding(file))
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
