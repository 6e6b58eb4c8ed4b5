// The fields window as the main window runs it, on the fake component: its
// menu entry, "Start Extracting" over the selected folder (rows into the grid,
// Stop, the results list left as it was), the preview's messages fetched once,
// and the message a row came from opened again in the message viewer.
#include "AppTestSupport.h"
#include "app/FieldsWindow.h"
#include "app/FieldsWindowPreview.h"
#include "app/FieldsWindowResults.h"
#include "app/MessageViewer.h"
#include "app/WindowMenus.h"
#include "rules/TemplateFile.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>

using namespace vc;
using namespace vc::test;

namespace {

const QString kDone = QStringLiteral("Done.");

MailRecord order(int n, const QString &total, const QString &from = QStringLiteral("Shop <shop@example.org>"))
{
    MailRecord m =
        FakeImap::message(QStringLiteral("Order %1").arg(n),
                          QStringLiteral("Thanks!\r\nOrder #A-%1\r\nTotal: $%2\r\n").arg(n).arg(total), from);
    m.messageId = QStringLiteral("order-%1@example.org").arg(n);
    return m;
}

void orders(FakeImap &f)
{
    f.setInbox({order(1, QStringLiteral("42.10")),
                FakeImap::message(QStringLiteral("hello"), QStringLiteral("no order")),
                order(3, QStringLiteral("7.00"))});
    QList<std::optional<MailRecord>> junk;
    for (int n = 1; n <= 25; ++n)
        junk << order(100 + n, QStringLiteral("%1.00").arg(n));
    f.folder(QStringLiteral("Junk")).messages = junk;
}

records::TemplateSpec orderTemplate()
{
    return records::parseTemplate(R"json({"version": 1, "rows": "message", "skip_empty": true, "fields": [
        {"name": "order", "between": {"start": "Order #", "end": "\n"}},
        {"name": "total", "regex": "Total:\\s*\\$?([0-9][0-9.,]*)", "type": "number"},
        {"name": "from", "builtin": "from_address"}]})json")
        .spec;
}

void prepare(Window &w)
{
    w->Form_Load();
    w->Text7->setText(QStringLiteral("alice"));
    w->Combo1->setCurrentIndex(w->Combo1->findText(QStringLiteral("@live.com")));
    w->Text6->setText(QStringLiteral("secret"));
}

void connectWindow(Window &w)
{
    w->PushButton17->click();
    QCOMPARE(w->PushButton17->text(), QStringLiteral("Disconnect"));
}

QAction *fieldsEntry(Window &w)
{
    return w->findChild<QAction *>(QStringLiteral("MenuFields"));
}

QStringList gridRows(const QAbstractItemModel *m)
{
    QStringList out;
    for (int r = 0; r < m->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < m->columnCount(); ++c)
            cells << m->index(r, c).data().toString();
        out << cells.join(u'|');
    }
    return out;
}

QStringList marked(const QPlainTextEdit *box)
{
    QStringList out;
    for (const QTextEdit::ExtraSelection &s : box->extraSelections())
        out << s.cursor.selectedText();
    return out;
}

void doubleClick(QAbstractItemView *view, const QModelIndex &index)
{
    const QPoint at = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}

}  // namespace

class TestForm1Fields : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        storeOnly({});
        FieldsWindow::destroyInstance();
        MessageViewer::destroyInstance();
    }
    void cleanup()
    {
        FieldsWindow::destroyInstance();
        MessageViewer::destroyInstance();
    }

    void menuEntryOpensTheOneWindow()
    {
        Window w(orders);
        prepare(w);
        QAction *entry = fieldsEntry(w);
        QVERIFY(entry);
        QCOMPARE(entry->text(), QStringLiteral("&Fields..."));
        QVERIFY(w->menus()->menu(WindowMenus::Extract)->actions().contains(entry));
        QVERIFY(!FieldsWindow::existing());
        entry->trigger();
        FieldsWindow *first = FieldsWindow::existing();
        QVERIFY(first && first->isVisible());
        first->close();
        QVERIFY(!first->isVisible());
        entry->trigger();
        QCOMPARE(FieldsWindow::existing(), first);  // kept, shown again
        QVERIFY(first->isVisible());
    }

    void startExtractingFillsTheGrid()
    {
        ScriptedDialogs d;
        Window w(orders);
        prepare(w);
        fieldsEntry(w)->trigger();
        FieldsWindow *f = FieldsWindow::existing();
        f->setTemplateSpec(orderTemplate());
        QPushButton *start = f->findChild<QPushButton *>(QStringLiteral("startButton"));

        // Not connected: said, nothing read.
        start->click();
        QCOMPARE(d.texts(), QStringList{QStringLiteral("Please connect first (Step 1) before using this feature.")});
        QVERIFY(w.fake->fetched.isEmpty());
        d.clear();

        connectWindow(w);
        w->results().append(QStringLiteral("kept"));
        QString captionDuringFetch;
        w.fake->onFetch = [&](int) { captionDuringFetch = start->text(); };
        start->click();
        QCOMPARE(d.texts(), QStringList{kDone});
        QCOMPARE(captionDuringFetch, QStringLiteral("Stop"));
        QCOMPARE(start->text(), QStringLiteral("Start Extracting"));
        QCOMPARE(w.fake->fetched, (QList<int>{1, 2, 3}));
        QTableView *grid = f->findChild<QTableView *>(QStringLiteral("resultsGrid"));
        QCOMPARE(gridRows(grid->model()), (QStringList{QStringLiteral("A-1|42.10|ann@example.org"),
                                                       QStringLiteral("A-3|7.00|ann@example.org")}));
        QCOMPARE(grid->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("total"));
        // The results list is the rules' and keeps what it had.
        QCOMPARE(w->results().texts(), QStringList{QStringLiteral("kept")});
        QVERIFY(!w->onExtractEmail);

        // Sorted by a column, numbers as numbers.
        grid->sortByColumn(1, Qt::AscendingOrder);
        QCOMPARE(gridRows(grid->model()).first(), QStringLiteral("A-3|7.00|ann@example.org"));

        // The other folder, stopped during its third message.
        w->Option7->setChecked(true);  // Junk
        d.clear();
        w.fake->fetched.clear();
        w.fake->fetchHonoursAbort = false;  // the fetch in progress still returns its message
        w.fake->onFetch = [&](int n) {
            if (n == 3)
                start->click();
        };
        start->click();
        QCOMPARE(start->text(), QStringLiteral("Start Extracting"));
        QVERIFY(!w->onExtractEmail);
        QCOMPARE(w.fake->fetched, (QList<int>{1, 2, 3}));
        // The grid's rows are the ones the box counts; nothing after the stop.
        QCOMPARE(d.texts(), QStringList{QStringLiteral("Stopped at message 3 of 25. The %1 rows found so far are kept.")
                                            .arg(grid->model()->rowCount())});
        QVERIFY(grid->model()->rowCount() >= 2 && grid->model()->rowCount() <= 3);
    }

    void previewFetchedOnce()
    {
        ScriptedDialogs d;
        Window w(orders);
        prepare(w);
        w->Option7->setChecked(true);  // Junk: 25 messages
        // Opened before connecting: nothing to fetch with yet.
        fieldsEntry(w)->trigger();
        FieldsWindow *f = FieldsWindow::existing();
        f->setTemplateSpec(orderTemplate());
        QVERIFY(w.fake->fetched.isEmpty());
        QCOMPARE(f->findChild<QLabel *>(QStringLiteral("previewStatus"))->text(),
                 QStringLiteral("No messages to preview yet."));

        // Connecting brings the first 20 of the selected folder; a run asked
        // for meanwhile does not start on the component in use.
        bool runDuringPreview = false;
        w.fake->onFetch = [&](int n) {
            if (n != 2)
                return;
            w->PushButton13->click();
            runDuringPreview = w->onExtractEmail;
        };
        connectWindow(w);
        QTRY_COMPARE(f->preview()->records().size(), 20);
        QList<int> first20;
        for (int n = 1; n <= 20; ++n)
            first20 << n;
        QCOMPARE(w.fake->fetched, first20);
        QVERIFY(!runDuringPreview);
        QCOMPARE(w->PushButton13->text(), QStringLiteral("Extract All Email Data"));
        w.fake->onFetch = nullptr;
        QCOMPARE(f->preview()->model().rowCount(), 20);
        QCOMPARE(f->preview()->model().rowAt(19).at(1).text, QStringLiteral("20.00"));
        QCOMPARE(d.texts(), QStringList());

        // Kept: edits apply to the same messages, a new showing fetches nothing.
        f->close();
        fieldsEntry(w)->trigger();
        QTest::qWait(20);
        QCOMPARE(w.fake->fetched.size(), 20);
        records::TemplateSpec spec = orderTemplate();
        spec.fields[1].parameter = QStringLiteral("Total:\\s*\\$?([0-9]+");
        f->setTemplateSpec(spec);
        f->findChild<QTableWidget *>(QStringLiteral("fieldsTable"))->setCurrentCell(1, 0);
        QVERIFY(f->findChild<QLabel *>(QStringLiteral("fieldError"))
                    ->text()
                    .contains(QStringLiteral("missing closing parenthesis")));
        QCOMPARE(f->preview()->model().columnCount(), 2);  // the two fields that can be used
        QCOMPARE(f->preview()->model().rowCount(), 20);
        QCOMPARE(w.fake->fetched.size(), 20);

        // Another folder chosen: its first messages instead.
        w.fake->fetched.clear();
        w->Option3->setChecked(true);  // Inbox: 3 messages
        QTRY_COMPARE(f->preview()->records().size(), 3);
        QCOMPARE(w.fake->fetched, (QList<int>{1, 2, 3}));
        QCOMPARE(f->preview()->records().at(2).Subject, QStringLiteral("Order 3"));
    }

    void rowsKeepTheirSourceAndOpenTheMessage()
    {
        ScriptedDialogs d;
        Window w(orders);
        prepare(w);
        connectWindow(w);
        w->Text1->setText(QStringLiteral("total"));
        w->PushButton2->click();
        QCOMPARE(d.texts(), QStringList{kDone});
        // The list's text is what it always was...
        QCOMPARE(w->results().texts(), (QStringList{QStringLiteral("Total: $42.10"), QStringLiteral("Total: $7.00")}));
        // ...and each row knows its message.
        const RowOrigin *second = w->results().originOf(1);
        QVERIFY(second);
        QCOMPARE(second->seq, 3);
        QCOMPARE(second->folder, QStringLiteral("Inbox"));
        QCOMPARE(second->messageId, QStringLiteral("order-3@example.org"));
        QCOMPARE(second->from, QStringLiteral("Shop <shop@example.org>"));
        QCOMPARE(second->date, QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), Qt::UTC));
        QCOMPARE(w->results().originOf(0)->seq, 1);
        QVERIFY(!w->results().originOf(2));

        // Double-clicked: fetched again by its number, shown with the row marked.
        w->show();
        w.fake->fetched.clear();
        doubleClick(w->resultsList, w->resultsList->model()->index(1, 0));
        QCOMPARE(w.fake->fetched, QList<int>{3});
        MessageViewer *v = MessageViewer::instance();
        QVERIFY(v->isVisible());
        QCOMPARE(v->windowTitle(), QStringLiteral("Order 3"));
        QCOMPARE(v->findChild<QLabel *>(QStringLiteral("viewerSource"))->text(), QStringLiteral("Inbox, message 3"));
        auto *text = v->findChild<QPlainTextEdit *>(QStringLiteral("viewerText"));
        QCOMPARE(text->toPlainText(), QStringLiteral("Thanks!\nOrder #A-3\nTotal: $7.00\n"));
        QCOMPARE(marked(text), QStringList{QStringLiteral("Total: $7.00")});
        QVERIFY(v->findChild<QPlainTextEdit *>(QStringLiteral("viewerHeaders"))
                    ->toPlainText()
                    .contains(QStringLiteral("Subject: Order 3")));
        QCOMPARE(d.texts(), QStringList{kDone});

        // A message removed since the run: the number names another one now.
        w.fake->folders[0].messages.removeFirst();
        w.fake->folders[0].messages.append(order(9, QStringLiteral("1.00")));
        doubleClick(w->resultsList, w->resultsList->model()->index(1, 0));
        QCOMPARE(d.texts().size(), 2);
        QVERIFY2(d.texts().last().startsWith(QStringLiteral("The folder has changed since the run")),
                 qPrintable(d.texts().last()));
    }

    void gridRowsOpenTheirMessage()
    {
        ScriptedDialogs d;
        Window w(orders);
        prepare(w);
        connectWindow(w);
        fieldsEntry(w)->trigger();
        FieldsWindow *f = FieldsWindow::existing();
        f->setTemplateSpec(orderTemplate());
        f->findChild<QPushButton *>(QStringLiteral("startButton"))->click();
        QTableView *grid = f->findChild<QTableView *>(QStringLiteral("resultsGrid"));
        grid->sortByColumn(1, Qt::AscendingOrder);  // "7.00" first: the sorted row still finds its message
        w.fake->fetched.clear();
        doubleClick(grid, grid->model()->index(0, 1));
        QCOMPARE(w.fake->fetched, QList<int>{3});
        auto *text = MessageViewer::instance()->findChild<QPlainTextEdit *>(QStringLiteral("viewerText"));
        QCOMPARE(marked(text), (QStringList{QStringLiteral("7.00"), QStringLiteral("A-3")}));
    }
};

QTEST_MAIN(TestForm1Fields)
#include "test_form1_fields.moc"
