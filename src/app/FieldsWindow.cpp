#include "app/FieldsWindow.h"

#include "app/AttachmentSettings.h"
#include "app/FieldsWindowEditor.h"
#include "app/FieldsWindowPreview.h"
#include "app/FieldsWindowResults.h"
#include "app/SettingsStore.h"
#include "core/Dialogs.h"
#include "output/ResultsOutput.h"
#include "rules/Patterns.h"
#include "rules/TemplateFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vc {

using records::FieldKind;
using records::FieldSpec;

namespace {

QPushButton *button(const char *name, const QString &caption)
{
    auto *b = new QPushButton(caption);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

// What the table shows of a field's parameters and options.
QString summary(const FieldSpec &f)
{
    const auto quoted = [](const QString &s) {
        return u'"'
               + QString(s).replace(QLatin1String("\r\n"), QLatin1String("\\n")).replace(u'\n', QLatin1String("\\n"))
               + u'"';
    };
    QString text;
    switch (f.kind) {
    case FieldKind::Between:
        text = quoted(f.parameter) + QStringLiteral(" to ")
               + (f.end == QLatin1String("\n") ? QStringLiteral("the end of the line") : quoted(f.end));
        break;
    case FieldKind::Regex: text = f.parameter; break;
    case FieldKind::Line:
        text = quoted(f.parameter) + (f.wholeLine ? QStringLiteral(", the whole line") : QString());
        break;
    case FieldKind::Header:
    case FieldKind::Builtin: text = f.parameter; break;
    case FieldKind::Pattern:
        if (const records::ReadyPattern *p = records::findPattern(f.parameter))
            text = p->caption;
        break;
    }
    QStringList options;
    if (f.all)
        options << QStringLiteral("every match");
    if (f.caseInsensitive)
        options << QStringLiteral("ignoring case");
    if (f.required)
        options << QStringLiteral("required");
    if (f.source == records::FieldSource::Attachments)
        options << QStringLiteral("in attachments");
    if (!f.defaultText.isEmpty())
        options << QStringLiteral("default ") + quoted(f.defaultText);
    if (f.type != records::CellType::Text)
        options << records::cellTypeName(f.type);
    return options.isEmpty() ? text : text + QStringLiteral("  (") + options.join(QStringLiteral(", ")) + u')';
}

}  // namespace

FieldsWindow::FieldsWindow()
{
    setObjectName(QStringLiteral("FieldsWindow"));
    setWindowTitle(QStringLiteral("Extract Fields"));
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowIcon(QApplication::windowIcon());
    resize(960, 860);

    openButton_ = button("openTemplateButton", QStringLiteral("Open Template..."));
    saveButton_ = button("saveTemplateButton", QStringLiteral("Save Template..."));
    rowsMode_ = new QComboBox;
    rowsMode_->setObjectName(QStringLiteral("rowsMode"));
    rowsMode_->addItem(QStringLiteral("one row per message"), QStringLiteral("message"));
    rowsMode_->addItem(QStringLiteral("one row per match of"), QStringLiteral("match"));
    repeat_ = new QComboBox;
    repeat_->setObjectName(QStringLiteral("repeatField"));
    skipEmpty_ = new QCheckBox(QStringLiteral("Leave out messages where nothing matched"));
    skipEmpty_->setObjectName(QStringLiteral("skipEmpty"));
    unique_ = new QCheckBox(QStringLiteral("Each row once"));
    unique_->setObjectName(QStringLiteral("uniqueRows"));
    attachments_ = new QCheckBox(QStringLiteral("Search the text of &attachments"));
    attachments_->setObjectName(QStringLiteral("attachmentsBox"));
    attachments_->setToolTip(QStringLiteral("The text of each attachment (text, CSV, HTML, PDF, attached messages) "
                                            "joins the message's text, after the body"));
    attachments_->setChecked(attachmentTextWanted());
    templateError_ = new QLabel;
    templateError_->setObjectName(QStringLiteral("templateError"));
    templateError_->setStyleSheet(QStringLiteral("color: #b00020;"));
    templateError_->setWordWrap(true);

    table_ = new QTableWidget(0, 3);
    table_->setObjectName(QStringLiteral("fieldsTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Kind"), QStringLiteral("Parameters")});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->setColumnWidth(0, 140);
    table_->setColumnWidth(1, 160);
    addButton_ = button("addFieldButton", QStringLiteral("Add Field"));
    removeButton_ = button("removeFieldButton", QStringLiteral("Remove Field"));
    upButton_ = button("moveFieldUpButton", QStringLiteral("Move Up"));
    downButton_ = button("moveFieldDownButton", QStringLiteral("Move Down"));
    editor_ = new FieldEditor;
    preview_ = new FieldsPreview;
    results_ = new FieldsResults;
    startButton_ = button("startButton", kStartCaption);
    closeButton_ = button("closeButton", QStringLiteral("Close This Window"));

    auto *top = new QHBoxLayout;
    top->addWidget(openButton_);
    top->addWidget(saveButton_);
    top->addSpacing(16);
    auto *rowsLabel = new QLabel(QStringLiteral("&Rows:"));
    rowsLabel->setObjectName(QStringLiteral("rowsLabel"));
    rowsLabel->setBuddy(rowsMode_);
    top->addWidget(rowsLabel);
    top->addWidget(rowsMode_);
    top->addWidget(repeat_);
    top->addWidget(skipEmpty_);
    top->addWidget(unique_);
    top->addWidget(attachments_);
    top->addStretch();
    auto *commands = new QVBoxLayout;
    for (QPushButton *b : {addButton_, removeButton_, upButton_, downButton_})
        commands->addWidget(b);
    commands->addStretch();
    auto *fields = new QWidget;
    fields->setObjectName(QStringLiteral("fieldsFrame"));
    auto *fieldsLayout = new QGridLayout(fields);
    fieldsLayout->setContentsMargins(0, 0, 0, 0);
    fieldsLayout->addWidget(table_, 0, 0);
    fieldsLayout->addLayout(commands, 0, 1);
    fieldsLayout->addWidget(editor_, 1, 0, 1, 2);
    auto *split = new QSplitter(Qt::Vertical);
    split->setObjectName(QStringLiteral("fieldsSplitter"));
    split->addWidget(fields);
    split->addWidget(preview_);
    split->addWidget(results_);
    split->setStretchFactor(0, 5);
    split->setStretchFactor(1, 3);
    split->setStretchFactor(2, 3);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(startButton_);
    bottom->addStretch();
    bottom->addWidget(closeButton_);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(templateError_);
    layout->addWidget(split, 1);
    layout->addLayout(bottom);

    connect(addButton_, &QPushButton::clicked, this, &FieldsWindow::addField);
    connect(removeButton_, &QPushButton::clicked, this, &FieldsWindow::removeField);
    connect(upButton_, &QPushButton::clicked, this, [this] { moveField(-1); });
    connect(downButton_, &QPushButton::clicked, this, [this] { moveField(1); });
    connect(openButton_, &QPushButton::clicked, this, &FieldsWindow::openTemplate);
    connect(saveButton_, &QPushButton::clicked, this, &FieldsWindow::saveTemplate);
    connect(startButton_, &QPushButton::clicked, this, &FieldsWindow::startExtracting);
    connect(closeButton_, &QPushButton::clicked, this, &QWidget::close);
    connect(results_, &FieldsResults::rowOpened, this, &FieldsWindow::openSource);
    connect(editor_, &FieldEditor::edited, this, &FieldsWindow::fieldEdited);
    connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) { selectField(row); });
    connect(rowsMode_, &QComboBox::currentIndexChanged, this, &FieldsWindow::rowsEdited);
    connect(repeat_, &QComboBox::currentIndexChanged, this, &FieldsWindow::rowsEdited);
    connect(skipEmpty_, &QCheckBox::toggled, this, &FieldsWindow::rowsEdited);
    connect(unique_, &QCheckBox::toggled, this, &FieldsWindow::rowsEdited);
    connect(attachments_, &QCheckBox::toggled, this, [this](bool on) {
        setAttachmentTextWanted(on);
        // The preview's messages were read without (or with) their attachments' text.
        if (!preview_->records().isEmpty())
            requestPreview();
    });
    load();
}

FieldsWindow::~FieldsWindow() = default;

// The template the user last had, as the settings store keeps it.
void FieldsWindow::load()
{
    const records::TemplateRead stored =
        records::parseTemplate(settings::readText(settings::key::FieldsTemplate).toUtf8());
    spec_ = stored.ok() ? stored.spec : records::TemplateSpec();
    const QString file = settings::readText(settings::key::FieldsTemplateFile);
    if (!file.isEmpty())
        setWindowTitle(QStringLiteral("Extract Fields - ") + QFileInfo(file).fileName());
    fillTable();
    fillRowsControls();
    selectField(spec_.fields.isEmpty() ? -1 : 0);
    templateChanged(false);
}

void FieldsWindow::setTemplateSpec(const records::TemplateSpec &spec)
{
    spec_ = spec;
    fillTable();
    fillRowsControls();
    selectField(spec_.fields.isEmpty() ? -1 : 0);
    templateChanged();
}

void FieldsWindow::setPreviewRecords(QList<MailRecord> records)
{
    preview_->setRecords(std::move(records));
    templateChanged(false);
}

void FieldsWindow::showAttachmentText(bool on)
{
    const QSignalBlocker block(attachments_);
    attachments_->setChecked(on);
}

void FieldsWindow::clearResults()
{
    results_->setColumns(compiled_ ? compiled_->columns() : QList<records::Column>(), spec_.name);
}

void FieldsWindow::appendResults(const QList<records::Row> &rows)
{
    results_->append(rows);
}

void FieldsWindow::appendResults(const QList<records::Row> &rows, const RowOrigin &source)
{
    results_->append(rows, source);
}

int FieldsWindow::currentField() const
{
    const int row = table_->currentRow();
    return row >= 0 && row < spec_.fields.size() ? row : -1;
}

void FieldsWindow::fillTable()
{
    filling_ = true;
    table_->setRowCount(int(spec_.fields.size()));
    for (int i = 0; i < spec_.fields.size(); ++i) {
        const FieldSpec &f = spec_.fields.at(i);
        const QStringList cells = {f.name, FieldEditor::kindCaption(f.kind), summary(f)};
        for (int c = 0; c < 3; ++c) {
            QTableWidgetItem *item = table_->item(i, c);
            if (!item) {
                item = new QTableWidgetItem;
                table_->setItem(i, c, item);
            }
            item->setText(cells.at(c));
        }
    }
    filling_ = false;
}

void FieldsWindow::fillRowsControls()
{
    filling_ = true;
    rowsMode_->setCurrentIndex(spec_.rows == records::RowsMode::Match ? 1 : 0);
    skipEmpty_->setChecked(spec_.skipEmpty);
    unique_->setChecked(spec_.unique);
    unique_->setToolTip(
        spec_.uniqueBy.isEmpty()
            ? QStringLiteral("Rows with the same values in every column are listed once")
            : QStringLiteral("Rows with the same %1 are listed once").arg(spec_.uniqueBy.join(QStringLiteral(", "))));
    filling_ = false;
}

void FieldsWindow::selectField(int row)
{
    const bool wasFilling = filling_;
    filling_ = true;
    if (table_->currentRow() != row)
        table_->setCurrentCell(row, 0);
    editor_->setEnabled(row >= 0);
    if (row >= 0 && row < spec_.fields.size()) {
        editor_->setField(spec_.fields.at(row));
        QString problem;
        for (const records::TemplateProblem &p : problems_)
            if (p.field == row)
                problem += (problem.isEmpty() ? QString() : QStringLiteral("\n")) + p.message;
        editor_->showProblem(problem);
    } else {
        editor_->setField(FieldSpec());
        editor_->showProblem(QString());
    }
    removeButton_->setEnabled(row >= 0);
    upButton_->setEnabled(row > 0);
    downButton_->setEnabled(row >= 0 && row + 1 < spec_.fields.size());
    filling_ = wasFilling;
}

void FieldsWindow::fieldEdited()
{
    const int row = currentField();
    if (filling_ || row < 0)
        return;
    spec_.fields[row] = editor_->field();
    fillTable();
    templateChanged();
}

void FieldsWindow::rowsEdited()
{
    if (filling_)
        return;
    spec_.rows = rowsMode_->currentIndex() == 1 ? records::RowsMode::Match : records::RowsMode::Message;
    // One row per match of the chosen field; the first field until one is chosen.
    QString repeat = repeat_->currentText();
    if (repeat.isEmpty() && repeat_->count() > 0)
        repeat = repeat_->itemText(0);
    spec_.repeat = spec_.rows == records::RowsMode::Match ? repeat : QString();
    spec_.skipEmpty = skipEmpty_->isChecked();
    if (unique_->isChecked() != spec_.unique) {
        spec_.unique = unique_->isChecked();
        spec_.uniqueBy.clear();  // every column counts once the user sets it here
    }
    fillRowsControls();
    templateChanged();
}

void FieldsWindow::templateChanged(bool store)
{
    const records::TemplateCompile c = records::compileTemplate(spec_);
    compiled_ = c.compiled;
    problems_ = c.problems;

    // Each field's problems beside it: in its row, and in the editor when it is selected.
    QSet<int> failing;
    QStringList general;
    for (const records::TemplateProblem &p : problems_) {
        if (p.field >= 0)
            failing.insert(p.field);
        else
            general << p.message;
    }
    for (int i = 0; i < table_->rowCount(); ++i)
        for (int col = 0; col < 3; ++col) {
            QTableWidgetItem *item = table_->item(i, col);
            if (!item)
                continue;
            item->setForeground(failing.contains(i) ? QBrush(QColor(0xb0, 0x00, 0x20)) : QBrush());
            QString tip;
            for (const records::TemplateProblem &p : problems_)
                if (p.field == i)
                    tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + p.message;
            item->setToolTip(tip);
        }
    const int row = currentField();
    QString problem;
    for (const records::TemplateProblem &p : problems_)
        if (p.field == row && row >= 0)
            problem += (problem.isEmpty() ? QString() : QStringLiteral("\n")) + p.message;
    editor_->showProblem(problem);
    templateError_->setText(general.join(QLatin1Char('\n')));
    templateError_->setVisible(!general.isEmpty());

    // The preview goes on with the fields that can be used while one is being fixed.
    if (compiled_) {
        preview_->apply(&*compiled_);
    } else {
        records::TemplateSpec usable = spec_;
        usable.fields.clear();
        for (int i = 0; i < spec_.fields.size(); ++i)
            if (!failing.contains(i))
                usable.fields << spec_.fields.at(i);
        const records::TemplateCompile partial = records::compileTemplate(usable);
        if (partial.ok())
            preview_->apply(&*partial.compiled);
        else
            preview_->apply(nullptr, records::problemsText(problems_));
    }

    // The repeat list: every column name the fields give.
    filling_ = true;
    const QString repeat = spec_.repeat;
    QStringList names;
    for (const FieldSpec &f : spec_.fields)
        if (!f.name.isEmpty() && !names.contains(f.name))
            names << f.name;
    if (compiled_)
        for (const QString &n : compiled_->columnNames())
            if (!names.contains(n))
                names << n;
    if (!repeat.isEmpty() && !names.contains(repeat))
        names << repeat;
    repeat_->clear();
    repeat_->addItems(names);
    repeat_->setCurrentIndex(int(names.indexOf(repeat)));
    repeat_->setEnabled(spec_.rows == records::RowsMode::Match);
    filling_ = false;

    if (store)
        settings::save(settings::key::FieldsTemplate, QString::fromUtf8(records::templateJson(spec_)));
}

void FieldsWindow::closeEvent(QCloseEvent *event)
{
    // Only hides: the window and its entries stay until the program ends.
    event->accept();
}

}  // namespace vc
