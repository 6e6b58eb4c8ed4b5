#pragma once
#include "core/MailRecord.h"
#include "rules/CaseBlind.h"

#include <QString>
#include <QStringList>

#include <functional>

// The extraction rules as plain functions: message fields and parameters in,
// rows out. The listing handler appends the rows to the results list; the
// command-line program uses the same functions.
namespace vc::rules {

// What the rows taken from a record's text are: copies that live on their own
// (the default), or views of the record's own strings that copy nothing, for
// a caller that writes each message's rows out at once. Views are valid only
// while the record they came from lives unchanged; a row copied from a view
// (QString's copy) is still a view, so a caller that keeps rows asks for copies.
enum class RowText { Copies, Views };

// The body split at every CR LF pair. A lone CR or LF stays inside its line,
// nothing is trimmed, a body ending in CR LF has an empty last line and an
// empty body has no lines at all.
QStringList bodyLines(const QString &body);

// Containment test: true when `text` contains `part`, letters compared without
// regard to case. An empty part is contained in every non-empty text; nothing,
// not even an empty part, is contained in an empty text.
bool containsText(const QString &text, const QString &part);

// All e-mail data: From, ReceivedDate, Subject (each when not empty), the whole
// body as one row (also when empty), then every body line.
QStringList allEmailData(const MailRecord &m, RowText rows = RowText::Copies);

// Header fields (each when not empty) then body lines that contain `text`.
QStringList linesContaining(const MailRecord &m, const QString &text, RowText rows = RowText::Copies);

// Header fields (each when not empty) then body lines that do not contain `text`.
QStringList linesNotContaining(const MailRecord &m, const QString &text, RowText rows = RowText::Copies);

// The line numbers an entry such as "3, 1,2.5" asks for: pieces split at ",",
// blanks around a piece allowed, a decimal part rounded half to even. A piece
// that is not a number or lies outside -32768..32767 asks for nothing.
QList<int> requestedLineNumbers(const QString &entry);

// The check a lines-by-number run makes before it starts: every comma-separated
// piece is numeric. An empty entry fails.
bool isLineNumberEntry(const QString &entry);

// The body lines whose 1-based number the entry asks for, in body order, each
// line once. Header fields are never listed.
QStringList linesByNumber(const QString &body, const QString &entry, RowText rows = RowText::Copies);

// Every non-empty item between a start marker and the end marker closing it in
// one source text, in scan order and in the source's letter case. Markers are
// found without regard to case; the scan goes on right after each start marker,
// so one end marker can close several starts ("X1X2Y" gives "1X2" and "2").
// An empty start or end marker gives nothing.
QStringList betweenItems(const QString &source, const QString &start, const QString &end,
                         RowText rows = RowText::Copies);

// Tells whether an item is already in the results list (the rows of earlier messages).
using ListedPredicate = std::function<bool(const QString &)>;

// The between rule for one message: From, ReceivedDate, Subject (each when not
// empty) and the whole body are scanned in that order. Unless `showDuplicates`
// is set, an item is dropped when `alreadyListed` knows it or this message has
// produced it already (compared whole, case-sensitively).
QStringList betweenMarkers(const MailRecord &m, const QString &start, const QString &end, bool showDuplicates,
                           const ListedPredicate &alreadyListed = {}, RowText rows = RowText::Copies);

// The text-set rule: a header field (each when not empty) or body line is listed
// when it contains at least one non-empty item of the set; empty items never
// match. Listed rows lose their leading spaces and tabs.
QStringList textSetLines(const MailRecord &m, const QStringList &items, RowText rows = RowText::Copies);

}  // namespace vc::rules
