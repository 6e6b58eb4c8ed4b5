// What the main window tells and offers the user around the commands: the row
// counts on the status line, save dialogs that start in a sensible folder with
// a name proposed, and rule windows that open where they hide nothing.
#include "AppTestSupport.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/StatusLine.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace vc;
using namespace vc::test;

namespace {

void threeMessages(FakeImap &f)
{
    f.setInbox({FakeImap::message(QStringLiteral("first"), QStringLiteral("a\r\nb")),
                FakeImap::message(QStringLiteral("second"), QStringLiteral("c")),
                FakeImap::message(QStringLiteral("third"), QStringLiteral("d"))});
}

void connected(Window &w)
{
    w->Form_Load();
    w->Text7->setText(QStringLiteral("alice"));
    w->Combo1->setCurrentIndex(w->Combo1->findText(QStringLiteral("@live.com")));
    w->Text6->setText(QStringLiteral("secret"));
    w->PushButton17->click();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// The user's documents folder, as the desktop's folder settings name it.
void setDocumentsFolder(const QString &path)
{
    QFile dirs(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"));
    QVERIFY(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DOCUMENTS_DIR=\"" + path.toUtf8() + "\"\n");
}

}  // namespace

class TestForm1Feedback : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { storeOnly({}); }
    void cleanup()
    {
        Form2::destroyInstance();
        Form3::destroyInstance();
        QFile::remove(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"));
    }

    // Idle, the bar shows its text and the rows; a run shows its progress
    // alone; the status text itself stays what the commands set.
    void statusLineCountsRowsWhenIdle()
    {
        ScriptedDialogs d;
        Window w(threeMessages);
        connected(w);
        const QString connectedText = QStringLiteral("Connected to Windows Live Hotmail. Please select folder.");
        QCOMPARE(w->statusText(), connectedText);
        QCOMPARE(w->ProgressBar1->text(), connectedText + QStringLiteral("  \u00b7  no rows"));

        QString duringRun;
        w.fake->onFetch = [&](int n) {
            if (n == 2)
                duringRun = w->ProgressBar1->text();
        };
        w->PushButton13->click();
        QCOMPARE(duringRun, QStringLiteral("Reading mail 2 of 3"));
        const int rows = w->results().count();
        QVERIFY(rows > 3);
        QCOMPARE(w->statusText(), QStringLiteral("Progress Bar"));
        QCOMPARE(w->ProgressBar1->text(), QStringLiteral("Progress Bar  \u00b7  %1 rows, 0 ticked").arg(rows));

        w->results().setChecked(1, true);
        w->results().setChecked(3, true);
        QCOMPARE(w->ProgressBar1->text(), QStringLiteral("Progress Bar  \u00b7  %1 rows, 2 ticked").arg(rows));
        w->results().tickAll(ResultsModel::Tick::Invert);
        QCOMPARE(w->ProgressBar1->text(),
                 QStringLiteral("Progress Bar  \u00b7  %1 rows, %2 ticked").arg(rows).arg(rows - 2));
        w->PushButton9->click();
        QCOMPARE(w->ProgressBar1->text(), QStringLiteral("Progress Bar  \u00b7  no rows"));
        // The bar's own placeholders (%p, %v, %m) stay as typed.
        w->setStatusText(QStringLiteral("100% sure, 5%p"));
        QCOMPARE(w->ProgressBar1->text().remove(QChar(0x2060)), QStringLiteral("100% sure, 5%p  \u00b7  no rows"));
        QCOMPARE(w->statusText(), QStringLiteral("100% sure, 5%p"));
    }

    void countsText_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("ticked");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << 0 << 0 << "no rows";
        QTest::newRow("one") << 1 << 0 << "1 row, 0 ticked";
        QTest::newRow("one ticked") << 1 << 1 << "1 row, 1 ticked";
        QTest::newRow("many") << 34 << 2 << "34 rows, 2 ticked";
    }
    void countsText()
    {
        QFETCH(int, rows);
        QFETCH(int, ticked);
        QFETCH(QString, text);
        QCOMPARE(StatusLine::countsText(rows, ticked), text);
    }

    // The first save opens in the user's documents with the format's name
    // proposed; a name typed without an extension gets the filter's; later
    // saves, also after a restart, open in the folder of the last one.
    void saveDialogsStartInTheLastFolder()
    {
        ScriptedDialogs d;
        QTemporaryDir documents, elsewhere;
        setDocumentsFolder(documents.path());
        {
            Window w;
            w->Form_Load();
            w->results().appendRows({QStringLiteral("t1"), QStringLiteral("t2")});
            d.saveNames = {documents.filePath(QStringLiteral("mine")), elsewhere.filePath(QStringLiteral("rows"))};
            w->PushButton6->click();
            w->PushButton12->click();
            QCOMPARE(d.boxes.size(), 2);
            QCOMPARE(d.boxes[0].folder, documents.path());
            QCOMPARE(d.boxes[0].proposedName, QStringLiteral("vellumcast-results.txt"));
            QCOMPARE(d.boxes[1].folder, documents.path());
            QCOMPARE(d.boxes[1].proposedName, QStringLiteral("vellumcast-results.csv"));
            QCOMPARE(readAll(documents.filePath(QStringLiteral("mine.txt"))), QByteArray("t1\r\nt2\r\n"));
            QCOMPARE(readAll(elsewhere.filePath(QStringLiteral("rows.csv"))), QByteArray("t1,t2,\r\n"));
        }
        d.clear();
        Window again;
        again->Form_Load();
        again->PushButton6->click();  // cancelled
        QCOMPARE(d.boxes.size(), 1);
        QCOMPARE(QFileInfo(d.boxes[0].folder), QFileInfo(elsewhere.path()));

        // A remembered folder that is gone: the documents again.
        QVERIFY(QDir(elsewhere.path()).removeRecursively());
        d.clear();
        again->PushButton12->click();
        QCOMPARE(d.boxes[0].folder, documents.path());
    }

    // The two rule windows open beside the main window at places of their
    // own; over a maximised main window they stay clear of its results.
    void ruleWindowsOpenWhereTheyHideNothing()
    {
        ScriptedDialogs d;
        Window w;
        w->Form_Load();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        const QRect screen = w->screen()->availableGeometry();
        w->PushButton4->click();
        w->PushButton11->click();
        Form2 *between = Form2::instance();
        Form3 *textSet = Form3::instance();
        QVERIFY(QTest::qWaitForWindowExposed(between) && QTest::qWaitForWindowExposed(textSet));
        for (QWidget *rule : QList<QWidget *>{between, textSet}) {
            QTRY_VERIFY(screen.contains(rule->frameGeometry()));
            QVERIFY2(!rule->frameGeometry().intersects(w->frameGeometry()), qPrintable(rule->objectName()));
        }
        QVERIFY(!between->frameGeometry().intersects(textSet->frameGeometry()));
        QVERIFY(screen.contains(w->frameGeometry()));

        between->close();
        textSet->close();
        w->showMaximized();
        QTRY_VERIFY(w->isMaximized() && w->width() > screen.width() - 20);
        w->PushButton4->click();
        w->PushButton11->click();
        QVERIFY(QTest::qWaitForWindowExposed(between) && QTest::qWaitForWindowExposed(textSet));
        const QRect results = w->resultsAreaOnScreen();
        for (QWidget *rule : QList<QWidget *>{between, textSet}) {
            QVERIFY2(!rule->frameGeometry().intersects(results), qPrintable(rule->objectName()));
            QVERIFY(screen.contains(rule->frameGeometry()));
        }
        QVERIFY(between->frameGeometry().topLeft() != textSet->frameGeometry().topLeft());
        // A window open already only comes to the front; it does not move.
        const QPoint at = between->pos();
        w->PushButton4->click();
        QCOMPARE(between->pos(), at);
    }
};

QTEST_MAIN(TestForm1Feedback)
#include "test_form1_feedback.moc"
