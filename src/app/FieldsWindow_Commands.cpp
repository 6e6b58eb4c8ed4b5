// The fields window's commands: the field list, the template file, "Start
// Extracting", and the hooks through which the program runs a template and
// feeds the preview.
#include "app/FieldsWindow.h"

#include "app/FieldsWindowPreview.h"
#include "app/SettingsStore.h"
#include "core/Dialogs.h"
#include "output/ResultsOutput.h"
#include "rules/TemplateFile.h"

#include <QFileInfo>
#include <QPushButton>
#include <QSet>
#include <QShowEvent>
#include <QTableWidget>

namespace vc {

using records::FieldKind;
using records::FieldSpec;

namespace {

FieldsWindow::StartAction &startAction()
{
    static FieldsWindow::StartAction action;
    return action;
}

FieldsWindow::PreviewRequest &previewRequest()
{
    static FieldsWindow::PreviewRequest request;
    return request;
}

FieldsWindow::SourceAction &sourceAction()
{
    static FieldsWindow::SourceAction action;
    return action;
}

QPointer<FieldsWindow> &slot()
{
    static QPointer<FieldsWindow> window;
    return window;
}

const QString kTemplateFilter = QStringLiteral("Templates (*.json)|*.json|All Files (*.*)|*.*|");

}  // namespace

void FieldsWindow::setStartAction(StartAction action)
{
    startAction() = std::move(action);
}

void FieldsWindow::setPreviewRequest(PreviewRequest request)
{
    previewRequest() = std::move(request);
}

void FieldsWindow::setSourceAction(SourceAction action)
{
    sourceAction() = std::move(action);
}

void FieldsWindow::openSource(const RowOrigin &source, const QStringList &cells)
{
    if (sourceAction())
        sourceAction()(source, cells);
}

void FieldsWindow::requestPreview()
{
    if (!previewRequest())
        return;
    previewAsked_ = true;
    previewRequest()(this);
}

FieldsWindow *FieldsWindow::instance()
{
    if (!slot())
        slot() = new FieldsWindow;
    return slot().data();
}

FieldsWindow *FieldsWindow::open()
{
    FieldsWindow *w = instance();
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

FieldsWindow *FieldsWindow::existing()
{
    return slot().data();
}

void FieldsWindow::destroyInstance()
{
    delete slot().data();
}

void FieldsWindow::addField()
{
    QSet<QString> taken;
    for (const FieldSpec &f : spec_.fields)
        taken.insert(f.name);
    int n = int(spec_.fields.size()) + 1;
    while (taken.contains(QStringLiteral("field%1").arg(n)))
        ++n;
    FieldSpec f;
    f.name = QStringLiteral("field%1").arg(n);
    f.kind = FieldKind::Pattern;  // usable at once: every field can be previewed while it is set up
    f.parameter = QStringLiteral("email");
    const int at = currentField() < 0 ? int(spec_.fields.size()) : currentField() + 1;
    spec_.fields.insert(at, f);
    fillTable();
    templateChanged();
    selectField(at);
}

void FieldsWindow::removeField()
{
    const int row = currentField();
    if (row < 0)
        return;
    spec_.fields.removeAt(row);
    fillTable();
    templateChanged();
    selectField(qMin(row, int(spec_.fields.size()) - 1));
}

void FieldsWindow::moveField(int by)
{
    const int row = currentField();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= spec_.fields.size())
        return;
    spec_.fields.move(row, to);
    fillTable();
    templateChanged();
    selectField(to);
}

void FieldsWindow::openTemplate()
{
    const QStringList names = dialogs().openFileNames(QStringLiteral("Open Template"), kTemplateFilter);
    if (names.isEmpty())
        return;
    const records::TemplateRead read = records::readTemplateFile(names.first());
    if (!read.ok()) {
        // Nothing changes: the file is not a template this window can show.
        QStringList lines;
        for (const records::TemplateProblem &p : read.problems)
            lines << p.text();
        dialogs().messageBox(QStringLiteral("This file cannot be opened as a template:\r") + lines.join(u'\r'),
                             BoxButtons::Ok, BoxIcon::Warning);
        return;
    }
    settings::save(settings::key::FieldsTemplateFile, names.first());
    setWindowTitle(QStringLiteral("Extract Fields - ") + QFileInfo(names.first()).fileName());
    setTemplateSpec(read.spec);
}

void FieldsWindow::saveTemplate()
{
    QString path = dialogs().saveFileName(QStringLiteral("Save Template"), kTemplateFilter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".json");
    if (QFileInfo::exists(path)
        && dialogs().messageBox(output::overwriteQuestion(path), BoxButtons::YesNo) != BoxAnswer::Yes)
        return;
    const QString error = records::writeTemplateFile(path, spec_);
    if (!error.isEmpty()) {
        dialogs().messageBox(error, BoxButtons::Ok, BoxIcon::Warning);
        return;
    }
    settings::save(settings::key::FieldsTemplateFile, path);
    setWindowTitle(QStringLiteral("Extract Fields - ") + QFileInfo(path).fileName());
}

void FieldsWindow::startExtracting()
{
    // A stop request always goes through.
    if (startButton_->text() != kStartCaption) {
        if (startAction())
            startAction()(startButton_, kStartCaption, this);
        return;
    }
    if (!compiled_) {
        QStringList lines;
        for (const records::TemplateProblem &p : problems_)
            lines << p.text();
        dialogs().messageBox(QStringLiteral("The template cannot be used:\r") + lines.join(u'\r'), BoxButtons::Ok,
                             BoxIcon::Warning);
        return;
    }
    if (startAction())
        startAction()(startButton_, kStartCaption, this);
}

void FieldsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (preview_->records().isEmpty() && !previewAsked_ && previewRequest()) {
        previewAsked_ = true;
        previewRequest()(this);
    }
}

}  // namespace vc
