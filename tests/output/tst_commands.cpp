// The output commands of the main window: copy, save, their boxes and failures.
#include "ScriptedDialogs.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/Product.h"
#include "output/ResultsOutput.h"
#include "rules/ResultsModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace vc;

namespace {
const QString CRLF = QStringLiteral("\r\n");

// Records what the commands do to the window, in order.
class FakeHost : public OutputHost {
public:
    QString folder;  // where the save dialog is to open
    QStringList rememberedFolders;
    QString saveFolder() const override { return folder; }
    void rememberSaveFolder(const QString &f) override { rememberedFolders << f; }
    QStringList calls;
    QStringList clipboard;  // every text put on the clipboard
    bool failClipboard = false;
    void setStatus(const QString &t) override { calls << "status:" + t; }
    void setBusy(bool b) override { calls << (b ? "busy" : "idle"); }
    // The boxes go to whatever Dialogs the test installed (ScriptedDialogs).
    Dialogs &boxes() override { return dialogs(); }
    void setClipboardText(const QString &t) override
    {
        calls << "clipboard";
        if (failClipboard)
            throw AppError(err::InvalidCall);
        clipboard << t;
    }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

const QString kCopyLocation[] = {QStringLiteral("Vellumcast2/19/2015.Main.CopyListViewToClipboardSpace"),
                                 QStringLiteral("Vellumcast2/19/2015.Main.CopyListViewToClipboardTab")};
}  // namespace

class TestCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void copyCommandsShowConfirmation_data();
    void copyCommandsShowConfirmation();
    void emptyListLeavesClipboard();
    void nothingTickedPutsEmptyText();
    void copyLinesOnlyCopies();
    void clipboardFailureReported();
    void paddedTextOverLimitIsNotBuilt();
    void saveCancelWritesNothing();
    void saveNewFileWithoutQuestion();
    void overwriteAnsweredNoOrYes();
    void saveFailureKeepsOldFile();
    void saveIntoUnusablePathShowsReason();
    void bigSaveIsWrittenInPieces();
    void filterExtension_data();
    void filterExtension();
    void saveDialogProposesNameAndFolder();
};

void TestCommands::copyCommandsShowConfirmation_data()
{
    QTest::addColumn<bool>("tabs");
    QTest::newRow("spaces") << false;
    QTest::newRow("tabs") << true;
}

void TestCommands::copyCommandsShowConfirmation()
{
    QFETCH(bool, tabs);
    test::ScriptedDialogs boxes;
    ResultsModel results;
    results.appendRows({"ab", "cdef", "1234567"});
    results.setChecked(1, true);
    results.setChecked(0, true);
    FakeHost host;
    tabs ? copyWithTabs(host, results) : copyWithSpaces(host, results);

    QCOMPARE(host.calls, (QStringList{"status:Copying text to clipboard.. please wait..", "busy", "clipboard", "idle",
                                      "status:Progress Bar"}));
    const QString expected = tabs ? "ab     \t" + CRLF + "cdef   \t" + CRLF
                                  : "ab" + QString(10, ' ') + CRLF + "cdef" + QString(8, ' ') + CRLF;
    QCOMPARE(host.clipboard, QStringList{expected});
    QCOMPARE(boxes.boxes.size(), 1);
    const auto &box = boxes.boxes.first();
    QCOMPARE(box.text, QStringLiteral("Results have been copied to the clipboard.\r\rClick a text area where you "
                                      "normally type and press Ctrl+V to paste the clipboard."));
    QCOMPARE(box.buttons, BoxButtons::Ok);
    QCOMPARE(box.icon, BoxIcon::None);
    QVERIFY(box.title.isEmpty());  // the application's title
}

void TestCommands::emptyListLeavesClipboard()
{
    test::ScriptedDialogs boxes;
    ResultsModel results;
    FakeHost host;
    copyWithSpaces(host, results);
    copyWithTabs(host, results);
    copyLines(host, results);
    QVERIFY(host.clipboard.isEmpty());
    QVERIFY(!host.calls.contains("clipboard"));
    // The two padded commands still confirm; the line copy never does.
    QCOMPARE(boxes.count(output::kCopiedMessage), 2);
    QCOMPARE(boxes.boxes.size(), 2);
}

void TestCommands::nothingTickedPutsEmptyText()
{
    test::ScriptedDialogs boxes;
    ResultsModel results;
    results.appendRows({"a", "b"});
    for (auto copy : {&copyWithSpaces, &copyWithTabs, &copyLines}) {
        FakeHost host;
        copy(host, results);
        QCOMPARE(host.clipboard, QStringList{QString()});
    }
}

void TestCommands::copyLinesOnlyCopies()
{
    test::ScriptedDialogs boxes;
    ResultsModel results;
    results.appendRows({"first", "second", "third"});
    results.setChecked(2, true);
    results.setChecked(0, true);
    FakeHost host;
    copyLines(host, results);
    QCOMPARE(host.calls, QStringList{"clipboard"});
    QCOMPARE(host.clipboard, QStringList{"first" + CRLF + "third" + CRLF});
    QVERIFY(boxes.boxes.isEmpty());
}

void TestCommands::clipboardFailureReported()
{
    test::ScriptedDialogs boxes;
    ResultsModel results;
    results.appendRows({"abc", "zz"});
    results.setChecked(0, true);
    FakeHost host;
    host.failClipboard = true;

    copyLines(host, results);
    QCOMPARE(boxes.boxes.size(), 1);
    const QString text = boxes.boxes.first().text;
    QVERIFY2(text.contains("in Vellumcast2/19/2015.Main.CopyListViewToClipboardEnter at line "), qPrintable(text));
    // The text collected so far ("abc" CR LF) is five characters.
    QVERIFY2(text.endsWith("Please email screenshot of this message to " + product::kSupportAddress + "\rSelLength: 5"),
             qPrintable(text));

    // In the padded copies the procedure reports, and the command still confirms and resets.
    for (int i = 0; i < 2; ++i) {
        boxes.clear();
        host.calls.clear();
        i == 0 ? copyWithSpaces(host, results) : copyWithTabs(host, results);
        QCOMPARE(boxes.boxes.size(), 2);
        QCOMPARE(boxes.boxes.at(0).title, QStringLiteral("Application Error"));
        QVERIFY(boxes.boxes.at(0).text.contains("in " + kCopyLocation[i] + " at line "));
        QVERIFY(!boxes.boxes.at(0).text.contains("SelLength"));
        QCOMPARE(boxes.boxes.at(1).text, output::kCopiedMessage);
        QCOMPARE(host.calls.mid(3), (QStringList{"idle", "status:Progress Bar"}));
    }
}

// 301 ticked rows padded to a 1 MiB row: 301 x (1 MiB + 7) bytes, over 256 MiB.
void TestCommands::paddedTextOverLimitIsNotBuilt()
{
    ResultsModel results;
    QStringList rows(300, QStringLiteral("row"));
    rows.append(QString(1 << 20, QLatin1Char('W')));
    results.appendRows(rows);
    for (int r = 0; r < results.count(); ++r)
        results.setChecked(r, true);
    for (int i = 0; i < 2; ++i) {
        test::ScriptedDialogs boxes;
        FakeHost host;
        i == 0 ? copyWithSpaces(host, results) : copyWithTabs(host, results);
        QVERIFY(host.clipboard.isEmpty());
        QCOMPARE(host.calls, (QStringList{"status:Copying text to clipboard.. please wait..", "busy", "idle",
                                          "status:Progress Bar"}));
        QCOMPARE(boxes.boxes.size(), 1);  // no confirmation
        const QString text = boxes.boxes.first().text;
        QVERIFY2(text.startsWith("The padded text would be 302 MB"), qPrintable(text));
        QVERIFY2(text.contains("\"Copy Results To Clipboard\""), qPrintable(text));
    }
    // The line layout has no limit of its own.
    FakeHost host;
    copyLines(host, results);
    QCOMPARE(host.clipboard.size(), 1);
}

void TestCommands::saveCancelWritesNothing()
{
    test::ScriptedDialogs boxes;  // no save name queued: the dialog is cancelled
    QTemporaryDir dir;
    ResultsModel results;
    results.appendRows({"a"});
    FakeHost host;
    saveAsText(host, results);
    saveAsCommaDelimited(host, results);
    QCOMPARE(boxes.boxes.size(), 2);
    for (const auto &b : boxes.boxes) {
        QCOMPARE(b.kind, test::ScriptedDialogs::Box::SaveFile);
        QCOMPARE(b.title, QStringLiteral("Save"));
    }
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|"));
    QCOMPARE(boxes.boxes[1].text,
             QStringLiteral("Comma Delimited Files (*.csv)|*.csv|Text Files (*.txt)|*.txt|All Files (*.*)|*.*|"));
    QVERIFY(host.calls.isEmpty());
    QVERIFY(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

void TestCommands::saveNewFileWithoutQuestion()
{
    test::ScriptedDialogs boxes;
    QTemporaryDir dir;
    const QString text = dir.filePath("out.txt");
    const QString comma = dir.filePath("out.csv");
    boxes.saveNames = {text, comma};
    ResultsModel results;
    results.appendRows({"t1", "t2", ""});
    results.setChecked(1, true);  // ticks play no part in saving
    FakeHost host;
    saveAsText(host, results);
    saveAsCommaDelimited(host, results);
    QCOMPARE(readAll(text), QByteArray("t1\r\nt2\r\n\r\n"));
    QCOMPARE(readAll(comma), QByteArray("t1,t2,,\r\n"));
    QCOMPARE(boxes.texts(), QStringList{});  // no question, nothing on success
    QCOMPARE(host.calls, (QStringList{"busy", "idle", "busy", "idle"}));
}

void TestCommands::overwriteAnsweredNoOrYes()
{
    test::ScriptedDialogs boxes;
    QTemporaryDir dir;
    const QString path = dir.filePath("old.txt");
    writeFile(path, "old content");
    ResultsModel results;
    results.appendRows({"new"});
    FakeHost host;

    boxes.saveNames = {path, path};
    boxes.answers = {BoxAnswer::No, BoxAnswer::Yes};
    saveAsText(host, results);
    QCOMPARE(readAll(path), QByteArray("old content"));
    QVERIFY(host.calls.isEmpty());
    QCOMPARE(boxes.texts(), QStringList{"Are you sure you wish to overwrite " + path + " ?"});
    const auto &q = boxes.boxes.last();
    QCOMPARE(q.buttons, BoxButtons::YesNo);
    QCOMPARE(q.icon, BoxIcon::None);
    QVERIFY(q.title.isEmpty());

    saveAsCommaDelimited(host, results);
    QCOMPARE(readAll(path), QByteArray("new,\r\n"));
    QCOMPARE(boxes.texts().size(), 2);
}

void TestCommands::saveFailureKeepsOldFile()
{
    // A file-size limit makes the write fail even for root, like a full disk.
    test::ScriptedDialogs boxes;
    QTemporaryDir dir;
    const QString path = dir.filePath("keep.txt");
    writeFile(path, "precious");
    ResultsModel results;
    results.appendRows({QString(200000, 'r'), "tail"});
    FakeHost host;
    boxes.saveNames = {path};
    boxes.answers = {BoxAnswer::Yes};

    struct rlimit old {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    saveAsText(host, results);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(readAll(path), QByteArray("precious"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.txt"});  // no half-written leftovers
    QCOMPARE(boxes.texts().size(), 2);                                           // the question, then the error box
    const auto &box = boxes.boxes.last();
    QCOMPARE(box.title, QStringLiteral("Application Error"));
    QVERIFY2(box.text.contains("\r\nin Vellumcast12/4/2014.Form1.PushButton6_Click at line "), qPrintable(box.text));
    QVERIFY2(!box.text.startsWith(AppError::standardDescription(err::PathFileAccess)), qPrintable(box.text));
    // The pointer comes back after the failure.
    QCOMPARE(host.calls, (QStringList{"busy", "idle"}));
}

// A save of many megabytes goes to the file a piece at a time; the file holds
// exactly the bytes of the whole text, in both layouts.
void TestCommands::bigSaveIsWrittenInPieces()
{
    test::ScriptedDialogs boxes;
    QTemporaryDir dir;
    QStringList rows;
    const QString pair = QString::fromUcs4(U"\U0001F600");
    for (int i = 0; i < 120000; ++i) {
        QString row = QStringLiteral("row %1 Gr\u00fc\u00dfe ").arg(i) + pair;
        if (i % 1000 == 7)
            row += pair.at(0);  // a lone surrogate before the line end
        rows << row;
    }
    ResultsModel results;
    results.appendRows(rows);
    const QString text = dir.filePath("big.txt");
    const QString comma = dir.filePath("big.csv");
    boxes.saveNames = {text, comma};
    FakeHost host;
    saveAsText(host, results);
    saveAsCommaDelimited(host, results);
    QCOMPARE(boxes.texts(), QStringList{});
    const ResultsRowSource source(rows);
    const QByteArray expected = textFileBytes(source);
    QVERIFY(expected.size() > 2 * (1 << 20));  // several pieces
    QCOMPARE(readAll(text), expected);
    QCOMPARE(readAll(comma), commaFileBytes(source));
    QStringEncoder enc(QStringConverter::System);
    QCOMPARE(expected, enc.encode(rows.join(CRLF) + CRLF));
}

void TestCommands::saveIntoUnusablePathShowsReason()
{
    test::ScriptedDialogs boxes;
    QTemporaryDir dir;
    const QString file = dir.filePath("plain");
    writeFile(file, "x");
    const QString folder = dir.filePath("folder");
    QVERIFY(QDir().mkdir(folder));
    writeFile(folder + "/inside", "kept");
    ResultsModel results;
    results.appendRows({"a"});
    FakeHost host;

    // A path below a regular file: nothing to ask, the write fails with the system's reason.
    boxes.saveNames = {file + "/child.txt"};
    saveAsCommaDelimited(host, results);
    QCOMPARE(boxes.texts().size(), 1);
    QVERIFY2(boxes.texts().first().contains("in Vellumcast12/4/2014.Form1.PushButton12_Click at line "),
             qPrintable(boxes.texts().first()));
    QCOMPARE(readAll(file), QByteArray("x"));

    // A folder as the target exists, so it is asked about; then the write fails and the folder stays.
    boxes.clear();
    boxes.saveNames = {folder};
    boxes.answers = {BoxAnswer::Yes};
    saveAsText(host, results);
    QCOMPARE(boxes.texts().size(), 2);
    QCOMPARE(boxes.boxes.last().title, QStringLiteral("Application Error"));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(readAll(folder + "/inside"), QByteArray("kept"));
}

void TestCommands::filterExtension_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<QString>("expected");
    const QString text = output::kSaveFilter, comma = output::kCommaSaveFilter;
    QTest::newRow("no extension") << "/tmp/results" << text << 0 << "/tmp/results.txt";
    QTest::newRow("all files chosen") << "/tmp/results" << text << 1 << "/tmp/results";
    QTest::newRow("an extension of its own") << "/tmp/results.log" << text << 0 << "/tmp/results.log";
    QTest::newRow("a dot in the folder only") << "/tmp/a.d/results" << text << 0 << "/tmp/a.d/results.txt";
    QTest::newRow("a hidden file") << "/tmp/.results" << text << 0 << "/tmp/.results";
    QTest::newRow("comma-delimited") << "/tmp/rows" << comma << 0 << "/tmp/rows.csv";
    QTest::newRow("comma-delimited as text") << "/tmp/rows" << comma << 1 << "/tmp/rows.txt";
    QTest::newRow("a filter beyond the list") << "/tmp/rows" << comma << 7 << "/tmp/rows";
    QTest::newRow("several patterns") << "/tmp/rows"
                                      << "Logs (*.log *.txt)|*.log *.txt|" << 0 << "/tmp/rows";
    QTest::newRow("cancelled") << "" << text << 0 << "";
}

void TestCommands::filterExtension()
{
    QFETCH(QString, typed);
    QFETCH(QString, filter);
    QFETCH(int, chosen);
    QFETCH(QString, expected);
    QCOMPARE(withFilterExtension(typed, filter, chosen), expected);
}

// The save dialog opens in the host's folder with the format's name proposed;
// a name typed without an extension is saved with the chosen filter's, asked
// about first when that file exists, and its folder is remembered.
void TestCommands::saveDialogProposesNameAndFolder()
{
    test::ScriptedDialogs boxes;
    QTemporaryDir dir;
    ResultsModel results;
    results.appendRows({"r1", "r2"});
    FakeHost host;
    host.folder = dir.path();
    writeFile(dir.filePath("taken.csv"), "old");
    boxes.saveNames = {dir.filePath("typed"), dir.filePath("taken"), dir.filePath("plain")};
    boxes.saveFilters = {0, 0, 1};
    boxes.answers = {BoxAnswer::Yes};
    saveAsText(host, results);
    saveAsCommaDelimited(host, results);
    saveAsCommaDelimited(host, results);  // "Text Files" chosen: .txt

    QCOMPARE(boxes.boxes.size(), 4);
    QCOMPARE(boxes.boxes[0].proposedName, QStringLiteral("vellumcast-results.txt"));
    QCOMPARE(boxes.boxes[0].folder, dir.path());
    QCOMPARE(boxes.boxes[1].proposedName, QStringLiteral("vellumcast-results.csv"));
    QCOMPARE(boxes.boxes[2].text, output::overwriteQuestion(dir.filePath("taken.csv")));
    QCOMPARE(readAll(dir.filePath("typed.txt")), QByteArray("r1\r\nr2\r\n"));
    QCOMPARE(readAll(dir.filePath("taken.csv")), QByteArray("r1,r2,\r\n"));
    QCOMPARE(readAll(dir.filePath("plain.txt")), QByteArray("r1,r2,\r\n"));
    QVERIFY(!QFileInfo::exists(dir.filePath("typed")));
    QCOMPARE(host.rememberedFolders, QStringList(3, QFileInfo(dir.path()).absoluteFilePath()));
}

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
