#include "app/FieldsWindowEditor.h"

#include "rules/Patterns.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>

namespace vc {

using records::FieldKind;

namespace {

constexpr FieldKind kKinds[] = {FieldKind::Between, FieldKind::Regex,   FieldKind::Line,
                                FieldKind::Header,  FieldKind::Builtin, FieldKind::Pattern};

template <class W>
W *named(W *w, const char *name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QLineEdit *lineEdit(const char *name, const QString &placeholder = QString())
{
    auto *e = named(new QLineEdit, name);
    e->setPlaceholderText(placeholder);
    return e;
}

// A marker as its one-line box shows it, and back: "\n" stands for a line end.
QString typedMarker(const QString &marker)
{
    return QString(marker).replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\n', QLatin1String("\\n"));
}
QString markerOf(const QString &typed)
{
    return QString(typed).replace(QLatin1String("\\n"), QLatin1String("\n"));
}

// A caption before a control, labelling it (its buddy) for keyboard users.
QLabel *caption(const char *name, const QString &text, QWidget *buddy = nullptr)
{
    auto *l = named(new QLabel(text), name);
    l->setBuddy(buddy);
    return l;
}

QWidget *page(const char *name, QFormLayout **form)
{
    auto *w = new QWidget;
    w->setObjectName(QString::fromLatin1(name));
    *form = new QFormLayout(w);
    (*form)->setContentsMargins(0, 0, 0, 0);
    return w;
}

}  // namespace

QString FieldEditor::kindCaption(FieldKind kind)
{
    switch (kind) {
    case FieldKind::Between: return QStringLiteral("Between markers");
    case FieldKind::Regex: return QStringLiteral("Regular expression");
    case FieldKind::Line: return QStringLiteral("Line with a label");
    case FieldKind::Header: return QStringLiteral("Header field");
    case FieldKind::Builtin: return QStringLiteral("Where it came from");
    case FieldKind::Pattern: return QStringLiteral("Ready-made pattern");
    }
    return {};
}

FieldEditor::FieldEditor(QWidget *parent) : QGroupBox(QStringLiteral("Field"), parent)
{
    setObjectName(QStringLiteral("fieldEditor"));
    name_ = lineEdit("fieldName", QStringLiteral("column name"));
    kind_ = named(new QComboBox, "fieldKind");
    for (FieldKind k : kKinds)
        kind_->addItem(kindCaption(k), records::kindName(k));

    pages_ = named(new QStackedWidget, "fieldParameters");
    QFormLayout *form = nullptr;
    // Between markers.
    QWidget *between = page("betweenPage", &form);
    betweenStart_ = lineEdit("betweenStart", QStringLiteral("Order #"));
    betweenEnd_ = lineEdit("betweenEnd", QStringLiteral("the end marker"));
    betweenEndOfLine_ = named(new QCheckBox(QStringLiteral("to the end of the line")), "betweenEndOfLine");
    auto *endRow = new QHBoxLayout;
    endRow->addWidget(betweenEnd_);
    endRow->addWidget(betweenEndOfLine_);
    form->addRow(caption("betweenStartLabel", QStringLiteral("&Start:"), betweenStart_), betweenStart_);
    form->addRow(caption("betweenEndLabel", QStringLiteral("&End:"), betweenEnd_), endRow);
    pages_->addWidget(between);
    // Regular expression.
    QWidget *regex = page("regexPage", &form);
    regex_ = lineEdit("regexPattern", QStringLiteral("Total:\\s*([0-9.,]+)  (group 1, or (?<name>...) groups)"));
    form->addRow(caption("regexLabel", QStringLiteral("E&xpression:"), regex_), regex_);
    pages_->addWidget(regex);
    // Line with a label.
    QWidget *line = page("linePage", &form);
    lineLabel_ = lineEdit("lineLabel", QStringLiteral("Total:"));
    lineWhole_ = named(new QCheckBox(QStringLiteral("the whole line")), "lineWhole");
    auto *lineRow = new QHBoxLayout;
    lineRow->addWidget(lineLabel_);
    lineRow->addWidget(lineWhole_);
    form->addRow(caption("lineLabelLabel", QStringLiteral("&Label:"), lineLabel_), lineRow);
    pages_->addWidget(line);
    // Header field.
    QWidget *header = page("headerPage", &form);
    header_ = named(new QComboBox, "headerName");
    header_->setEditable(true);
    header_->addItems({"From", "To", "Cc", "Reply-To", "Subject", "Date", "Message-ID", "List-Id"});
    form->addRow(caption("headerLabel", QStringLiteral("&Header:"), header_), header_);
    pages_->addWidget(header);
    // Builtin.
    QWidget *builtin = page("builtinPage", &form);
    builtin_ = named(new QComboBox, "builtinName");
    builtin_->addItems(records::builtinNames());
    form->addRow(caption("builtinLabel", QStringLiteral("&Value:"), builtin_), builtin_);
    pages_->addWidget(builtin);
    // Ready-made pattern: the pattern picker.
    QWidget *pattern = page("patternPage", &form);
    pattern_ = named(new QComboBox, "patternName");
    for (const records::ReadyPattern &p : records::readyPatterns())
        pattern_->addItem(p.caption, p.name);
    form->addRow(caption("patternLabel", QStringLiteral("&Pattern:"), pattern_), pattern_);
    pages_->addWidget(pattern);

    problem_ = named(new QLabel, "fieldError");
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #b00020;"));
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    ignoreCase_ = named(new QCheckBox(QStringLiteral("Ignore case")), "optionIgnoreCase");
    trim_ = named(new QCheckBox(QStringLiteral("Trim")), "optionTrim");
    collapse_ = named(new QCheckBox(QStringLiteral("Collapse white space")), "optionCollapse");
    required_ = named(new QCheckBox(QStringLiteral("Required")), "optionRequired");
    required_->setToolTip(QStringLiteral("A message where this field finds nothing gives no row"));
    all_ = named(new QCheckBox(QStringLiteral("Every match, joined by")), "optionAll");
    separator_ = lineEdit("optionSeparator");
    separator_->setMaximumWidth(120);
    default_ = lineEdit("optionDefault", QStringLiteral("when nothing matched"));
    type_ = named(new QComboBox, "optionType");
    type_->addItem(QStringLiteral("text"), QStringLiteral("text"));
    type_->addItem(QStringLiteral("number"), QStringLiteral("number"));
    type_->addItem(QStringLiteral("date"), QStringLiteral("date"));
    source_ = named(new QComboBox, "optionSource");
    source_->addItem(QStringLiteral("the message's text"), QStringLiteral("body"));
    source_->addItem(QStringLiteral("its attachments' text"), QStringLiteral("attachments"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(caption("fieldNameLabel", QStringLiteral("&Name:"), name_), 0, 0);
    grid->addWidget(name_, 0, 1);
    grid->addWidget(caption("fieldKindLabel", QStringLiteral("&Kind:"), kind_), 0, 2);
    grid->addWidget(kind_, 0, 3);
    grid->addWidget(pages_, 1, 0, 1, 4);
    grid->addWidget(problem_, 2, 0, 1, 4);
    auto *flags = new QHBoxLayout;
    for (QWidget *w : {static_cast<QWidget *>(ignoreCase_), static_cast<QWidget *>(trim_),
                       static_cast<QWidget *>(collapse_), static_cast<QWidget *>(required_)})
        flags->addWidget(w);
    flags->addStretch();
    grid->addLayout(flags, 3, 0, 1, 4);
    auto *values = new QHBoxLayout;
    values->addWidget(all_);
    values->addWidget(separator_);
    values->addWidget(caption("optionDefaultLabel", QStringLiteral("&Default:"), default_));
    values->addWidget(default_);
    grid->addLayout(values, 4, 0, 1, 4);
    auto *cell = new QHBoxLayout;
    cell->addWidget(caption("optionTypeLabel", QStringLiteral("Cell &type:"), type_));
    cell->addWidget(type_);
    cell->addWidget(caption("optionSourceLabel", QStringLiteral("Se&arch:"), source_));
    cell->addWidget(source_);
    cell->addStretch();
    grid->addLayout(cell, 5, 0, 1, 4);

    for (QLineEdit *e : {name_, betweenStart_, betweenEnd_, regex_, lineLabel_, separator_, default_})
        connect(e, &QLineEdit::textEdited, this, &FieldEditor::changed);
    for (QCheckBox *c : {betweenEndOfLine_, lineWhole_, ignoreCase_, trim_, collapse_, all_, required_})
        connect(c, &QCheckBox::toggled, this, &FieldEditor::changed);
    for (QComboBox *c : {kind_, builtin_, pattern_, type_, source_})
        connect(c, &QComboBox::currentIndexChanged, this, &FieldEditor::changed);
    connect(header_, &QComboBox::currentTextChanged, this, &FieldEditor::changed);
    showKind();
}

void FieldEditor::setField(const records::FieldSpec &f)
{
    filling_ = true;
    name_->setText(f.name);
    kind_->setCurrentIndex(kind_->findData(records::kindName(f.kind)));
    betweenStart_->clear();
    betweenEnd_->clear();
    betweenEndOfLine_->setChecked(false);
    regex_->clear();
    lineLabel_->clear();
    lineWhole_->setChecked(false);
    switch (f.kind) {
    case FieldKind::Between: {
        betweenStart_->setText(typedMarker(f.parameter));
        const bool endOfLine = f.end == QLatin1String("\n");
        betweenEndOfLine_->setChecked(endOfLine);
        betweenEnd_->setText(endOfLine ? QString() : typedMarker(f.end));
        break;
    }
    case FieldKind::Regex: regex_->setText(f.parameter); break;
    case FieldKind::Line:
        lineLabel_->setText(f.parameter);
        lineWhole_->setChecked(f.wholeLine);
        break;
    case FieldKind::Header: header_->setCurrentText(f.parameter); break;
    case FieldKind::Builtin: builtin_->setCurrentIndex(qMax(0, builtin_->findText(f.parameter))); break;
    case FieldKind::Pattern: pattern_->setCurrentIndex(qMax(0, pattern_->findData(f.parameter))); break;
    }
    ignoreCase_->setChecked(f.caseInsensitive);
    trim_->setChecked(f.trim);
    collapse_->setChecked(f.collapseWhitespace);
    required_->setChecked(f.required);
    all_->setChecked(f.all);
    separator_->setText(f.separator);
    default_->setText(f.defaultText);
    type_->setCurrentIndex(type_->findData(records::cellTypeName(f.type)));
    source_->setCurrentIndex(f.source == records::FieldSource::Attachments ? 1 : 0);
    description_ = f.description;
    showKind();
    filling_ = false;
}

records::FieldSpec FieldEditor::field() const
{
    records::FieldSpec f;
    f.name = name_->text();
    f.kind = records::kindFromName(kind_->currentData().toString()).value_or(FieldKind::Between);
    switch (f.kind) {
    case FieldKind::Between:
        f.parameter = markerOf(betweenStart_->text());
        f.end = betweenEndOfLine_->isChecked() ? QStringLiteral("\n") : markerOf(betweenEnd_->text());
        break;
    case FieldKind::Regex: f.parameter = regex_->text(); break;
    case FieldKind::Line:
        f.parameter = lineLabel_->text();
        f.wholeLine = lineWhole_->isChecked();
        break;
    case FieldKind::Header: f.parameter = header_->currentText().trimmed(); break;
    case FieldKind::Builtin: f.parameter = builtin_->currentText(); break;
    case FieldKind::Pattern: f.parameter = pattern_->currentData().toString(); break;
    }
    const bool searches = records::searchesText(f.kind);
    f.caseInsensitive = ignoreCase_->isEnabled() && ignoreCase_->isChecked();
    f.trim = trim_->isChecked();
    f.collapseWhitespace = collapse_->isChecked();
    f.required = required_->isChecked();
    f.all = all_->isEnabled() && all_->isChecked();
    f.separator = separator_->text();
    f.defaultText = default_->text();
    f.type = records::cellTypeFromName(type_->currentData().toString()).value_or(records::CellType::Text);
    f.source =
        searches && source_->currentIndex() == 1 ? records::FieldSource::Attachments : records::FieldSource::Body;
    f.description = description_;
    return f;
}

void FieldEditor::showProblem(const QString &problem)
{
    problem_->setText(problem);
    problem_->setVisible(!problem.isEmpty());
}

QString FieldEditor::problem() const
{
    return problem_->text();
}

// Only the options the kind takes can be set.
void FieldEditor::showKind()
{
    const FieldKind kind = records::kindFromName(kind_->currentData().toString()).value_or(FieldKind::Between);
    pages_->setCurrentIndex(kind_->currentIndex());
    const bool searches = records::searchesText(kind);
    ignoreCase_->setEnabled(searches && kind != FieldKind::Pattern);
    all_->setEnabled(kind != FieldKind::Builtin);
    source_->setEnabled(searches);
    betweenEnd_->setEnabled(!betweenEndOfLine_->isChecked());
}

void FieldEditor::changed()
{
    showKind();
    if (!filling_)
        Q_EMIT edited();
}

}  // namespace vc
