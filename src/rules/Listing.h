#pragma once
#include "core/MailRecord.h"
#include "rules/ResultsModel.h"

#include <QString>
#include <QStringList>

namespace vc {

// The extraction rules a run can apply.
enum class Rule { AllEmailData, Containing, ContainingList, NotContaining, StartsWith, LineNumber };

// The six rule members of the main window; during a run exactly one is set.
struct RuleMembers {
    bool mExtractAllEmailData = false;
    bool mExtractAllEmailDataContaining = false;
    bool mExtractAllEmailDataContaininglist = false;
    bool mExtractAllEmailDataNotContaining = false;
    bool mExtractAllEmailDataStartsWith = false;
    bool mExtractAllEmailDataLineNumber = false;

    // Sets the member of `rule` and clears the other five.
    void select(Rule rule);
};

// The rules' parameters, read afresh at every use (the windows may change them
// during a run; the command-line program gives fixed values).
class RuleParams {
public:
    virtual ~RuleParams() = default;
    virtual QString containingText() const = 0;     // Text1
    virtual QString notContainingText() const = 0;  // Text2
    virtual QString lineNumbers() const = 0;        // Text5
    virtual QString startMarker() const = 0;        // Form2.Text3
    virtual QString endMarker() const = 0;          // Form2.Text4
    virtual QStringList textSet() const = 0;        // Form3.Combo1 items
    virtual bool showDuplicates() const = 0;        // Check3
};

// Fixed parameters (the command-line program, tests).
struct FixedRuleParams : RuleParams {
    QString containing, notContaining, lines, start, end;
    QStringList items;
    bool duplicates = false;
    QString containingText() const override { return containing; }
    QString notContainingText() const override { return notContaining; }
    QString lineNumbers() const override { return lines; }
    QString startMarker() const override { return start; }
    QString endMarker() const override { return end; }
    QStringList textSet() const override { return items; }
    bool showDuplicates() const override { return duplicates; }
};

// Turns one delivered message into rows of the results list by the rule whose
// member is set (oChilkat_MailExtractListing). Failures inside a rule show the
// "Application Error" box and the handler goes on with its next step.
void listMessage(const MailRecord &message, const RuleMembers &members, const RuleParams &params,
                 ResultsModel &results);

}  // namespace vc
