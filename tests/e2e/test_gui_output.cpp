// The main window's output commands end to end: rows ticked the way the list
// view ticks them, copied onto the real clipboard, and saved through the
// window's buttons onto the real file system.
#include "AppTestSupport.h"
#include "app/WindowHelpers.h"
#include "output/ResultsOutput.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace vc;
using namespace vc::test;

namespace {

const QString kErrorTitle = QStringLiteral("Application Error");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QString clipboardText()
{
    return QGuiApplication::clipboard()->text();
}

// Ticks or unticks a row the way the list view does when its box is clicked.
void tick(Form1 &f, int row, bool on)
{
    QAbstractItemModel *m = f.ListView1->model();
    QVERIFY(m->flags(m->index(row, 0)) & Qt::ItemIsUserCheckable);
    QVERIFY(m->setData(m->index(row, 0), on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole));
}

}  // namespace

class TestGuiOutput : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        storeOnly({});
        QGuiApplication::clipboard()->setText(QStringLiteral("on the clipboard before"));
        QCOMPARE(clipboardText(), QStringLiteral("on the clipboard before"));
    }

    // A copy with no row ticked, or of an empty list, says so and changes
    // nothing: the clipboard and the status line stay as they were.
    void copyWithNothingTickedSaysSo_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("box");
        const QString nothingTicked =
            QStringLiteral("No rows are ticked: tick rows, or right-click the list and tick all.");
        const QString empty = QStringLiteral("The results list is empty: there is nothing to copy.");
        const QStringList two{QStringLiteral("first"), QStringLiteral("second")};
        for (const char *button : {"PushButton14", "PushButton3", "PushButton1"}) {
            QTest::addRow("%s, nothing ticked", button) << button << two << nothingTicked;
            QTest::addRow("%s, empty list", button) << button << QStringList() << empty;
        }
    }
    void copyWithNothingTickedSaysSo()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, rows);
        QFETCH(QString, box);
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        w->results().appendRows(rows);
        w->setStatusText(QStringLiteral("Connected to Windows Live Hotmail. Please select folder."));
        w->findChild<QPushButton *>(button)->click();
        QCOMPARE(clipboardText(), QStringLiteral("on the clipboard before"));
        QCOMPARE(d.texts(), QStringList{box});
        QCOMPARE(d.boxes.first().icon, BoxIcon::None);
        QCOMPARE(w->statusText(), QStringLiteral("Connected to Windows Live Hotmail. Please select folder."));
        QCOMPARE(w->pointer()->MousePointer(), pointer::Default);
        QCOMPARE(w->results().count(), rows.size());
    }

    void rowsTickedInTheViewGiveTheLayouts()
    {
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        // The long unticked row sets the width (7); the multi-line cell counts
        // its line break (4 code units).
        w->results().appendRows({QStringLiteral("ab"), QStringLiteral("abcdefg"), QStringLiteral("x\r\ny")});
        tick(*w, 2, true);  // ticked out of list order
        tick(*w, 0, true);
        QVERIFY(w->results().isChecked(0) && !w->results().isChecked(1) && w->results().isChecked(2));

        const QString crlf = QStringLiteral("\r\n");
        w->PushButton14->click();
        QCOMPARE(clipboardText(),
                 QStringLiteral("ab") + QString(10, u' ') + crlf + QStringLiteral("x\r\ny") + QString(8, u' ') + crlf);
        w->PushButton3->click();
        QCOMPARE(clipboardText(), QStringLiteral("ab") + QString(5, u' ') + QStringLiteral("\t") + crlf
                                      + QStringLiteral("x\r\ny") + QString(3, u' ') + QStringLiteral("\t") + crlf);
        w->PushButton1->click();
        QCOMPARE(clipboardText(), QStringLiteral("ab\r\nx\r\ny\r\n"));

        tick(*w, 2, false);
        w->PushButton1->click();
        QCOMPARE(clipboardText(), QStringLiteral("ab\r\n"));
        QCOMPARE(d.count(output::kCopiedMessage), 2);
    }

    void overwriteAnsweredNoKeepsTheFile()
    {
        ScriptedDialogs d;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kept.txt"));
        const QByteArray old("old line\r\n\0\xff\xfe tail without line end", 35);
        writeFile(path, old);
        const QDateTime stamp = QFileInfo(path).lastModified();

        Window w;
        w->Form_Load();
        w->results().appendRows({QStringLiteral("new"), QStringLiteral("rows")});
        d.saveNames = {path, path};
        d.answers = {BoxAnswer::No, BoxAnswer::No};
        w->PushButton6->click();
        w->PushButton12->click();
        QCOMPARE(d.texts(), QStringList(2, output::overwriteQuestion(path)));
        QCOMPARE(readAll(path), old);
        QCOMPARE(QFileInfo(path).lastModified(), stamp);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.txt")});
        QCOMPARE(w->pointer()->MousePointer(), pointer::Default);
    }

    void unwritableTargetsShowTheErrorBox()
    {
        ScriptedDialogs d;
        QTemporaryDir dir;
        const QString plain = dir.filePath(QStringLiteral("plain.txt"));
        writeFile(plain, "plain content\r\n");
        const QString folder = dir.filePath(QStringLiteral("folder"));
        QVERIFY(QDir().mkdir(folder));
        writeFile(folder + QStringLiteral("/inside.txt"), "inside");

        Window w;
        w->Form_Load();
        w->results().appendRows({QStringLiteral("r1"), QStringLiteral("r2")});

        // Below a regular file: the file does not exist, so nothing is asked.
        d.saveNames = {plain + QStringLiteral("/child.txt")};
        w->PushButton6->click();
        QCOMPARE(d.texts().size(), 1);
        const auto &box = d.boxes.last();
        QCOMPARE(box.title, kErrorTitle);
        QCOMPARE(box.icon, BoxIcon::Warning);
        QVERIFY2(box.text.contains(QStringLiteral("\r\nin Vellumcast12/4/2014.Form1.PushButton6_Click at line ")),
                 qPrintable(box.text));
        QVERIFY2(!box.text.startsWith(QStringLiteral("\r\n")), "the box names no reason");
        QCOMPARE(readAll(plain), QByteArray("plain content\r\n"));
        QCOMPARE(w->pointer()->MousePointer(), pointer::Default);

        // A folder as the target exists, so the question comes first; answered
        // Yes, the write fails and the folder keeps what it holds.
        d.clear();
        d.saveNames = {folder};
        d.answers = {BoxAnswer::Yes};
        w->PushButton12->click();
        QCOMPARE(d.texts().size(), 2);
        QCOMPARE(d.texts().first(), output::overwriteQuestion(folder));
        QCOMPARE(d.boxes.last().title, kErrorTitle);
        QVERIFY2(
            d.boxes.last().text.contains(QStringLiteral("in Vellumcast12/4/2014.Form1.PushButton12_Click at line ")),
            qPrintable(d.boxes.last().text));
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("inside.txt")});
        QCOMPARE(readAll(folder + QStringLiteral("/inside.txt")), QByteArray("inside"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 (QStringList{QStringLiteral("folder"), QStringLiteral("plain.txt")}));
        QCOMPARE(w->pointer()->MousePointer(), pointer::Default);
    }

    void cancelWritesNothing()
    {
        ScriptedDialogs d;  // no file name queued: every save dialog is cancelled
        QTemporaryDir dir;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));

        Window w;
        w->Form_Load();
        w->results().appendRows({QStringLiteral("r1")});
        w->PushButton6->click();
        w->PushButton12->click();
        QDir::setCurrent(before);

        QCOMPARE(d.boxes.size(), 2);
        for (const auto &b : d.boxes)
            QCOMPARE(b.kind, ScriptedDialogs::Box::SaveFile);
        QCOMPARE(d.texts(), QStringList());
        QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
        QCOMPARE(w->results().count(), 1);
        QCOMPARE(w->pointer()->MousePointer(), pointer::Default);
    }
};

QTEST_MAIN(TestGuiOutput)
#include "test_gui_output.moc"
