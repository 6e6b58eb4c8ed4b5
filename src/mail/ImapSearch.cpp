#include "mail/ImapSearch.h"

#include <QRegularExpression>

#include <algorithm>

namespace vc {

// --- UidSet

UidSet UidSet::of(std::vector<quint32> uids)
{
    std::sort(uids.begin(), uids.end());
    UidSet s;
    for (const quint32 uid : uids) {
        if (uid == 0)
            continue;
        if (!s.ranges_.empty() && qint64(s.ranges_.back().last) + 1 >= qint64(uid))
            s.ranges_.back().last = qMax(s.ranges_.back().last, uid);
        else
            s.ranges_.push_back({uid, uid});
    }
    s.recount();
    return s;
}

std::optional<UidSet> UidSet::parse(QByteArrayView text)
{
    if (text.isEmpty())
        return std::nullopt;
    std::vector<Range> parts;
    const auto number = [](QByteArrayView t, quint32 &out) {
        if (t.isEmpty() || t.size() > 10)
            return false;
        quint64 n = 0;
        for (const char c : t) {
            if (c < '0' || c > '9')
                return false;
            n = n * 10 + quint64(c - '0');
        }
        if (n == 0 || n > 0xffffffffu)
            return false;
        out = quint32(n);
        return true;
    };
    qsizetype from = 0;
    while (from <= text.size()) {
        qsizetype comma = text.indexOf(',', from);
        if (comma < 0)
            comma = text.size();
        const QByteArrayView part = text.sliced(from, comma - from);
        const qsizetype colon = part.indexOf(':');
        Range r;
        if (colon < 0) {
            if (!number(part, r.first))
                return std::nullopt;
            r.last = r.first;
        } else if (!number(part.first(colon), r.first) || !number(part.sliced(colon + 1), r.last)) {
            return std::nullopt;
        }
        if (r.first > r.last)
            std::swap(r.first, r.last);
        if (qsizetype(parts.size()) >= kMaxRanges)
            return std::nullopt;
        parts.push_back(r);
        from = comma + 1;
    }
    std::sort(parts.begin(), parts.end(), [](const Range &a, const Range &b) { return a.first < b.first; });
    UidSet s;
    for (const Range &r : parts) {
        if (!s.ranges_.empty() && qint64(s.ranges_.back().last) + 1 >= qint64(r.first))
            s.ranges_.back().last = qMax(s.ranges_.back().last, r.last);
        else
            s.ranges_.push_back(r);
    }
    s.recount();
    return s;
}

void UidSet::recount()
{
    before_.resize(ranges_.size());
    count_ = 0;
    for (size_t i = 0; i < ranges_.size(); ++i) {
        before_[i] = count_;
        count_ += qint64(ranges_[i].last) - ranges_[i].first + 1;
    }
}

void UidSet::add(quint32 first, quint32 last)
{
    if (first > last)
        std::swap(first, last);
    if (first == 0)
        first = 1;
    if (last == 0)
        return;
    // The usual case: ascending additions at the end.
    if (ranges_.empty() || qint64(first) > qint64(ranges_.back().last) + 1) {
        before_.push_back(count_);
        ranges_.push_back({first, last});
        count_ += qint64(last) - first + 1;
        return;
    }
    if (first >= ranges_.back().first) {
        count_ -= qint64(ranges_.back().last) - ranges_.back().first + 1;
        ranges_.back().last = qMax(ranges_.back().last, last);
        count_ += qint64(ranges_.back().last) - ranges_.back().first + 1;
        return;
    }
    std::vector<Range> merged;
    merged.reserve(ranges_.size() + 1);
    bool placed = false;
    const auto push = [&merged](Range r) {
        if (!merged.empty() && qint64(merged.back().last) + 1 >= qint64(r.first))
            merged.back().last = qMax(merged.back().last, r.last);
        else
            merged.push_back(r);
    };
    for (const Range &r : ranges_) {
        if (!placed && first <= r.first) {
            push({first, last});
            placed = true;
        }
        push(r);
    }
    if (!placed)
        push({first, last});
    ranges_ = std::move(merged);
    recount();
}

bool UidSet::contains(quint32 uid) const
{
    return indexOf(uid) >= 0;
}

qint64 UidSet::indexOf(quint32 uid) const
{
    const auto it =
        std::lower_bound(ranges_.begin(), ranges_.end(), uid, [](const Range &r, quint32 u) { return r.last < u; });
    if (it == ranges_.end() || uid < it->first)
        return -1;
    return before_[size_t(it - ranges_.begin())] + (uid - it->first);
}

quint32 UidSet::at(qint64 index) const
{
    if (index < 0 || index >= count_)
        return 0;
    const auto it = std::upper_bound(before_.begin(), before_.end(), index) - 1;
    const size_t i = size_t(it - before_.begin());
    return quint32(ranges_[i].first + (index - before_[i]));
}

UidSet UidSet::slice(qint64 index, qint64 count) const
{
    UidSet s;
    if (index < 0) {
        count += index;
        index = 0;
    }
    if (count <= 0 || index >= count_)
        return s;
    auto it = std::upper_bound(before_.begin(), before_.end(), index) - 1;
    for (size_t i = size_t(it - before_.begin()); i < ranges_.size() && count > 0; ++i) {
        const qint64 skip = qMax<qint64>(0, index - before_[i]);
        const qint64 len = qint64(ranges_[i].last) - ranges_[i].first + 1 - skip;
        const qint64 take = qMin(len, count);
        const quint32 first = quint32(ranges_[i].first + skip);
        s.ranges_.push_back({first, quint32(first + take - 1)});
        count -= take;
    }
    s.recount();
    return s;
}

UidSet UidSet::above(quint32 uid) const
{
    if (uid == 0xffffffffu)
        return {};
    UidSet all;
    all.ranges_.push_back({uid + 1, 0xffffffffu});
    all.recount();
    return intersected(all);
}

UidSet UidSet::intersected(const UidSet &other) const
{
    UidSet s;
    size_t i = 0;
    size_t j = 0;
    while (i < ranges_.size() && j < other.ranges_.size()) {
        const Range &a = ranges_[i];
        const Range &b = other.ranges_[j];
        const quint32 lo = qMax(a.first, b.first);
        const quint32 hi = qMin(a.last, b.last);
        if (lo <= hi)
            s.ranges_.push_back({lo, hi});
        if (a.last < b.last)
            ++i;
        else
            ++j;
    }
    s.recount();
    return s;
}

UidSet UidSet::minus(const UidSet &other) const
{
    UidSet s;
    size_t j = 0;
    for (const Range &a : ranges_) {
        qint64 lo = a.first;
        const qint64 hi = a.last;
        while (j < other.ranges_.size() && other.ranges_[j].last < lo)
            ++j;
        size_t k = j;
        while (lo <= hi && k < other.ranges_.size() && other.ranges_[k].first <= hi) {
            const Range &b = other.ranges_[k];
            if (b.first > lo)
                s.ranges_.push_back({quint32(lo), quint32(b.first - 1)});
            lo = qint64(b.last) + 1;
            if (b.last > hi)
                break;
            ++k;
        }
        if (lo <= hi)
            s.ranges_.push_back({quint32(lo), quint32(hi)});
    }
    s.recount();
    return s;
}

std::vector<quint32> UidSet::toVector() const
{
    std::vector<quint32> out;
    out.reserve(size_t(count_));
    for (const Range &r : ranges_) {
        for (qint64 u = r.first; u <= r.last; ++u)
            out.push_back(quint32(u));
    }
    return out;
}

QByteArray UidSet::toImap() const
{
    QByteArray out;
    out.reserve(imapLength());
    for (const Range &r : ranges_) {
        if (!out.isEmpty())
            out += ',';
        out += QByteArray::number(r.first);
        if (r.last != r.first)
            out += ':' + QByteArray::number(r.last);
    }
    return out;
}

qsizetype UidSet::imapLength() const
{
    const auto digits = [](quint32 n) {
        qsizetype d = 1;
        while (n >= 10) {
            n /= 10;
            ++d;
        }
        return d;
    };
    qsizetype n = ranges_.empty() ? 0 : qsizetype(ranges_.size()) - 1;
    for (const Range &r : ranges_)
        n += digits(r.first) + (r.last != r.first ? 1 + digits(r.last) : 0);
    return n;
}

// --- Search keys

bool SearchFilter::isEmpty() const
{
    return !since.isValid() && !before.isValid() && from.isEmpty() && to.isEmpty() && subject.isEmpty() && larger < 0
           && smaller < 0 && !unseen && gmailLabel.isEmpty() && raw.trimmed().isEmpty() && uidAbove == 0;
}

bool SearchKey::needsUtf8() const
{
    for (const Token &t : tokens) {
        if (t.kind != Token::String)
            continue;
        for (const char c : t.bytes) {
            if (uchar(c) >= 0x80)
                return true;
        }
    }
    return false;
}

namespace {

using Token = SearchKey::Token;

const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

QString quotedForShow(const QString &text)
{
    QString q = text;
    q.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    q.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

SearchKey atomKey(const QByteArray &name, const QByteArray &value = {})
{
    SearchKey k;
    k.tokens.push_back({Token::Atom, name});
    k.shown = QString::fromLatin1(name);
    if (!value.isEmpty()) {
        k.tokens.push_back({Token::Atom, value});
        k.shown += QLatin1Char(' ') + QString::fromLatin1(value);
    }
    return k;
}

SearchKey textKey(const QByteArray &name, const QString &text)
{
    SearchKey k;
    k.tokens.push_back({Token::Atom, name});
    k.tokens.push_back({Token::String, text.toUtf8()});
    k.shown = QString::fromLatin1(name) + QLatin1Char(' ') + quotedForShow(text);
    return k;
}

// A Gmail label as a term of Gmail's own search language: quoted unless it is
// one plain word.
QString gmailLabelTerm(const QString &label)
{
    static const QRegularExpression plain(QStringLiteral("^[\\w/.\\-]+$"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    if (plain.match(label).hasMatch())
        return QStringLiteral("label:") + label;
    QString inner = label;
    inner.remove(QLatin1Char('"'));
    return QStringLiteral("label:\"") + inner + QLatin1Char('"');
}

ImapFault badKeys(const QString &why)
{
    return {ImapFailure::BadRequest, QStringLiteral("the search keys cannot be sent: ") + why};
}

// The user's own keys, as tokens: atoms, quoted strings, parentheses.
ImapResult<SearchKey> rawKey(const QString &raw)
{
    SearchKey k;
    k.shown = raw.trimmed();
    const QByteArray bytes = raw.toUtf8();
    int depth = 0;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        if (uchar(c) < 0x20 || c == 0x7f)
            return badKeys(QStringLiteral("they hold a control character"));
        if (c == '(') {
            k.tokens.push_back({Token::Open, "("});
            ++depth;
            ++i;
            continue;
        }
        if (c == ')') {
            if (--depth < 0)
                return badKeys(QStringLiteral("a \")\" closes nothing"));
            k.tokens.push_back({Token::Close, ")"});
            ++i;
            continue;
        }
        if (c == '"') {
            QByteArray text;
            ++i;
            bool closed = false;
            while (i < bytes.size()) {
                const char d = bytes[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d == '\\' && i < bytes.size())
                    text += bytes[i++];
                else
                    text += d;
            }
            if (!closed)
                return badKeys(QStringLiteral("a quoted text has no closing \""));
            k.tokens.push_back({Token::String, text});
            continue;
        }
        const qsizetype start = i;
        bool ascii = true;
        while (i < bytes.size() && bytes[i] != ' ' && bytes[i] != '\t' && bytes[i] != '(' && bytes[i] != ')'
               && bytes[i] != '"') {
            if (uchar(bytes[i]) < 0x20 || bytes[i] == 0x7f)
                return badKeys(QStringLiteral("they hold a control character"));
            ascii = ascii && uchar(bytes[i]) < 0x80;
            ++i;
        }
        const QByteArray word = bytes.mid(start, i - start);
        if (word.contains('{'))
            return badKeys(QStringLiteral("\"{\" would start a literal; write the text in double quotes"));
        // A word that is not ASCII can only be a text to look for.
        k.tokens.push_back({ascii ? Token::Atom : Token::String, word});
    }
    if (depth > 0)
        return badKeys(QStringLiteral("a \"(\" is not closed"));
    return k;
}

ImapResult<QByteArray> sizeValue(qint64 n, const char *what)
{
    if (n > qint64(0xffffffffu))
        return ImapFault{ImapFailure::BadRequest,
                         QStringLiteral("the search keys cannot be sent: %1 %2 is more than a search can hold "
                                        "(at most 4294967295 bytes)")
                             .arg(QLatin1String(what))
                             .arg(n)};
    return QByteArray::number(n);
}

}  // namespace

QByteArray imapDate(QDate date)
{
    return QByteArray::number(date.day()) + '-' + kMonths[date.month() - 1] + '-'
           + QByteArray::number(date.year()).rightJustified(4, '0');
}

std::optional<QDate> parseSearchDate(const QString &text)
{
    const QString t = text.trimmed();
    static const QRegularExpression iso(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
    static const QRegularExpression imap(QStringLiteral("^(\\d{1,2})-([A-Za-z]{3})-(\\d{4})$"));
    QDate d;
    if (const QRegularExpressionMatch m = iso.match(t); m.hasMatch()) {
        d = QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    } else if (const QRegularExpressionMatch m = imap.match(t); m.hasMatch()) {
        for (int i = 0; i < 12; ++i) {
            if (m.captured(2).compare(QLatin1String(kMonths[i]), Qt::CaseInsensitive) == 0)
                d = QDate(m.captured(3).toInt(), i + 1, m.captured(1).toInt());
        }
    }
    if (!d.isValid())
        return std::nullopt;
    return d;
}

ImapResult<std::vector<SearchKey>> searchKeys(const SearchFilter &f)
{
    std::vector<SearchKey> keys;
    if (f.since.isValid())
        keys.push_back(atomKey("SENTSINCE", imapDate(f.since)));
    if (f.before.isValid())
        keys.push_back(atomKey("SENTBEFORE", imapDate(f.before)));
    if (!f.from.isEmpty())
        keys.push_back(textKey("FROM", f.from));
    if (!f.to.isEmpty())
        keys.push_back(textKey("TO", f.to));
    if (!f.subject.isEmpty())
        keys.push_back(textKey("SUBJECT", f.subject));
    if (f.larger >= 0) {
        const ImapResult<QByteArray> n = sizeValue(f.larger, "LARGER");
        if (!n)
            return n.fault();
        keys.push_back(atomKey("LARGER", *n));
    }
    if (f.smaller >= 0) {
        const ImapResult<QByteArray> n = sizeValue(f.smaller, "SMALLER");
        if (!n)
            return n.fault();
        keys.push_back(atomKey("SMALLER", *n));
    }
    if (f.unseen)
        keys.push_back(atomKey("UNSEEN"));
    if (!f.gmailLabel.isEmpty())
        keys.push_back(textKey("X-GM-RAW", gmailLabelTerm(f.gmailLabel)));
    if (f.uidAbove > 0) {
        // "*" alone for the highest UID there is: nothing lies above it.
        const quint32 above = f.uidAbove;
        keys.push_back(atomKey("UID", above == 0xffffffffu ? QByteArray("*") : QByteArray::number(above + 1) + ":*"));
    }
    if (!f.raw.trimmed().isEmpty()) {
        ImapResult<SearchKey> raw = rawKey(f.raw);
        if (!raw)
            return raw.fault();
        keys.push_back(std::move(*raw));
    }
    return keys;
}

ImapCommand searchCommand(const std::vector<SearchKey> &keys, bool esearch, bool literalPlus)
{
    ImapCommand c("UID SEARCH");
    if (esearch)
        c.text(" RETURN (ALL)");
    if (std::any_of(keys.begin(), keys.end(), [](const SearchKey &k) { return k.needsUtf8(); }))
        c.text(" CHARSET UTF-8");
    if (keys.empty())
        c.text(" ALL");
    for (const SearchKey &k : keys) {
        Token::Kind previous = Token::Atom;
        for (const Token &t : k.tokens) {
            if (previous != Token::Open && t.kind != Token::Close)
                c.text(" ");
            if (t.kind == Token::String)
                c.astring(t.bytes, literalPlus);
            else
                c.text(t.bytes);
            previous = t.kind;
        }
    }
    return c;
}

// --- Answers

std::optional<ImapResult<UidSet>> searchAnswer(const ImapResponse &r)
{
    if (r.kind != ImapResponse::Untagged || r.isStatus() || r.values.empty() || !r.values[0].isAtom("SEARCH"))
        return std::nullopt;
    std::vector<quint32> uids;
    uids.reserve(r.values.size() - 1);
    for (size_t i = 1; i < r.values.size(); ++i) {
        const ImapValue &v = r.values[i];
        if (v.kind == ImapValue::List)
            continue;  // (MODSEQ n)
        bool ok = false;
        const qulonglong n = v.text.toULongLong(&ok);
        if (!ok || n == 0 || n > 0xffffffffu || v.kind != ImapValue::Atom)
            return ImapResult<UidSet>(
                ImapFault{ImapFailure::Protocol, QStringLiteral("the server's SEARCH answer holds \"%1\", which is "
                                                                "not a UID")
                                                     .arg(QString::fromUtf8(v.text.left(40)))});
        uids.push_back(quint32(n));
    }
    return ImapResult<UidSet>(UidSet::of(std::move(uids)));
}

std::optional<EsearchAnswer> esearchAnswer(const ImapResponse &r)
{
    if (r.kind != ImapResponse::Untagged || r.isStatus() || r.values.empty() || !r.values[0].isAtom("ESEARCH"))
        return std::nullopt;
    EsearchAnswer a;
    size_t i = 1;
    if (i < r.values.size() && r.values[i].kind == ImapValue::List) {
        const ImapValue &correlator = r.values[i];
        if (const ImapValue *tag = correlator.item("TAG"))
            a.tag = tag->text;
        ++i;
    }
    if (i < r.values.size() && r.values[i].isAtom("UID")) {
        a.byUid = true;
        ++i;
    }
    for (; i + 1 < r.values.size(); i += 2) {
        if (!r.values[i].isAtom("ALL"))
            continue;  // COUNT, MIN, MAX and others: not asked for
        const std::optional<UidSet> all =
            r.values[i + 1].kind == ImapValue::Atom ? UidSet::parse(r.values[i + 1].text) : std::nullopt;
        if (!all) {
            a.uids = ImapFault{ImapFailure::Protocol,
                               QStringLiteral("the server's ESEARCH answer holds \"%1\", which is not a UID set")
                                   .arg(QString::fromUtf8(r.values[i + 1].text.left(40)))};
            return a;
        }
        a.uids = *all;
    }
    return a;
}

}  // namespace vc
