#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

namespace vc {

class Dialogs;
class ResultsModel;

// The rows the output commands read: any number of columns, a tick state per row.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual int rowCount() const = 0;
    virtual int columnCount() const = 0;
    virtual QString cell(int row, int column) const = 0;  // both 0-based
    virtual bool isChecked(int row) const = 0;
};

// The results list as a RowSource: one column. The rows and tick states are
// taken when the source is made, so a list cleared or refilled while a copy or
// save yields to the event loop cannot pull rows from under it. With
// `allTicked` every row counts as ticked (saving, the command-line program).
class ResultsRowSource : public RowSource {
public:
    explicit ResultsRowSource(const ResultsModel &model, bool allTicked = false);
    explicit ResultsRowSource(QStringList rows, bool allTicked = true);
    int rowCount() const override { return int(texts_.size()); }
    int columnCount() const override { return 1; }
    QString cell(int row, int column) const override { return column == 0 ? texts_.at(row) : QString(); }
    bool isChecked(int row) const override { return allTicked_ || checked_.at(row); }

private:
    QList<QString> texts_;
    QList<bool> checked_;
    bool allTicked_;
};

// Clipboard layouts of the ticked rows; column widths come from all rows,
// ticked or not, in UTF-16 code units. Every copied row ends with CR LF.
QString spaceLayout(const RowSource &rows);  // cell, padding to the width, five spaces
QString tabLayout(const RowSource &rows);    // cell, padding to the width, one tab
QString lineLayout(const RowSource &rows);   // first column only

// The padded layouts in two passes, for text too large to hold twice: the
// first pass measures the columns and the size of the text, the second hands
// the text to a sink in pieces (cells, padding in runs of at most a few KiB,
// separators, line ends), so only the rows themselves stay in memory.
enum class Padding { Spaces, Tabs };
struct PaddedShape {
    QList<qsizetype> widths;  // per column, in UTF-16 code units
    qint64 length = 0;        // of the whole text, in UTF-16 code units
    qint64 utf8Bytes = 0;     // of the whole text, in UTF-8
};
using TextSink = std::function<void(QStringView)>;
PaddedShape measurePadded(const RowSource &rows, Padding padding);
void writePadded(const RowSource &rows, Padding padding, const PaddedShape &shape, const TextSink &sink);

// Text in the system encoding (UTF-8 here), as saved files and the
// command-line program write it.
QByteArray systemBytes(const QString &text);

// The bytes of a saved file, every row whatever its tick state, first column
// only, in the system encoding: one row per line (CR LF), or all rows on one
// line, each followed by a comma, then CR LF.
QByteArray textFileBytes(const RowSource &rows);
QByteArray commaFileBytes(const RowSource &rows);

// Appends each row in the system encoding, followed by `separator`, to `out`,
// using the room `out` already has: with CR LF the bytes of textFileBytes, with
// "," those of commaFileBytes but its final line end. For a writer that passes
// on rows as they come, one buffer serves them all.
void appendRowBytes(const QStringList &rows, QStringView separator, QByteArray &out);

// Saves the rows as textFileBytes (or commaFileBytes) gives them, written in
// pieces and brought to the disk while the event loop goes on, so a million
// rows do not freeze the window. `path` is replaced only as a whole: on failure
// an existing file keeps its old content and AppError (Path/File access error)
// carries the system's reason.
void saveRowsAtomically(const QString &path, const RowSource &rows, bool commaDelimited);

// What the output commands need from the main window.
class OutputHost {
public:
    virtual ~OutputHost() = default;
    virtual void setStatus(const QString &text) = 0;         // the progress bar's text
    virtual void setBusy(bool busy) = 0;                     // hourglass / default pointer
    virtual void setClipboardText(const QString &text) = 0;  // clear the clipboard, then set the text
    virtual Dialogs &boxes() = 0;                            // the confirmation, the save dialog, questions
    // The folder the save dialog opens in (empty: the dialog's own), and the
    // folder of a file the user chose to save to.
    virtual QString saveFolder() const { return QString(); }
    virtual void rememberSaveFolder(const QString &folder) { Q_UNUSED(folder) }
};

// The copy procedures of the three layouts: an empty list leaves the clipboard
// untouched, otherwise it gets the layout of the ticked rows. A padded text
// larger than output::kClipboardLimitBytes is not built: a box says how large
// it would be, the clipboard stays as it was, and the procedure answers false.
bool CopyListViewToClipboardSpace(OutputHost &host, const RowSource &rows);
bool CopyListViewToClipboardTab(OutputHost &host, const RowSource &rows);
void CopyListViewToClipboardEnter(OutputHost &host, const RowSource &rows);

// The main window's output commands.
void copyWithSpaces(OutputHost &host, const ResultsModel &results);        // PushButton14
void copyWithTabs(OutputHost &host, const ResultsModel &results);          // PushButton3
void copyLines(OutputHost &host, const ResultsModel &results);             // PushButton1
void saveAsText(OutputHost &host, const ResultsModel &results);            // PushButton6
void saveAsCommaDelimited(OutputHost &host, const ResultsModel &results);  // PushButton12

// The fixed texts of these commands.
namespace output {
inline const QString kCopyingStatus = QStringLiteral("Copying text to clipboard.. please wait..");
inline const QString kIdleStatus = QStringLiteral("Progress Bar");
inline const QString kCopiedMessage = QStringLiteral(
    "Results have been copied to the clipboard.\r\rClick a text area where you normally type and press Ctrl+V to "
    "paste the clipboard.");
inline const QString kSaveTitle = QStringLiteral("Save");
inline const QString kSaveFilter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
// The comma-delimited file is offered as a .csv first; the text filter follows.
inline const QString kCommaSaveFilter = QStringLiteral("Comma Delimited Files (*.csv)|*.csv|") + kSaveFilter;
// The names the save dialogs propose.
inline const QString kTextFileName = QStringLiteral("vellumcast-results.txt");
inline const QString kCommaFileName = QStringLiteral("vellumcast-results.csv");
QString overwriteQuestion(const QString &fileName);
// The largest padded text (in UTF-8) the two padded copy commands put on the clipboard.
inline constexpr qint64 kClipboardLimitBytes = qint64(256) << 20;
QString tooLargeMessage(qint64 utf8Bytes);
}  // namespace output

}  // namespace vc
