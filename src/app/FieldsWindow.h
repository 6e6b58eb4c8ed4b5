#pragma once
#include "core/MailRecord.h"
#include "rules/RecordRows.h"
#include "rules/ResultsModel.h"
#include "rules/Template.h"
#include "rules/TemplateSpec.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QLabel;
class QPushButton;
class QShowEvent;
class QTableWidget;

namespace vc {

class FieldEditor;
class FieldsPreview;
class FieldsResults;

// The fields window: a template edited as a table of fields (add, remove,
// move, a field editor with the pattern picker), opened from and saved to a
// template file, kept in the settings store at every edit; a live preview of
// its rows on a few messages; "Start Extracting" (Stop while a run goes) and
// a results grid of the run, copied or saved as CSV, XLSX or JSON lines.
//
// Created on first use and then only hidden when closed, like the rule
// windows. The program's run and the preview's messages come in through the
// two hooks below.
class FieldsWindow : public QWidget {
    Q_OBJECT
public:
    static inline const QString kStartCaption = QStringLiteral("Start Extracting");
    // How many messages of the selected folder the preview shows, from the first.
    static constexpr int kPreviewMessages = 20;

    // What "Start Extracting" does with the click once the template can be
    // used (a click while the caption reads otherwise, "Stop", is handed over
    // as it is): `button` toggles its caption as the main window's start
    // commands do; the run reads compiledTemplate() and feeds the results
    // (clearResults(), appendResults()). Without an action the click does nothing.
    using StartAction = std::function<void(QPushButton *button, const QString &normalCaption, FieldsWindow *window)>;
    static void setStartAction(StartAction action);
    // Asked, when the window is shown without preview messages, to fetch some
    // (the first 20 of the selected folder) and hand them to setPreviewRecords().
    using PreviewRequest = std::function<void(FieldsWindow *window)>;
    static void setPreviewRequest(PreviewRequest request);
    // What double-clicking a row of the results grid does: shows the message
    // the row came from (`cells`: the row's texts, the clicked one first).
    using SourceAction = std::function<void(const RowOrigin &source, const QStringList &cells)>;
    static void setSourceAction(SourceAction action);

    // The program's window, created and loaded (the stored template) on first use.
    static FieldsWindow *instance();
    // The window when it has been created, else null.
    static FieldsWindow *existing();
    // Shows the window (created if need be) and brings it to the front.
    static FieldsWindow *open();
    // Destroys the window (tests, program end); the next instance() loads anew.
    static void destroyInstance();

    FieldsWindow();
    ~FieldsWindow() override;

    // The template as the window holds it, and compiled (empty when it cannot be used).
    records::TemplateSpec templateSpec() const { return spec_; }
    const std::optional<records::Template> &compiledTemplate() const { return compiled_; }
    const QList<records::TemplateProblem> &problems() const { return problems_; }
    void setTemplateSpec(const records::TemplateSpec &spec);

    // The preview's messages, kept until new ones come.
    void setPreviewRecords(QList<MailRecord> records);
    // Asks for preview messages now (a connection has just been opened, the
    // folder changed); nothing without a preview request.
    void requestPreview();
    // The check box "Search the text of attachments" follows the stored choice.
    void showAttachmentText(bool on);

    // The run's rows: clearResults() takes the template's columns, then each
    // message's rows are appended as they come.
    void clearResults();
    void appendResults(const QList<records::Row> &rows);
    void appendResults(const QList<records::Row> &rows, const RowOrigin &source);

    // The parts, for the run wiring and tests.
    FieldEditor *editor() const { return editor_; }
    FieldsPreview *preview() const { return preview_; }
    FieldsResults *results() const { return results_; }
    QTableWidget *fieldsTable() const { return table_; }
    QPushButton *startButton() const { return startButton_; }

    // The commands.
    void addField();
    void removeField();
    void moveField(int by);
    void openTemplate();
    void saveTemplate();
    void startExtracting();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void load();
    void fieldEdited();
    void rowsEdited();
    void selectField(int row);
    // Compiles, shows every problem where it belongs, stores the template and refreshes the preview.
    void templateChanged(bool store = true);
    void openSource(const RowOrigin &source, const QStringList &cells);
    void fillTable();
    void fillRowsControls();
    int currentField() const;

    records::TemplateSpec spec_;
    std::optional<records::Template> compiled_;
    QList<records::TemplateProblem> problems_;
    bool filling_ = false;
    bool previewAsked_ = false;

    QTableWidget *table_;
    FieldEditor *editor_;
    FieldsPreview *preview_;
    FieldsResults *results_;
    QComboBox *rowsMode_, *repeat_;
    QCheckBox *skipEmpty_, *unique_, *attachments_;
    QLabel *templateError_;
    QPushButton *addButton_, *removeButton_, *upButton_, *downButton_;
    QPushButton *openButton_, *saveButton_, *startButton_, *closeButton_;
};

}  // namespace vc
