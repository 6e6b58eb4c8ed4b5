#include "rules/CaseBlind.h"

#include <QChar>

#include <cstring>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vc::rules {

namespace {

#if defined(__SSE2__)
// Eight code units at a time where the machine has SSE2: whether all eight
// are ASCII, and (for those) the eight in lower case.
constexpr qsizetype kBlock = 8;
bool lowerBlock(const QChar *s, QChar *d, bool *changed)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
    const __m128i zero = _mm_setzero_si128();
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(short(0xFF80))), zero)) != 0xFFFF)
        return false;
    // ASCII lanes are positive as signed 16-bit values.
    const __m128i caps =
        _mm_and_si128(_mm_cmpgt_epi16(v, _mm_set1_epi16('A' - 1)), _mm_cmplt_epi16(v, _mm_set1_epi16('Z' + 1)));
    *changed = _mm_movemask_epi8(caps) != 0;
    if (d)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d), _mm_or_si128(v, _mm_and_si128(caps, _mm_set1_epi16(0x20))));
    return true;
}
#else
// Four UTF-16 code units read as one 64-bit word, for the ASCII runs that
// make up most mail: whether all four are ASCII, which are capitals, and the
// four in lower case (without a carry between them: each is below 0x80).
constexpr quint64 kLanes = 0x0001000100010001ull;
quint64 loadFour(const QChar *s)
{
    quint64 v;
    memcpy(&v, static_cast<const void *>(s), sizeof v);
    return v;
}
bool allAscii(quint64 four)
{
    return (four & (0xFF80 * kLanes)) == 0;
}
quint64 capitals(quint64 asciiFour)  // 0x80 in each lane that holds 'A' to 'Z'
{
    return (asciiFour + (0x80 - 'A') * kLanes) & ~(asciiFour + (0x80 - 'Z' - 1) * kLanes) & (0x80 * kLanes);
}

constexpr qsizetype kBlock = 4;
bool lowerBlock(const QChar *s, QChar *d, bool *changed)
{
    const quint64 four = loadFour(s);
    if (!allAscii(four))
        return false;
    const quint64 caps = capitals(four);
    *changed = caps != 0;
    if (d) {
        const quint64 lower = four | (caps >> 2);  // 'A' + 0x20 is 'a'
        memcpy(static_cast<void *>(d), &lower, sizeof lower);
    }
    return true;
}
#endif

// The code unit at `i` of lowerCase(text): a surrogate pair is lower-cased as
// one code point (only into another pair), a lone surrogate stays as it is,
// and so does a character whose lower case needs a pair.
char16_t loweredAt(QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
    if (QChar::isSurrogate(c)) {
        const bool high = QChar::isHighSurrogate(c);
        const qsizetype other = high ? i + 1 : i - 1;
        if (other < 0 || other >= text.size())
            return c;
        const char16_t o = text[other].unicode();
        if (high ? !QChar::isLowSurrogate(o) : !QChar::isHighSurrogate(o))
            return c;
        const char32_t cp = high ? QChar::surrogateToUcs4(c, o) : QChar::surrogateToUcs4(o, c);
        const char32_t lc = QChar::toLower(cp);
        if (lc == cp || !QChar::requiresSurrogates(lc))
            return c;
        return high ? QChar::highSurrogate(lc) : QChar::lowSurrogate(lc);
    }
    const char32_t lc = QChar::toLower(char32_t(c));
    return QChar::requiresSurrogates(lc) ? c : char16_t(lc);
}

}  // namespace

QString lowerCase(const QString &text)
{
    // Up to the first code unit that may change, the text is its own lower case:
    // a text without capitals is handed back without a copy.
    const QChar *s = text.constData();
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (true) {
        bool changed = false;
        if (i + kBlock <= n && lowerBlock(s + i, nullptr, &changed) && !changed) {
            i += kBlock;
            continue;
        }
        if (i < n && s[i].unicode() < 0x80 && (s[i].unicode() < u'A' || s[i].unicode() > u'Z')) {
            ++i;
            continue;
        }
        break;
    }
    if (i == n)
        return text;
    QString out = text;
    QChar *d = out.data();  // `text` keeps the original, which loweredAt() reads
    while (i < n) {
        bool changed = false;
        if (i + kBlock <= n && lowerBlock(d + i, d + i, &changed)) {
            i += kBlock;
            continue;
        }
        d[i] = QChar(loweredAt(text, i));
        ++i;
    }
    return out;
}

namespace {

// For each ASCII character, the code units other than ASCII that lower-case to
// it (U+212A KELVIN SIGN to 'k', for one).
const std::array<std::vector<char16_t>, 0x80> &otherSourcesOfAscii()
{
    static const std::array<std::vector<char16_t>, 0x80> table = [] {
        std::array<std::vector<char16_t>, 0x80> t;
        for (char32_t u = 0x80; u <= 0xFFFF; ++u) {
            if (QChar::isSurrogate(u))
                continue;
            const char32_t lc = QChar::toLower(u);
            if (lc < 0x80)
                t[lc].push_back(char16_t(u));
        }
        return t;
    }();
    return table;
}

// How common an ASCII character is in mail text, lower for rarer ones: the
// finder looks for the part's rarest character, so that it stops less often.
int commonness(char16_t c)
{
    static constexpr std::string_view kByUse = " etaoinsrhldcumfpgwybvkxjqz";
    const std::size_t at = kByUse.find(char(c));
    if (at != std::string_view::npos)
        return int(kByUse.size() - at) + 10;
    return c >= u'0' && c <= u'9' ? 5 : 0;  // digits, then punctuation and controls
}

}  // namespace

const QString &LoweredText::lowered() const
{
    if (!lowered_)
        lowered_ = lowerCase(text_);
    return *lowered_;
}

CaseBlindFinder::CaseBlindFinder(const LoweredText &text, const QString &loweredPart) : text_(&text), part_(loweredPart)
{
    int sources = 0;  // how many code units lower-case to the anchor; 0: no anchor
    for (qsizetype k = 0; k < part_.size(); ++k) {
        const char16_t c = part_[k].unicode();
        if (c >= 0x80 || (sources > 0 && commonness(c) >= commonness(part_[anchor_].unicode())))
            continue;
        const bool letter = c >= u'a' && c <= u'z';
        const std::vector<char16_t> &others = otherSourcesOfAscii()[c];
        const std::size_t count = 1 + (letter ? 1 : 0) + others.size();
        if (count > firsts_.size())
            continue;
        anchor_ = k;
        sources = int(count);
        firsts_.fill(c);  // unused lanes repeat the anchor
        if (letter)
            firsts_[1] = char16_t(c - (u'a' - u'A'));
        std::copy(others.begin(), others.end(), firsts_.begin() + (letter ? 2 : 1));
    }
    if (sources == 0 && !part_.isEmpty())
        matcher_.emplace(part_);
}

qsizetype CaseBlindFinder::nextFirst(qsizetype from) const
{
    const auto *s = reinterpret_cast<const char16_t *>(text_->text().constData());
    const qsizetype n = text_->text().size();
    qsizetype i = from;
#if defined(__SSE2__)
    const __m128i a = _mm_set1_epi16(short(firsts_[0]));
    const __m128i b = _mm_set1_epi16(short(firsts_[1]));
    const __m128i c = _mm_set1_epi16(short(firsts_[2]));
    const __m128i d = _mm_set1_epi16(short(firsts_[3]));
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, a), _mm_cmpeq_epi16(v, b)),
                                         _mm_or_si128(_mm_cmpeq_epi16(v, c), _mm_cmpeq_epi16(v, d)));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0)
            return i + __builtin_ctz(unsigned(mask)) / 2;
    }
#endif
    for (; i < n; ++i) {
        const char16_t u = s[i];
        if (u == firsts_[0] || u == firsts_[1] || u == firsts_[2] || u == firsts_[3])
            return i;
    }
    return -1;
}

bool CaseBlindFinder::matchesAt(qsizetype at) const
{
    const QStringView text = text_->text();
    for (qsizetype k = 0; k < part_.size(); ++k)
        if (loweredAt(text, at + k) != part_[k].unicode())
            return false;
    return true;
}

qsizetype CaseBlindFinder::indexIn(qsizetype from) const
{
    const qsizetype n = text_->text().size();
    if (part_.isEmpty())
        return from <= n ? from : -1;
    if (matcher_)
        return matcher_->indexIn(text_->lowered(), from);
    // A match starting at `start` has its anchor at start + anchor_.
    for (qsizetype at = nextFirst(from + anchor_); at >= 0; at = nextFirst(at + 1)) {
        const qsizetype start = at - anchor_;
        if (start + part_.size() > n)
            return -1;
        if (matchesAt(start))
            return start;
    }
    return -1;
}

}  // namespace vc::rules
