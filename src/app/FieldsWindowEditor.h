#pragma once
#include "rules/TemplateSpec.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QStackedWidget;

namespace vc {

// The fields window's editor of one field: its name and kind, the kind's
// parameters (markers, expression, label, header name, builtin, pattern) and
// its options, with the field's problem shown beside it. Says edited() after
// every change the user makes; setField() fills it without saying so.
class FieldEditor : public QGroupBox {
    Q_OBJECT
public:
    explicit FieldEditor(QWidget *parent = nullptr);

    void setField(const records::FieldSpec &field);
    records::FieldSpec field() const;
    // The field's problem ("the regular expression does not compile ..."), or
    // an empty text for none.
    void showProblem(const QString &problem);
    QString problem() const;

    // The captions the kind list shows, by kind.
    static QString kindCaption(records::FieldKind kind);

Q_SIGNALS:
    void edited();

private:
    void showKind();
    void changed();

    QLineEdit *name_;
    QComboBox *kind_;
    QStackedWidget *pages_;
    QLineEdit *betweenStart_, *betweenEnd_;
    QCheckBox *betweenEndOfLine_;
    QLineEdit *regex_;
    QLineEdit *lineLabel_;
    QCheckBox *lineWhole_;
    QComboBox *header_, *builtin_, *pattern_;
    QLabel *problem_;
    QCheckBox *ignoreCase_, *trim_, *collapse_, *all_, *required_;
    QLineEdit *separator_, *default_;
    QComboBox *type_, *source_;
    QString description_;  // kept from the file, not shown
    bool filling_ = false;
};

}  // namespace vc
