#include "rules/Rules.h"

#include "core/Convert.h"
#include "core/Yield.h"

#include <QSet>

#include <algorithm>
#include <limits>
#include <vector>

namespace vc::rules {

namespace {

// The lower-cased copy of `text` with the part searched for already lower-cased.
bool containsLowered(const QString &loweredText, const QString &loweredPart)
{
    if (loweredText.isEmpty())
        return false;
    return loweredText.indexOf(loweredPart) >= 0;
}

// text[from, to) as a row: a copy, or a view of `text` itself.
QString piece(const QString &text, qsizetype from, qsizetype to, RowText rows)
{
    if (rows == RowText::Views)
        return QString::fromRawData(text.constData() + from, to - from);
    return text.mid(from, to - from);
}

// Where text[from, to) starts once its leading spaces and tabs are left out.
qsizetype afterLeadingBlanks(const QString &text, qsizetype from, qsizetype to)
{
    while (from < to && (text[from] == QLatin1Char(' ') || text[from] == QLatin1Char('\t')))
        ++from;
    return from;
}

QString withoutLeadingBlanks(const QString &text)
{
    const qsizetype i = afterLeadingBlanks(text, 0, text.size());
    return i == 0 ? text : text.mid(i);
}

// The three header fields in the order every rule visits them.
QStringList headerFields(const MailRecord &m)
{
    QStringList out;
    for (const QString *f : {&m.From, &m.ReceivedDate, &m.Subject})
        if (!f->isEmpty())
            out << *f;
    return out;
}

// Calls `line(from, to)` for every body line, [from, to) in the body, in order
// (see bodyLines).
template <class LineFn>
void forEachLine(QStringView body, LineFn &&line)
{
    if (body.isEmpty())
        return;
    // The next CR at or after `at`, or -1: a search for one code unit, without
    // the set-up of a string search that indexOf() makes for every line.
    const auto nextCr = [body](qsizetype at) -> qsizetype {
        const char16_t *found = QtPrivate::qustrchr(body.sliced(at), u'\r');
        return found == body.utf16() + body.size() ? -1 : found - body.utf16();
    };
    qsizetype from = 0;
    qsizetype cr = nextCr(0);
    while (cr >= 0) {
        if (cr + 1 < body.size() && body[cr + 1] == u'\n') {
            line(from, cr);
            from = cr + 2;
        }
        cr = nextCr(cr + 1);
    }
    line(from, body.size());
}

// Answers "does the span [from, to) of a text hold the lower-cased part, letters
// compared as lowerCase() compares them" for spans that come in ascending order
// (the lines of one body), without a copy per span: the first match at or after
// a span's start decides, and it stays valid for the following spans until they
// have passed it. An empty span holds nothing, not even an empty part.
class SpanFinder {
public:
    SpanFinder(const LoweredText &text, const QString &loweredPart) : finder_(text, loweredPart) {}

    bool holds(qsizetype from, qsizetype to)
    {
        if (to <= from)
            return false;
        if (finder_.partLength() == 0)
            return true;
        if (!exhausted_ && (searchedFrom_ < 0 || match_ < from)) {
            match_ = finder_.indexIn(from);
            searchedFrom_ = from;
            exhausted_ = match_ < 0;
        }
        return !exhausted_ && match_ + finder_.partLength() <= to;
    }

private:
    CaseBlindFinder finder_;
    qsizetype match_ = -1;
    qsizetype searchedFrom_ = -1;
    bool exhausted_ = false;  // no match at or after the last search's start
};

}  // namespace

namespace {
// Appends the body's lines to `rows` (no list of their own to copy from).
void appendBodyLines(QStringList &rows, const QString &body, RowText how = RowText::Copies)
{
    forEachLine(body, [&](qsizetype from, qsizetype to) { rows.append(piece(body, from, to, how)); });
}
}  // namespace

QStringList bodyLines(const QString &body)
{
    QStringList lines;
    appendBodyLines(lines, body);
    return lines;
}

bool containsText(const QString &text, const QString &part)
{
    return containsLowered(lowerCase(text), lowerCase(part));
}

QStringList allEmailData(const MailRecord &m, RowText how)
{
    QStringList rows = headerFields(m);
    rows << m.PlainTextBody;
    appendBodyLines(rows, m.PlainTextBody, how);
    return rows;
}

namespace {
// Calls `line(from, to)` for each body line that holds one of the lower-cased
// parts (`holding`) or none of them (not `holding`), letters compared as
// lowerCase() compares them. The body is searched as a whole, as if
// lower-cased; lower-casing keeps positions and never pairs code units across
// a CR LF, so a line of the lower-cased body is the lower-cased line. When the
// lines must hold a part and the body holds none anywhere, no line is walked.
template <class LineFn>
void forEachLineHolding(const QString &body, const QStringList &loweredParts, bool holding, LineFn &&line)
{
    const LoweredText searched(body);
    std::vector<SpanFinder> finders;
    finders.reserve(size_t(loweredParts.size()));
    for (const QString &p : loweredParts)
        finders.emplace_back(searched, p);
    const auto anyHolds = [&](qsizetype from, qsizetype to) {
        return std::any_of(finders.begin(), finders.end(), [&](SpanFinder &f) { return f.holds(from, to); });
    };
    // A first search from the start, which the lines' searches then go on from.
    if (holding && !anyHolds(0, body.size()))
        return;
    forEachLine(body, [&](qsizetype from, qsizetype to) {
        if (anyHolds(from, to) == holding)
            line(from, to);
    });
}

// Header fields (each when not empty) then body lines, kept when their
// containing `text` is `wanted`.
QStringList linesByContainment(const MailRecord &m, const QString &text, bool wanted, RowText how)
{
    const QString part = lowerCase(text);
    QStringList rows;
    for (const QString &f : headerFields(m))
        if (containsLowered(lowerCase(f), part) == wanted)
            rows << f;
    const QString &body = m.PlainTextBody;
    forEachLineHolding(body, {part}, wanted, [&](qsizetype from, qsizetype to) { rows << piece(body, from, to, how); });
    return rows;
}
}  // namespace

QStringList linesContaining(const MailRecord &m, const QString &text, RowText rows)
{
    return linesByContainment(m, text, true, rows);
}

QStringList linesNotContaining(const MailRecord &m, const QString &text, RowText rows)
{
    return linesByContainment(m, text, false, rows);
}

QList<int> requestedLineNumbers(const QString &entry)
{
    QList<int> numbers;
    for (const QString &piece : entry.split(QLatin1Char(','), Qt::KeepEmptyParts))
        if (const auto n = convert::tryInt16(piece))
            numbers << int(*n);
    return numbers;
}

bool isLineNumberEntry(const QString &entry)
{
    if (entry.isEmpty())
        return false;
    const QStringList pieces = entry.split(QLatin1Char(','), Qt::KeepEmptyParts);
    return std::all_of(pieces.begin(), pieces.end(), [](const QString &p) { return convert::isNumeric(p); });
}

QStringList linesByNumber(const QString &body, const QString &entry, RowText how)
{
    QList<int> wanted = requestedLineNumbers(entry);
    std::sort(wanted.begin(), wanted.end());
    QStringList rows;
    // Only the lines asked for become rows; no list of all of them is made.
    qsizetype number = 0;
    forEachLine(body, [&](qsizetype from, qsizetype to) {
        yieldToEvents();
        ++number;
        if (number <= std::numeric_limits<int>::max() && std::binary_search(wanted.begin(), wanted.end(), int(number)))
            rows << piece(body, from, to, how);
    });
    return rows;
}

QStringList betweenItems(const QString &source, const QString &start, const QString &end, RowText how)
{
    QStringList items;
    if (start.isEmpty() || end.isEmpty() || source.isEmpty())
        return items;
    // One lower-cased copy of the source; positions in it are positions in the
    // source because the lower-casing keeps the length.
    const QString low = lowerCase(source);
    const QString x = lowerCase(start);
    const QString y = lowerCase(end);
    const qsizetype xLen = x.size();
    // The scan goes on while the rest of the text holds both markers, in any
    // order. The rest holds Y while the last Y starts inside it.
    const qsizetype lastY = low.lastIndexOf(y);
    if (lastY < 0)
        return items;
    // The first Y at or after a position only moves forward as the scan does,
    // so it is searched again only once the scan has passed it.
    qsizetype nextY = -1, nextYFrom = -1;
    bool noMoreY = false;
    qsizetype offset = 0;
    while (offset < low.size() && lastY >= offset) {
        const qsizetype p1 = low.indexOf(x, offset);
        if (p1 < 0)
            break;
        yieldToEvents();
        const qsizetype from = p1 + 1;
        if (!noMoreY && (nextYFrom < 0 || nextY < from)) {
            nextY = low.indexOf(y, from);
            nextYFrom = from;
            noMoreY = nextY < 0;
        }
        // An item needs a Y that starts at or after the end of this X.
        if (!noMoreY && nextY - p1 >= xLen) {
            const qsizetype len = nextY - p1 - xLen;
            if (len > 0)
                items << piece(source, p1 + xLen, p1 + xLen + len, how);
        }
        offset = p1 + xLen;
    }
    return items;
}

QStringList betweenMarkers(const MailRecord &m, const QString &start, const QString &end, bool showDuplicates,
                           const ListedPredicate &alreadyListed, RowText how)
{
    QStringList rows;
    QSet<QString> produced;
    // The sources share the record's strings, so views of them are views of the record.
    QStringList sources = headerFields(m);
    sources << m.PlainTextBody;
    for (const QString &s : sources) {
        for (const QString &item : betweenItems(s, start, end, how)) {
            if (!showDuplicates) {
                if (produced.contains(item) || (alreadyListed && alreadyListed(item)))
                    continue;
                produced.insert(item);
            }
            rows << item;
        }
    }
    return rows;
}

QStringList textSetLines(const MailRecord &m, const QStringList &items, RowText how)
{
    QStringList parts;
    for (const QString &item : items)
        if (!item.isEmpty())
            parts << lowerCase(item);
    QStringList rows;
    if (parts.isEmpty())
        return rows;
    for (const QString &f : headerFields(m)) {
        const QString low = lowerCase(f);
        if (std::any_of(parts.cbegin(), parts.cend(), [&](const QString &p) { return containsLowered(low, p); }))
            rows << withoutLeadingBlanks(f);
    }
    const QString &body = m.PlainTextBody;
    forEachLineHolding(body, parts, true, [&](qsizetype from, qsizetype to) {
        rows << piece(body, afterLeadingBlanks(body, from, to), to, how);
    });
    return rows;
}

}  // namespace vc::rules
