#pragma once
#include <QString>

namespace vc {

// One message as the walk delivers it to the listing handler: the sender, its
// name and address, the subject, the date already turned into text, both
// bodies, and the sequence number that was fetched (1-based position in the
// folder, not a server-side unique identifier).
struct MailRecord {
    QString From, FromName, FromAddress, Subject, ReceivedDate, PlainTextBody, HTMLTextBody;
    int uID = 0;
};

}  // namespace vc
