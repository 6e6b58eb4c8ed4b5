#include "rules/Listing.h"

#include "core/AppError.h"
#include "core/TrapLocations.h"

namespace vc {

QStringList listMessage(const MailRecord &message, const ExtractionRule &rule,
                        const rules::ListedPredicate &alreadyListed)
{
    ErrorTrap trap(location::Form1::MailExtractListing);
    QStringList rows;
    switch (rule.rule) {
    case Rule::AllEmailData: trap(100, [&] { rows = rules::allEmailData(message); }); break;
    case Rule::Containing: trap(102, [&] { rows = rules::linesContaining(message, rule.containing); }); break;
    case Rule::ContainingList: trap(104, [&] { rows = rules::textSetLines(message, rule.textSet); }); break;
    case Rule::NotContaining: trap(106, [&] { rows = rules::linesNotContaining(message, rule.notContaining); }); break;
    case Rule::Between:
        trap(108, [&] {
            rows = rules::betweenMarkers(message, rule.startMarker, rule.endMarker, rule.showDuplicates, alreadyListed);
        });
        break;
    case Rule::LineNumber:
        trap(110, [&] { rows = rules::linesByNumber(message.PlainTextBody, rule.lineNumbers); });
        break;
    }
    return rows;
}

}  // namespace vc
