#include "rules/Listing.h"

#include "core/AppError.h"
#include "core/TrapLocations.h"
#include "core/Yield.h"
#include "rules/Rules.h"

#include <QSet>

namespace vc {

void RuleMembers::select(Rule rule)
{
    mExtractAllEmailData = rule == Rule::AllEmailData;
    mExtractAllEmailDataContaining = rule == Rule::Containing;
    mExtractAllEmailDataContaininglist = rule == Rule::ContainingList;
    mExtractAllEmailDataNotContaining = rule == Rule::NotContaining;
    mExtractAllEmailDataStartsWith = rule == Rule::StartsWith;
    mExtractAllEmailDataLineNumber = rule == Rule::LineNumber;
}

// oChilkat_MailExtractListing. Every rule whose member is set adds its rows, in
// the fixed order below; the rows of the message reach the list in one batch.
void listMessage(const MailRecord &message, const RuleMembers &members, const RuleParams &params, ResultsModel &results)
{
    ErrorTrap trap(location::Form1::MailExtractListing);
    QStringList rows;

    if (members.mExtractAllEmailData)
        trap(100, [&] { rows += rules::allEmailData(message); });
    if (members.mExtractAllEmailDataContaining)
        trap(102, [&] { rows += rules::linesContaining(message, params.containingText()); });
    if (members.mExtractAllEmailDataContaininglist)
        trap(104, [&] { rows += rules::textSetLines(message, params.textSet()); });
    if (members.mExtractAllEmailDataNotContaining)
        trap(106, [&] { rows += rules::linesNotContaining(message, params.notContainingText()); });
    if (members.mExtractAllEmailDataStartsWith) {
        trap(108, [&] {
            // Items already in the list count as duplicates, and so do the rows
            // this message has produced before the between rule.
            const qsizetype before = rows.size();
            QSet<QString> earlier(rows.cbegin(), rows.cbegin() + before);
            rows += rules::betweenMarkers(
                message, params.startMarker(), params.endMarker(), params.showDuplicates(),
                [&](const QString &item) { return results.contains(item) || earlier.contains(item); });
        });
    }
    if (members.mExtractAllEmailDataLineNumber)
        trap(110, [&] { rows += rules::linesByNumber(message.PlainTextBody, params.lineNumbers()); });

    trap(112, [&] { results.appendRows(rows); });
    trap(114, [] { yieldToEvents(); });
}

}  // namespace vc
