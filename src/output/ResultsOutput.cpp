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

// The widest cell of every column over all rows, ticked or not. Lengths are
// counted in UTF-16 code units and kept in qsizetype, so no cell is too long.
QList<qsizetype> columnWidths(const RowSource &rows)
{
    const int columns = rows.columnCount();
    QList<qsizetype> widths(columns, 0);
    const int n = rows.rowCount();
    for (int r = 0; r < n; ++r) {
        yieldToEvents();
        for (int c = 0; c < columns; ++c)
            widths[c] = std::max(widths[c], rows.cell(r, c).size());
    }
    return widths;
}

// Appends the ticked rows, every cell padded to its column's width and followed
// by the separator, each row ended by CR LF.
void appendPadded(const RowSource &rows, const QString &separator, QString &out)
{
    const QList<qsizetype> widths = columnWidths(rows);
    const int n = rows.rowCount();
    const int columns = std::min(rows.columnCount(), int(widths.size()));
    for (int r = 0; r < n; ++r) {
        yieldToEvents();
        if (!rows.isChecked(r))
            continue;
        for (int c = 0; c < columns; ++c) {
            const QString cell = rows.cell(r, c);
            out += cell;
            if (widths[c] >= cell.size())
                out.append(QString(widths[c] - cell.size(), QLatin1Char(' ')));
            out += separator;
        }
        out += kCrLf;
    }
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

// The copy procedures share their shape: nothing at all for an empty list,
// otherwise the layout goes to the clipboard.
template <class Layout>
void copyPadded(OutputHost &host, const RowSource &rows, const QString &location, Layout &&layout)
{
    ErrorTrap trap(location);
    int n = 0;
    trap(100, [&] { n = rows.rowCount(); });
    if (n == 0)
        return;
    QString out;
    trap(102, [&] { layout(out); });
    trap(104, [&] { host.setClipboardText(out); });
}

// PushButton14 and PushButton3: status text, hourglass, copy, confirmation.
template <class Copy>
void copyCommand(OutputHost &host, const ResultsModel &results, const QString &location, Copy &&copy)
{
    ErrorTrap trap(location);
    trap(100, [&] { host.setStatus(output::kCopyingStatus); });
    trap(102, [&] { host.setBusy(true); });
    trap(104, [&] {
        const ResultsRowSource rows(results);
        copy(host, rows);
    });
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

QString spaceLayout(const RowSource &rows)
{
    QString out;
    appendPadded(rows, QStringLiteral("     "), out);
    return out;
}

QString tabLayout(const RowSource &rows)
{
    QString out;
    appendPadded(rows, QStringLiteral("\t"), out);
    return out;
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

void CopyListViewToClipboardSpace(OutputHost &host, const RowSource &rows)
{
    copyPadded(host, rows, location::Main::CopyListViewToClipboardSpace,
               [&](QString &out) { appendPadded(rows, QStringLiteral("     "), out); });
}

void CopyListViewToClipboardTab(OutputHost &host, const RowSource &rows)
{
    copyPadded(host, rows, location::Main::CopyListViewToClipboardTab,
               [&](QString &out) { appendPadded(rows, QStringLiteral("\t"), out); });
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
