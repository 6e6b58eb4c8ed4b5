#include "rules/Listing.h"

#include "core/AppError.h"
#include "core/TrapLocations.h"

namespace vc {

namespace {

// The line of the listing handler each rule runs at, as its error box names it.
int lineOf(Rule rule)
{
    switch (rule) {
    case Rule::AllEmailData: return 100;
    case Rule::Containing: return 102;
    case Rule::ContainingList: return 104;
    case Rule::NotContaining: return 106;
    case Rule::Between: return 108;
    case Rule::LineNumber: return 110;
    }
    return 100;
}

}  // namespace

QStringList rowsOf(const MailRecord &message, const ExtractionRule &rule, const rules::ListedPredicate &alreadyListed,
                   rules::RowText rows)
{
    switch (rule.rule) {
    case Rule::AllEmailData: return rules::allEmailData(message, rows);
    case Rule::Containing: return rules::linesContaining(message, rule.containing, rows);
    case Rule::ContainingList: return rules::textSetLines(message, rule.textSet, rows);
    case Rule::NotContaining: return rules::linesNotContaining(message, rule.notContaining, rows);
    case Rule::Between:
        return rules::betweenMarkers(message, rule.startMarker, rule.endMarker, rule.showDuplicates, alreadyListed,
                                     rows);
    case Rule::LineNumber: return rules::linesByNumber(message.PlainTextBody, rule.lineNumbers, rows);
    }
    return {};
}

QStringList listMessage(const MailRecord &message, const ExtractionRule &rule,
                        const rules::ListedPredicate &alreadyListed, rules::RowText text)
{
    ErrorTrap trap(location::Form1::MailExtractListing);
    QStringList rows;
    trap(lineOf(rule.rule), [&] { rows = rowsOf(message, rule, alreadyListed, text); });
    return rows;
}

}  // namespace vc
