#pragma once
#include "mail/ImapParser.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The server responses the program reads, each parsed once from the generic
// response tree into a small struct, so that no caller reads values by their
// position in a response.
namespace vc {

// What SELECT or EXAMINE tells about a mailbox: its message count, the
// UIDVALIDITY and UIDNEXT codes, and the flags it uses.
struct MailboxStatus {
    qint64 exists = 0;
    quint32 uidValidity = 0;  // 0: the server sent none
    quint32 uidNext = 0;      // 0: the server sent none
    QStringList flags;        // as sent ("\Seen", "$Forwarded")
};

// Takes what one untagged response of a SELECT or EXAMINE says about the
// mailbox into `status`; false when it says nothing the struct holds. A code
// whose number cannot be read leaves the field as it was.
bool takeSelectResponse(const ImapResponse &r, MailboxStatus &status);

// One mailbox of a LIST answer.
struct MailboxInfo {
    QString name;            // decoded from modified UTF-7, hierarchy delimiters kept
    QString delimiter;       // the hierarchy delimiter; empty when the server has none (NIL)
    QStringList attributes;  // as sent ("\HasNoChildren", "\Sent", ...)
};

// The mailbox of a "* LIST" response; nothing for any other response, or for
// a LIST response without a name that can be read.
std::optional<MailboxInfo> parseListResponse(const ImapResponse &r);

// A FETCH response: the message it is about and the items the program reads.
struct FetchResponse {
    enum class Body {
        Missing,  // no BODY[] item in the response
        Nil,      // BODY[] NIL (or not a string): the server has no content for it
        Present,  // the bytes are in `body`
    };
    qint64 number = 0;  // the sequence number
    quint32 uid = 0;    // 0: no UID item
    qint64 size = -1;   // RFC822.SIZE; -1: none
    QStringList flags;
    Body has = Body::Missing;
    QByteArray body;
};

// The FETCH response in `r`, its body moved out of `r`; nothing when `r` is
// another response (a status response, another name, a FETCH without its
// item list).
std::optional<FetchResponse> takeFetchResponse(ImapResponse &r);

}  // namespace vc
