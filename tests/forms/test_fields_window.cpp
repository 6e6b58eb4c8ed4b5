// The fields window, driven by objectName with messages given to it: the
// table of fields and its commands, the stored template, the live preview and
// its highlight, a pattern that does not compile, the template file, the
// hand-over of "Start Extracting", and the results grid's copy and saves.
#include "ScriptedDialogs.h"
#include "StoredSettings.h"
#include "TestFiles.h"
#include "XlsxReadBack.h"
#include "app/FieldsWindow.h"
#include "app/FieldsWindowModel.h"
#include "app/SettingsStore.h"
#include "mail/MimeDecode.h"
#include "output/RecordWriters.h"
#include "rules/TemplateFile.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace vc;
using test::ScriptedDialogs;

namespace {

const QString kFixtures = QStringLiteral(VC_FIXTURE_DIR "/records");
const QString kTemplates = QStringLiteral(VC_TEMPLATE_DIR);

QList<MailRecord> fixtureMessages()
{
    QList<MailRecord> out;
    for (const QString &name : QDir(kFixtures).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name)) {
        MailRecord m = decodeMessage(test::readFile(kFixtures + QLatin1Char('/') + name), DecodeNeeds{true});
        m.folder = QStringLiteral("INBOX");
        m.uid = quint32(out.size() + 1);
        out << m;
    }
    return out;
}

records::TemplateSpec exampleSpec(const QString &name)
{
    const records::TemplateRead read = records::readTemplateFile(kTemplates + QLatin1Char('/') + name + ".json");
    if (!read.ok())
        qFatal("%s", qPrintable(records::problemsText(read.problems)));
    return read.spec;
}

template <class W>
W *child(QWidget *w, const char *name)
{
    W *c = w->findChild<W *>(QLatin1String(name));
    if (!c)
        qFatal("no %s", name);
    return c;
}

QStringList column(const QTableWidget *table, int c)
{
    QStringList out;
    for (int r = 0; r < table->rowCount(); ++r)
        out << table->item(r, c)->text();
    return out;
}

// The fields of the template the store holds now.
QStringList storedFieldNames()
{
    const auto stored = test::storedValue(settings::key::FieldsTemplate);
    if (!stored)
        return {QStringLiteral("<absent>")};
    QStringList names;
    for (const records::FieldSpec &f : records::parseTemplate(stored->toUtf8()).spec.fields)
        names << f.name;
    return names;
}

QStringList gridRow(const QAbstractItemModel *m, int row)
{
    QStringList out;
    for (int c = 0; c < m->columnCount(); ++c)
        out << m->index(row, c).data().toString();
    return out;
}

}  // namespace

class FieldsWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void everyControlHasItsName();
    void fieldCommandsAndTheStore();
    void previewFillsAndHighlights();
    void invalidPatternShowsItsError();
    void templateFile();
    void startExtractingHandsOver();
    void previewMessagesAskedForOnce();
    void resultsCopyAndSaves();

private:
    QTemporaryDir dir_;
    int store_ = 0;
};

void FieldsWindowTest::init()
{
    FieldsWindow::destroyInstance();
    FieldsWindow::setStartAction(nullptr);
    FieldsWindow::setPreviewRequest(nullptr);
    settings::useFile(dir_.filePath(QStringLiteral("store%1.ini").arg(++store_)));
}

void FieldsWindowTest::cleanup()
{
    FieldsWindow::destroyInstance();
    settings::useFile(QString());
}

// Tests and the run find the controls by objectName: every control of the
// window has one (Qt's own parts of a table, a list or a splitter aside).
void FieldsWindowTest::everyControlHasItsName()
{
    FieldsWindow *w = FieldsWindow::instance();
    QStringList unnamed;
    for (QWidget *c : w->findChildren<QWidget *>()) {
        bool inside = c->inherits("QSplitterHandle");
        for (QWidget *p = c->parentWidget(); p && p != w && !inside; p = p->parentWidget())
            inside = qobject_cast<QAbstractScrollArea *>(p) || qobject_cast<QComboBox *>(p);
        if (!inside && c->objectName().isEmpty())
            unnamed << QString::fromLatin1(c->metaObject()->className()) + u' '
                           + (qobject_cast<QLabel *>(c) ? qobject_cast<QLabel *>(c)->text() : QString());
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
    for (const char *name :
         {"fieldsTable",        "addFieldButton",     "removeFieldButton", "moveFieldUpButton", "moveFieldDownButton",
          "openTemplateButton", "saveTemplateButton", "fieldName",         "fieldKind",         "patternName",
          "fieldError",         "rowsMode",           "repeatField",       "skipEmpty",         "uniqueRows",
          "previewGrid",        "previewText",        "resultsGrid",       "copyResultsButton", "saveCsvButton",
          "saveXlsxButton",     "saveJsonlButton",    "startButton",       "closeButton"})
        QVERIFY2(w->findChild<QWidget *>(QLatin1String(name)), name);
    QCOMPARE(child<QPushButton>(w, "startButton")->text(), QStringLiteral("Start Extracting"));
}

void FieldsWindowTest::fieldCommandsAndTheStore()
{
    FieldsWindow *w = FieldsWindow::instance();
    auto *table = child<QTableWidget>(w, "fieldsTable");
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(!child<QPushButton>(w, "removeFieldButton")->isEnabled());

    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(child<QPushButton>(w, "addFieldButton"), Qt::LeftButton);
    QCOMPARE(column(table, 0), (QStringList{"field1", "field2", "field3"}));
    QCOMPARE(column(table, 1), (QStringList(3, QStringLiteral("Ready-made pattern"))));
    QCOMPARE(storedFieldNames(), (QStringList{"field1", "field2", "field3"}));

    // Editing the selected field (the last added) renames its row and the stored field.
    QCOMPARE(table->currentRow(), 2);
    auto *name = child<QLineEdit>(w, "fieldName");
    name->selectAll();
    QTest::keyClicks(name, "total");
    auto *kind = child<QComboBox>(w, "fieldKind");
    kind->setCurrentIndex(kind->findData(QStringLiteral("line")));
    QTest::keyClicks(child<QLineEdit>(w, "lineLabel"), "Total:");
    QCOMPARE(column(table, 0).last(), QStringLiteral("total"));
    QCOMPARE(table->item(2, 2)->text(), QStringLiteral("\"Total:\""));
    QCOMPARE(storedFieldNames(), (QStringList{"field1", "field2", "total"}));

    QTest::mouseClick(child<QPushButton>(w, "moveFieldUpButton"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(w, "moveFieldUpButton"), Qt::LeftButton);
    QCOMPARE(column(table, 0), (QStringList{"total", "field1", "field2"}));
    QVERIFY(!child<QPushButton>(w, "moveFieldUpButton")->isEnabled());
    QTest::mouseClick(child<QPushButton>(w, "moveFieldDownButton"), Qt::LeftButton);
    QCOMPARE(column(table, 0), (QStringList{"field1", "total", "field2"}));
    table->setCurrentCell(0, 0);
    QTest::mouseClick(child<QPushButton>(w, "removeFieldButton"), Qt::LeftButton);
    QCOMPARE(column(table, 0), (QStringList{"total", "field2"}));
    QCOMPARE(storedFieldNames(), (QStringList{"total", "field2"}));

    // The pattern picker sets the pattern of a pattern field.
    table->setCurrentCell(1, 0);
    auto *pattern = child<QComboBox>(w, "patternName");
    pattern->setCurrentIndex(pattern->findData(QStringLiteral("money")));
    QCOMPARE(w->templateSpec().fields[1].parameter, QStringLiteral("money"));
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("Money amount"));

    // The next start of the program finds the template as it was left.
    const records::TemplateSpec before = w->templateSpec();
    FieldsWindow::destroyInstance();
    settings::useFile(dir_.filePath(QStringLiteral("store%1.ini").arg(store_)));
    FieldsWindow *again = FieldsWindow::instance();
    QVERIFY(again->templateSpec() == before);
    QCOMPARE(column(child<QTableWidget>(again, "fieldsTable"), 0), (QStringList{"total", "field2"}));
}

void FieldsWindowTest::previewFillsAndHighlights()
{
    FieldsWindow *w = FieldsWindow::open();
    w->setTemplateSpec(exampleSpec(QStringLiteral("orders")));
    w->setPreviewRecords(fixtureMessages());
    auto *grid = child<QTableView>(w, "previewGrid");
    const QAbstractItemModel *m = grid->model();
    QCOMPARE(m->columnCount(), 7);
    QCOMPARE(m->headerData(4, Qt::Horizontal).toString(), QStringLiteral("total"));
    QCOMPARE(m->rowCount(), 3);
    QCOMPARE(gridRow(m, 1), (QStringList{"MG-7731", "2025-03-04T09:41:07+00:00", "Mossgrove Tea Company",
                                         "Robin Vale, 14 Orchard Row, Bramwell BR4 7QT", "42.10", "", "3"}));
    QCOMPARE(child<QLabel>(w, "previewStatus")->text(), QStringLiteral("3 rows from the first 6 messages."));

    // The selected cell's match is highlighted in the text of its message.
    grid->setCurrentIndex(m->index(2, 3));
    auto *text = child<QPlainTextEdit>(w, "previewText");
    QVERIFY(text->toPlainText().contains(QStringLiteral("Fjord wool blanket")));
    QCOMPARE(text->extraSelections().size(), 1);
    QCOMPARE(text->extraSelections().first().cursor.selectedText(),
             QStringLiteral("Robin Vale, 14 Orchard Row, Bramwell BR4 7QT, Storbritannia"));
    // The HTML-only message shows its visible text, the total marked in it.
    grid->setCurrentIndex(m->index(1, 4));
    QCOMPARE(text->extraSelections().first().cursor.selectedText(), QStringLiteral("42.10"));
    QVERIFY(text->toPlainText().startsWith(QStringLiteral("Thank you for your order!\n")));

    // Editing a field shows its new rows at once, the selection kept.
    child<QTableWidget>(w, "fieldsTable")->setCurrentCell(0, 0);
    auto *regex = child<QLineEdit>(w, "regexPattern");
    regex->selectAll();
    QTest::keyClicks(regex, "(?i)order\\s*(?:#|no\\.|number:)\\s*(\\d+)");
    QCOMPARE(gridRow(m, 0).first(), QStringLiteral("55120"));
    QCOMPARE(gridRow(m, 1).first(), QString());
    QCOMPARE(grid->currentIndex(), m->index(1, 4));
}

void FieldsWindowTest::invalidPatternShowsItsError()
{
    QList<QPushButton *> started;
    FieldsWindow::setStartAction([&](QPushButton *b, const QString &, FieldsWindow *) { started << b; });
    ScriptedDialogs dialogs;
    FieldsWindow *w = FieldsWindow::open();
    w->setTemplateSpec(exampleSpec(QStringLiteral("orders")));
    w->setPreviewRecords(fixtureMessages());
    auto *table = child<QTableWidget>(w, "fieldsTable");
    table->setCurrentCell(4, 0);  // total
    auto *regex = child<QLineEdit>(w, "regexPattern");
    auto *error = child<QLabel>(w, "fieldError");
    QVERIFY(error->text().isEmpty());

    regex->selectAll();
    QTest::keyClicks(regex, "Total: (");
    QCOMPARE(error->text(), QStringLiteral("the regular expression does not compile at character 9: missing closing "
                                           "parenthesis"));
    QVERIFY(error->isVisibleTo(w));
    QCOMPARE(table->item(4, 2)->toolTip(), error->text());
    QVERIFY(!w->compiledTemplate());
    // The preview goes on without the broken field.
    const QAbstractItemModel *m = child<QTableView>(w, "previewGrid")->model();
    QCOMPARE(m->columnCount(), 6);
    QVERIFY(m->rowCount() > 0);

    // Nothing starts; a box says why.
    QTest::mouseClick(child<QPushButton>(w, "startButton"), Qt::LeftButton);
    QVERIFY(started.isEmpty());
    QCOMPARE(dialogs.texts(),
             QStringList{"The template cannot be used:\rfield 5 \"total\": the regular expression does "
                         "not compile at character 9: missing closing parenthesis"});

    QTest::keyClicks(regex, "\\d+)");
    QVERIFY(error->text().isEmpty());
    QVERIFY(w->compiledTemplate());
    QCOMPARE(m->columnCount(), 7);
    QTest::mouseClick(child<QPushButton>(w, "startButton"), Qt::LeftButton);
    QCOMPARE(started.size(), 1);

    // A template-wide problem shows above the table.
    auto *mode = child<QComboBox>(w, "rowsMode");
    auto *repeat = child<QComboBox>(w, "repeatField");
    mode->setCurrentIndex(1);
    QCOMPARE(repeat->currentText(), QStringLiteral("order"));  // the first field until one is chosen
    QVERIFY(w->compiledTemplate());
    repeat->setCurrentIndex(repeat->findText(QStringLiteral("total")));
    QCOMPARE(w->templateSpec().repeat, QStringLiteral("total"));
    records::TemplateSpec s = w->templateSpec();
    s.repeat = QStringLiteral("gone");
    w->setTemplateSpec(s);
    QCOMPARE(child<QLabel>(w, "templateError")->text(),
             QStringLiteral("\"repeat\" names \"gone\", which is no field of this template"));
}

void FieldsWindowTest::templateFile()
{
    ScriptedDialogs dialogs;
    FieldsWindow *w = FieldsWindow::open();
    dialogs.openNames << QStringList{kTemplates + "/shipping.json"};
    QTest::mouseClick(child<QPushButton>(w, "openTemplateButton"), Qt::LeftButton);
    QVERIFY(w->templateSpec() == exampleSpec(QStringLiteral("shipping")));
    QCOMPARE(column(child<QTableWidget>(w, "fieldsTable"), 0),
             (QStringList{"parcel", "order", "follow", "date", "message_id"}));
    QCOMPARE(child<QComboBox>(w, "rowsMode")->currentIndex(), 1);
    QCOMPARE(child<QComboBox>(w, "repeatField")->currentText(), QStringLiteral("parcel"));
    QCOMPARE(test::storedValue(settings::key::FieldsTemplateFile).value_or(QString()), kTemplates + "/shipping.json");
    QCOMPARE(w->windowTitle(), QStringLiteral("Extract Fields - shipping.json"));

    // A file that is no template changes nothing.
    const QString bad = dir_.filePath(QStringLiteral("bad.json"));
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("{\"fields\": [{\"name\": \"a\", \"regx\": \"x\"}]}");
    f.close();
    dialogs.openNames << QStringList{bad};
    QTest::mouseClick(child<QPushButton>(w, "openTemplateButton"), Qt::LeftButton);
    QVERIFY(w->templateSpec() == exampleSpec(QStringLiteral("shipping")));
    QCOMPARE(dialogs.texts().size(), 1);
    QVERIFY2(dialogs.texts().first().startsWith(
                 QStringLiteral("This file cannot be opened as a template:\rfield 1 \"a\": a field needs one of")),
             qPrintable(dialogs.texts().first()));

    // Saved, a name without an extension gets ".json"; the file reads back as the same template.
    dialogs.saveNames << dir_.filePath(QStringLiteral("mine"));
    QTest::mouseClick(child<QPushButton>(w, "saveTemplateButton"), Qt::LeftButton);
    const records::TemplateRead back = records::readTemplateFile(dir_.filePath(QStringLiteral("mine.json")));
    QVERIFY(back.ok());
    QVERIFY(back.spec == w->templateSpec());
    // Saving over it asks first; No keeps the file.
    records::TemplateSpec changed = w->templateSpec();
    changed.fields.removeLast();
    w->setTemplateSpec(changed);
    dialogs.saveNames << dir_.filePath(QStringLiteral("mine.json"));
    dialogs.answers << BoxAnswer::No;
    QTest::mouseClick(child<QPushButton>(w, "saveTemplateButton"), Qt::LeftButton);
    QVERIFY(records::readTemplateFile(dir_.filePath(QStringLiteral("mine.json"))).spec == back.spec);
    QVERIFY(dialogs.texts().last().startsWith(QStringLiteral("Are you sure you wish to overwrite ")));
}

void FieldsWindowTest::startExtractingHandsOver()
{
    struct Click {
        QPushButton *button;
        QString caption;
        FieldsWindow *window;
    };
    QList<Click> clicks;
    FieldsWindow::setStartAction([&](QPushButton *b, const QString &caption, FieldsWindow *window) {
        clicks << Click{b, caption, window};
        b->setText(QStringLiteral("Stop"));  // as the main window's start command does while a run goes
    });
    ScriptedDialogs dialogs;
    FieldsWindow *w = FieldsWindow::open();
    auto *start = child<QPushButton>(w, "startButton");
    QCOMPARE(start->text(), QStringLiteral("Start Extracting"));
    // No fields: nothing to run.
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(clicks.isEmpty());
    QCOMPARE(dialogs.texts(), QStringList{"The template cannot be used:\ra template needs at least one field"});

    w->setTemplateSpec(exampleSpec(QStringLiteral("orders")));
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks[0].button, start);
    QCOMPARE(clicks[0].caption, QStringLiteral("Start Extracting"));
    QCOMPARE(clicks[0].window, w);
    // "Stop" goes through even while the template is being broken.
    records::TemplateSpec broken = w->templateSpec();
    broken.fields[0].parameter = QStringLiteral("(");
    w->setTemplateSpec(broken);
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(clicks.size(), 2);
    QCOMPARE(dialogs.texts().size(), 1);

    // The run fills the results grid through the window.
    w->setTemplateSpec(exampleSpec(QStringLiteral("orders")));
    w->clearResults();
    records::RecordRows rows(*w->compiledTemplate());
    for (const MailRecord &m : fixtureMessages()) {
        QList<records::Row> batch;
        rows.append(m, batch);
        w->appendResults(batch);
    }
    QCOMPARE(child<QTableView>(w, "resultsGrid")->model()->rowCount(), 3);
    QCOMPARE(child<QLabel>(w, "resultsStatus")->text(), QStringLiteral("3 rows"));
}

void FieldsWindowTest::previewMessagesAskedForOnce()
{
    int asked = 0;
    FieldsWindow::setPreviewRequest([&](FieldsWindow *w) {
        ++asked;
        w->setPreviewRecords(fixtureMessages().mid(0, 2));
    });
    FieldsWindow *w = FieldsWindow::instance();
    w->setTemplateSpec(exampleSpec(QStringLiteral("addresses")));
    QCOMPARE(asked, 0);
    FieldsWindow::open();
    QCOMPARE(asked, 1);
    QCOMPARE(child<QTableView>(w, "previewGrid")->model()->rowCount(), 2);
    w->close();
    FieldsWindow::open();
    QCOMPARE(asked, 1);
}

void FieldsWindowTest::resultsCopyAndSaves()
{
    ScriptedDialogs dialogs;
    FieldsWindow *w = FieldsWindow::open();
    w->setTemplateSpec(exampleSpec(QStringLiteral("orders")));
    w->clearResults();
    QList<records::Row> all;
    records::RecordRows rows(*w->compiledTemplate());
    for (const MailRecord &m : fixtureMessages()) {
        QList<records::Row> batch;
        rows.append(m, batch);
        all += batch;
        w->appendResults(batch);
    }
    const QList<records::Column> columns = w->compiledTemplate()->columns();

    // Save as CSV and JSON lines: the bytes the record writers give for the same rows.
    const struct {
        const char *button, *file;
        records::RecordFormat format;
    } saves[] = {{"saveCsvButton", "rows.csv", records::RecordFormat::Csv},
                 {"saveJsonlButton", "rows.jsonl", records::RecordFormat::Jsonl}};
    for (const auto &s : saves) {
        dialogs.saveNames << dir_.filePath(QLatin1String(s.file));
        QTest::mouseClick(child<QPushButton>(w, s.button), Qt::LeftButton);
        QCOMPARE(test::readFile(dir_.filePath(QLatin1String(s.file))),
                 records::recordBytes(s.format, columns, all, {}));
    }
    QCOMPARE(test::readFile(dir_.filePath("rows.csv")), test::readFile(kFixtures + "/expected/orders.csv"));
    // Save as XLSX: one sheet named after the template, the rows as the grid has them.
    dialogs.saveNames << dir_.filePath(QStringLiteral("rows"));
    QTest::mouseClick(child<QPushButton>(w, "saveXlsxButton"), Qt::LeftButton);
    const test::Workbook book = test::readWorkbook(dir_.filePath(QStringLiteral("rows.xlsx")));
    QCOMPARE(book.sheets, QStringList{"Orders"});
    QCOMPARE(book.rows.size(), 4);
    QCOMPARE(book.rows[3][5], test::WorkbookCell::text("'=2+3 leave it by the back door, takk!"));
    QVERIFY(dialogs.texts().isEmpty());

    // Copy: tab-separated, the header row first, in the grid's order.
    QTest::mouseClick(child<QPushButton>(w, "copyResultsButton"), Qt::LeftButton);
    QString clip = QGuiApplication::clipboard()->text();
    QStringList lines = clip.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QStringLiteral("order\tdate\tshop\taddress\ttotal\tnote\tuid"));
    QCOMPARE(lines[1].section(u'\t', 0, 0), QStringLiteral("55120"));
    QCOMPARE(lines[4], QString());
    // Sorted by total (a number column: by its number), the copy and the saves follow the grid.
    auto *grid = child<QTableView>(w, "resultsGrid");
    grid->sortByColumn(4, Qt::DescendingOrder);
    QTest::mouseClick(child<QPushButton>(w, "copyResultsButton"), Qt::LeftButton);
    lines = QGuiApplication::clipboard()->text().split(QStringLiteral("\r\n"));
    QCOMPARE(lines[1].section(u'\t', 4, 4), QStringLiteral("1 607,00"));
    QCOMPARE(lines[2].section(u'\t', 4, 4), QStringLiteral("42.10"));
    QCOMPARE(lines[3].section(u'\t', 4, 4), QStringLiteral("26,30"));
    dialogs.saveNames << dir_.filePath(QStringLiteral("sorted.csv"));
    QTest::mouseClick(child<QPushButton>(w, "saveCsvButton"), Qt::LeftButton);
    QCOMPARE(test::readFile(dir_.filePath("sorted.csv")),
             records::recordBytes(records::RecordFormat::Csv, columns, {all[2], all[1], all[0]}, {}));

    // A save that cannot be written says why in a box.
    dialogs.saveNames << dir_.filePath(QStringLiteral("missing/rows.csv"));
    QTest::mouseClick(child<QPushButton>(w, "saveCsvButton"), Qt::LeftButton);
    QCOMPARE(dialogs.texts().size(), 1);
    QVERIFY2(dialogs.texts().first().contains(QLatin1String("missing")), qPrintable(dialogs.texts().first()));
    QCOMPARE(dialogs.boxes.last().icon, BoxIcon::Warning);
}

QTEST_MAIN(FieldsWindowTest)
#include "test_fields_window.moc"
