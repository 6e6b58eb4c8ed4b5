#pragma once
#include "mail/ImapCommand.h"
#include "mail/ImapFailure.h"
#include "mail/ImapParser.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <optional>
#include <vector>

namespace vc {

// A set of message UIDs: ascending, without repeats, held as ranges, so that a
// folder of a million consecutive UIDs takes one range. On the wire it is the
// compressed form "1:5,9,12:20".
class UidSet {
public:
    struct Range {
        quint32 first = 0;
        quint32 last = 0;
        bool operator==(const Range &) const = default;
    };
    // The most ranges parse() accepts; an answer with more is refused.
    static constexpr qsizetype kMaxRanges = qsizetype(1) << 22;

    UidSet() = default;
    // From UIDs in any order, repeats allowed; 0 is not a UID and is left out.
    static UidSet of(std::vector<quint32> uids);
    // "1:5,9,12:20" (ranges in either direction, any order, overlaps allowed);
    // nothing when it is not a UID set, holds 0 or "*", or has more than kMaxRanges parts.
    static std::optional<UidSet> parse(QByteArrayView text);

    // Adds one UID or an inclusive range (either order); 0 is ignored.
    void add(quint32 uid) { add(uid, uid); }
    void add(quint32 first, quint32 last);

    bool isEmpty() const { return ranges_.empty(); }
    // How many UIDs it holds.
    qint64 size() const { return count_; }
    bool contains(quint32 uid) const;
    quint32 first() const { return ranges_.empty() ? 0 : ranges_.front().first; }
    quint32 last() const { return ranges_.empty() ? 0 : ranges_.back().last; }
    // The UID at 0-based `index` in ascending order; 0 outside.
    quint32 at(qint64 index) const;
    // The 0-based index of `uid`, or -1 when it is not in the set.
    qint64 indexOf(quint32 uid) const;
    // The `count` UIDs from 0-based `index` on.
    UidSet slice(qint64 index, qint64 count) const;
    // The UIDs above `uid`.
    UidSet above(quint32 uid) const;
    // The UIDs of this set that are not in `other`, and those in both.
    UidSet minus(const UidSet &other) const;
    UidSet intersected(const UidSet &other) const;
    std::vector<quint32> toVector() const;
    const std::vector<Range> &ranges() const { return ranges_; }

    // "1:5,9,12:20"; empty for the empty set.
    QByteArray toImap() const;
    // The length toImap() would have, without building it.
    qsizetype imapLength() const;

    bool operator==(const UidSet &o) const { return ranges_ == o.ranges_; }

private:
    void recount();

    std::vector<Range> ranges_;   // ascending, neither overlapping nor touching
    std::vector<qint64> before_;  // UIDs in the ranges before each range
    qint64 count_ = 0;
};

// What a walk asks the server to select before anything is downloaded. Empty
// texts, invalid dates and negative sizes mean "no such condition".
struct SearchFilter {
    QDate since;          // the message's Date on or after this day (SENTSINCE)
    QDate before;         // the message's Date before this day (SENTBEFORE)
    QString from;         // text in the From field
    QString to;           // text in the To field
    QString subject;      // text in the subject
    qint64 larger = -1;   // more than this many bytes
    qint64 smaller = -1;  // fewer than this many bytes
    bool unseen = false;
    QString gmailLabel;  // Gmail only: X-GM-RAW "label:..."
    QString raw;         // search keys as the user wrote them, added as they are
    // Only UIDs above this one ("UID n+1:*"); 0: no such condition. The server
    // answers "n+1:*" with its last message even when that is below n + 1, so
    // whoever asks keeps only the UIDs above n (UidSet::above).
    quint32 uidAbove = 0;

    bool isEmpty() const;
};

// One search key as it goes on the wire, and as an error names it.
struct SearchKey {
    struct Token {
        enum Kind { Atom, String, Open, Close };
        Kind kind = Atom;
        QByteArray bytes;  // Atom: as it is; String: the text (UTF-8), quoted or a literal on the wire
    };
    QString shown;  // "FROM "Jörg"", "SENTSINCE 1-Feb-2024"
    std::vector<Token> tokens;
    bool needsUtf8() const;  // some string is not ASCII
};

// The keys for `filter` in a fixed order (dates, fields, sizes, flags, label,
// then the user's own); a fault (BadRequest) when the user's keys cannot be sent
// (unbalanced quotes or parentheses, control characters) or a size is out of range.
ImapResult<std::vector<SearchKey>> searchKeys(const SearchFilter &filter);

// "UID SEARCH [RETURN (ALL)] [CHARSET UTF-8] keys" ("ALL" for no keys):
// RETURN (ALL) asks for an ESEARCH answer; CHARSET UTF-8 is sent when a text is
// not ASCII, and such texts go as literals (non-synchronising with LITERAL+).
ImapCommand searchCommand(const std::vector<SearchKey> &keys, bool esearch, bool literalPlus);

// The IMAP date ("1-Feb-2024": day without a leading zero, English month).
QByteArray imapDate(QDate date);
// A date as users type it: 2024-02-01, 1-Feb-2024 or 01-feb-2024; nothing otherwise.
std::optional<QDate> parseSearchDate(const QString &text);

// The UIDs of a "* SEARCH 3 9 10" answer (numbers in any order; a trailing
// "(MODSEQ n)" is ignored); nothing when it is not a SEARCH answer. A number
// that is not a UID is a fault (Protocol).
std::optional<ImapResult<UidSet>> searchAnswer(const ImapResponse &r);
// The UIDs of "* ESEARCH (TAG "V0003") UID ALL 1:5,9" (RFC 4731; no ALL: none
// found) and its tag; nothing when it is not an ESEARCH answer. A malformed
// ALL is a fault (Protocol).
struct EsearchAnswer {
    QByteArray tag;
    bool byUid = false;
    ImapResult<UidSet> uids = UidSet();
};
std::optional<EsearchAnswer> esearchAnswer(const ImapResponse &r);

}  // namespace vc
