#pragma once
#include "core/MailRecord.h"

#include <QString>

namespace vc::test {

// A message record as the walk delivers it. The sender's name and address and
// the HTML body carry texts that no rule lists: a row showing one is a fault.
inline MailRecord mail(const QString &from, const QString &date, const QString &subject, const QString &body)
{
    MailRecord m;
    m.From = from;
    m.ReceivedDate = date;
    m.Subject = subject;
    m.PlainTextBody = body;
    m.FromName = QStringLiteral("NAME-NEVER-LISTED");
    m.FromAddress = QStringLiteral("ADDRESS-NEVER-LISTED");
    m.HTMLTextBody = QStringLiteral("<p>HTML-NEVER-LISTED</p>");
    return m;
}

}  // namespace vc::test
