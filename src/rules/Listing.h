#pragma once
#include "core/MailRecord.h"
#include "rules/Rules.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace vc {

// The extraction rules a run can apply.
enum class Rule { AllEmailData, Containing, ContainingList, NotContaining, Between, LineNumber };

// One rule with its parameters: what a run applies to every message. The
// window fills it from its boxes for each message (an edit during a run
// applies to the messages after it); the command-line program from its options.
struct ExtractionRule {
    Rule rule = Rule::AllEmailData;
    QString containing;           // lines containing (Text1)
    QString notContaining;        // lines not containing (Text2)
    QString lineNumbers;          // lines by number (Text5)
    QString startMarker;          // between X (Form2.Text3) ...
    QString endMarker;            // ... and Y (Form2.Text4)
    QStringList textSet;          // text sets (Form3.Combo1 items)
    bool showDuplicates = false;  // between: list items listed already (Check3)
};

// The six rule members of the main window, as views of the rule of the
// current (or last) run: exactly one is true once a run has chosen its rule,
// none before the first.
struct RuleMembers {
    std::optional<Rule> rule;

    bool mExtractAllEmailData() const { return rule == Rule::AllEmailData; }
    bool mExtractAllEmailDataContaining() const { return rule == Rule::Containing; }
    bool mExtractAllEmailDataContaininglist() const { return rule == Rule::ContainingList; }
    bool mExtractAllEmailDataNotContaining() const { return rule == Rule::NotContaining; }
    bool mExtractAllEmailDataStartsWith() const { return rule == Rule::Between; }
    bool mExtractAllEmailDataLineNumber() const { return rule == Rule::LineNumber; }
};

// The rows one message gives by `rule`, in the order the rule gives them: a
// function of its inputs only. `alreadyListed` tells the between rule which
// items earlier messages have listed; the other rules ignore it. With
// RowText::Views the rows are views of the message's strings (see RowText).
QStringList rowsOf(const MailRecord &message, const ExtractionRule &rule,
                   const rules::ListedPredicate &alreadyListed = {}, rules::RowText rows = rules::RowText::Copies);

// The listing handler (oChilkat_MailExtractListing): rowsOf() under the
// program's error convention. A failure inside the rule shows the
// "Application Error" box with the rule's line, and the message gives no rows.
QStringList listMessage(const MailRecord &message, const ExtractionRule &rule,
                        const rules::ListedPredicate &alreadyListed = {}, rules::RowText rows = rules::RowText::Copies);

}  // namespace vc
