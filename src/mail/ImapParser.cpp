#include "mail/ImapParser.h"

#include <cstring>
#include <utility>

namespace vc {

namespace {

constexpr qsizetype kRawLiteralLimit = 64 * 1024;
// What each piece of a response (a line or a literal) is charged beyond its
// bytes, so that a flood of tiny pieces cannot outgrow the budget in overhead.
constexpr qint64 kPieceCost = 64;

bool equalsNoCase(const QByteArray &a, const char *b)
{
    return a.size() == qsizetype(std::strlen(b)) && qstrnicmp(a.constData(), b, a.size()) == 0;
}

// Reads the values of one response. The response is a sequence of text pieces;
// after every piece but the last comes a literal, which reads as one string value
// at the point where its piece ends.
class Tokenizer {
public:
    Tokenizer(std::vector<QByteArray> &segments, std::vector<QByteArray> &literals) : segs_(segments), lits_(literals)
    {}

    bool atSegmentEnd() const { return off_ >= segs_[si_].size(); }
    bool literalFollows() const { return atSegmentEnd() && si_ < lits_.size(); }
    bool atEnd() const { return atSegmentEnd() && si_ >= lits_.size(); }
    char peek() const { return atSegmentEnd() ? '\0' : segs_[si_][off_]; }

    void skipSpaces()
    {
        while (!atSegmentEnd() && segs_[si_][off_] == ' ')
            ++off_;
    }

    // A run of non-space bytes (tag, status word).
    QByteArray word()
    {
        skipSpaces();
        const QByteArray &s = segs_[si_];
        const qsizetype start = off_;
        while (off_ < s.size() && s[off_] != ' ')
            ++off_;
        return s.mid(start, off_ - start);
    }

    // Everything that is left, literals put back in place.
    QByteArray rest()
    {
        QByteArray out = segs_[si_].mid(off_);
        off_ = segs_[si_].size();
        while (si_ < lits_.size()) {
            out += lits_[si_];
            ++si_;
            off_ = 0;
            out += segs_[si_];
            off_ = segs_[si_].size();
        }
        return out;
    }

    // "[...]" at the current position: the text inside; empty when there is none.
    QByteArray responseCode()
    {
        skipSpaces();
        if (peek() != '[')
            return {};
        const QByteArray &s = segs_[si_];
        int depth = 0;
        const qsizetype start = off_ + 1;
        for (qsizetype i = off_; i < s.size(); ++i) {
            if (s[i] == '[')
                ++depth;
            else if (s[i] == ']' && --depth == 0) {
                off_ = i + 1;
                if (off_ < s.size() && s[off_] == ' ')
                    ++off_;
                return s.mid(start, i - start);
            }
        }
        // No closing bracket: the rest of the piece is the code.
        off_ = s.size();
        return s.mid(start);
    }

    // One value; false at the end of the response, before a closing parenthesis,
    // or once lists went deeper than the limit (tooDeep() then says so).
    bool value(ImapValue &out, int depth = 0)
    {
        if (tooDeep_)
            return false;
        skipSpaces();
        if (literalFollows()) {
            out.kind = ImapValue::String;
            out.text = std::move(lits_[si_]);
            ++si_;
            off_ = 0;
            return true;
        }
        if (atEnd() || atSegmentEnd())
            return false;
        const char c = segs_[si_][off_];
        if (c == ')')
            return false;
        if (c == '(')
            return list(out, depth);
        if (c == '"')
            quoted(out);
        else
            atom(out);
        return true;
    }

    bool tooDeep() const { return tooDeep_; }

private:
    // A parenthesised list at the current '('; false once lists go deeper than the limit.
    bool list(ImapValue &out, int depth)
    {
        if (depth >= ImapParser::kMaxNesting) {
            tooDeep_ = true;
            return false;
        }
        ++off_;
        out.kind = ImapValue::List;
        while (true) {
            ImapValue item;
            if (!value(item, depth + 1))
                break;
            out.list.push_back(std::move(item));
        }
        skipSpaces();
        if (peek() == ')')
            ++off_;
        return true;
    }

    // A quoted string at the current '"'; an unterminated one is what there is.
    void quoted(ImapValue &out)
    {
        const QByteArray &s = segs_[si_];
        ++off_;
        out.kind = ImapValue::String;
        while (off_ < s.size()) {
            const char d = s[off_++];
            if (d == '"')
                return;
            if (d == '\\' && off_ < s.size())
                out.text += s[off_++];
            else
                out.text += d;
        }
    }

    // An atom; brackets may hold blanks and parentheses ("BODY[HEADER.FIELDS (DATE)]").
    void atom(ImapValue &out)
    {
        const QByteArray &s = segs_[si_];
        const qsizetype start = off_;
        int brackets = 0;
        while (off_ < s.size()) {
            const char d = s[off_];
            if (d == '[')
                ++brackets;
            else if (d == ']' && brackets > 0)
                --brackets;
            else if (brackets == 0 && (d == ' ' || d == '(' || d == ')'))
                break;
            ++off_;
        }
        out.text = s.mid(start, off_ - start);
        out.kind = equalsNoCase(out.text, "NIL") ? ImapValue::Nil : ImapValue::Atom;
        if (off_ == start) {  // a stray byte that starts no value: skip it
            ++off_;
            out.text = s.mid(start, 1);
        }
    }

    std::vector<QByteArray> &segs_;
    std::vector<QByteArray> &lits_;
    size_t si_ = 0;
    qsizetype off_ = 0;
    bool tooDeep_ = false;
};

bool isStatusWord(const QByteArray &w)
{
    return equalsNoCase(w, "OK") || equalsNoCase(w, "NO") || equalsNoCase(w, "BAD") || equalsNoCase(w, "BYE")
           || equalsNoCase(w, "PREAUTH");
}

// Builds the response from its pieces; false when its lists nest too deeply.
bool buildResponse(std::vector<QByteArray> segments, std::vector<QByteArray> literals, ImapResponse &r)
{
    for (size_t i = 0; i < segments.size(); ++i) {
        r.raw += segments[i];
        if (i < literals.size()) {
            r.raw += '{' + QByteArray::number(literals[i].size()) + "}\r\n";
            if (literals[i].size() <= kRawLiteralLimit)
                r.raw += literals[i];
        }
    }

    Tokenizer t(segments, literals);
    const QByteArray &first = segments.front();
    if (first.startsWith('+')) {
        r.kind = ImapResponse::Continuation;
        t.word();
        t.skipSpaces();
        r.text = t.rest();
        return true;
    }
    if (first.startsWith("* ") || first == "*") {
        r.kind = ImapResponse::Untagged;
        t.word();  // "*"
        t.skipSpaces();
        // A status response has a status word here; data starts with a value.
        if (!t.literalFollows()) {
            Tokenizer probe = t;
            const QByteArray w = probe.word();
            if (isStatusWord(w)) {
                t.word();
                r.status = w.toUpper();
                r.code = t.responseCode();
                t.skipSpaces();
                r.text = t.rest();
                return true;
            }
        }
        ImapValue v;
        while (t.value(v)) {
            r.values.push_back(std::move(v));
            v = ImapValue();
        }
        // A stray ")" would stop the loop; the rest is not data we understand.
        return !t.tooDeep();
    }
    r.kind = ImapResponse::Tagged;
    r.tag = t.word();
    r.status = t.word().toUpper();
    r.code = t.responseCode();
    t.skipSpaces();
    r.text = t.rest();
    return true;
}

// "{123}" or "{123+}" at the end of a line: the size, else -1 (-2: too many digits).
qint64 literalMarker(const char *line, qsizetype len)
{
    if (len < 3 || line[len - 1] != '}')
        return -1;
    qsizetype i = len - 2;
    if (line[i] == '+')
        --i;
    const qsizetype lastDigit = i;
    while (i >= 0 && line[i] >= '0' && line[i] <= '9')
        --i;
    if (i < 0 || line[i] != '{' || i == lastDigit)
        return -1;
    if (lastDigit - i > 18)
        return -2;
    qint64 n = 0;
    for (qsizetype k = i + 1; k <= lastDigit; ++k)
        n = n * 10 + (line[k] - '0');
    return n;
}

}  // namespace

bool ImapValue::isAtom(const char *name) const
{
    return kind != List && kind != String && equalsNoCase(text, name);
}

const ImapValue *ImapValue::item(const char *name) const
{
    for (size_t i = 0; i + 1 < list.size(); ++i) {
        if (list[i].kind == Atom && equalsNoCase(list[i].text, name))
            return &list[i + 1];
    }
    return nullptr;
}

ImapValue *ImapValue::item(const char *name)
{
    return const_cast<ImapValue *>(std::as_const(*this).item(name));
}

QByteArray ImapResponse::name() const
{
    if (values.empty())
        return {};
    if (number() >= 0)
        return values.size() > 1 ? values[1].text.toUpper() : QByteArray();
    return values[0].text.toUpper();
}

qint64 ImapResponse::number() const
{
    if (values.empty() || values[0].kind != ImapValue::Atom)
        return -1;
    bool ok = false;
    const qint64 n = values[0].text.toLongLong(&ok);
    return ok && n >= 0 ? n : -1;
}

void ImapParser::reset()
{
    buf_.clear();
    pos_ = 0;
    scanFrom_ = 0;
    segments_.clear();
    literals_.clear();
    inLiteral_ = false;
    literalSize_ = 0;
    literal_.clear();
    responseBytes_ = 0;
    ready_.clear();
    error_ = Error::None;
    errorText_.clear();
    errorLine_.clear();
}

ImapResponse ImapParser::takeResponse()
{
    ImapResponse r = std::move(ready_.front());
    ready_.pop_front();
    return r;
}

void ImapParser::setError(Error error, const QString &text)
{
    error_ = error;
    errorText_ = text;
    buf_.clear();
    pos_ = scanFrom_ = 0;
    literal_.clear();
    inLiteral_ = false;
    segments_.clear();
    literals_.clear();
    responseBytes_ = 0;
}

bool ImapParser::spend(qint64 bytes)
{
    if (responseBytes_ + bytes > maxResponseBytes()) {
        failOverBudget();
        return false;
    }
    responseBytes_ += bytes;
    return true;
}

QByteArray ImapParser::responseHead() const
{
    return segments_.empty() ? buf_.mid(pos_, qMin<qsizetype>(buf_.size() - pos_, 64)) : segments_.front().left(64);
}

void ImapParser::failOverBudget()
{
    errorLine_ = responseHead();
    setError(Error::ResponseTooLarge,
             QStringLiteral("the server sent a response of more than %1 bytes").arg(maxResponseBytes()));
}

qint64 ImapParser::lineRoom() const
{
    return maxResponseBytes() - responseBytes_ - kPieceCost;
}

// Both limits can break within one line. Whichever breaks at the earlier byte
// is reported, so the error does not depend on how the stream was cut up: the
// line limit at its byte maxLine_ + 2, the budget once the line's bytes so far
// plus its line feed no longer fit.
bool ImapParser::failLine(bool tooLong, bool overBudget)
{
    if (tooLong && (!overBudget || maxLine_ + 2 <= qMax<qint64>(1, lineRoom()))) {
        errorLine_ = responseHead();
        setError(Error::LineTooLong, QStringLiteral("the server sent a line longer than %1 bytes").arg(maxLine_));
        return true;
    }
    if (overBudget)
        failOverBudget();
    return overBudget;
}

void ImapParser::feed(const char *data, qsizetype size)
{
    while (size > 0 && !hasError()) {
        qsizetype n = 0;
        char *to = room(size, &n);
        memcpy(to, data, size_t(n));
        filled(n);
        data += n;
        size -= n;
    }
}

char *ImapParser::room(qsizetype most, qsizetype *size)
{
    *size = 0;
    if (hasError() || most <= 0)
        return nullptr;
    // The bulk of a large literal goes straight into the literal, not through buf_.
    if (inLiteral_ && pos_ >= buf_.size()) {
        const qsizetype n = qsizetype(qMin<qint64>(most, literalSize_ - literal_.size()));
        roomAt_ = literal_.size();
        literal_.resize(roomAt_ + n);
        *size = n;
        return literal_.data() + roomAt_;
    }
    roomAt_ = buf_.size();
    buf_.resize(roomAt_ + most);
    *size = most;
    return buf_.data() + roomAt_;
}

void ImapParser::filled(qsizetype n)
{
    if (roomAt_ < 0)
        return;
    const qsizetype at = roomAt_;
    roomAt_ = -1;
    if (inLiteral_ && pos_ >= buf_.size()) {
        literal_.truncate(at + qMax<qsizetype>(0, n));
        if (literal_.size() == literalSize_) {
            literals_.push_back(std::move(literal_));
            literal_ = QByteArray();
            inLiteral_ = false;
        }
        buf_.clear();
        pos_ = scanFrom_ = 0;
    } else {
        buf_.truncate(at + qMax<qsizetype>(0, n));
    }
    if (n > 0)
        parse();
}

void ImapParser::parse()
{
    while (!hasError()) {
        if (inLiteral_) {
            if (!takeLiteralBytes())
                break;
            continue;
        }
        const qsizetype from = qMax(pos_, scanFrom_);
        const qsizetype lf = buf_.indexOf('\n', from);
        if (lf < 0) {
            scanFrom_ = buf_.size();
            // A line of the largest length may still have its CR here.
            const qint64 open = buf_.size() - pos_;
            failLine(open > maxLine_ + 1, open >= qMax<qint64>(1, lineRoom()));
            break;
        }
        qsizetype end = lf;
        if (end > pos_ && buf_[end - 1] == '\r')
            --end;
        const qint64 lineBytes = lf + 1 - pos_;
        if (failLine(end - pos_ > maxLine_, lineBytes > lineRoom()))
            break;
        responseBytes_ += lineBytes + kPieceCost;
        const qint64 n = literalMarker(buf_.constData() + pos_, end - pos_);
        if (n == -2 || n > maxLiteral_) {
            errorLine_ = responseHead();
            setError(Error::LiteralTooLarge,
                     QStringLiteral("the server announced %1 bytes of data, more than the limit of %2 bytes")
                         .arg(n == -2 ? QStringLiteral("too many") : QString::number(n))
                         .arg(maxLiteral_));
            break;
        }
        if (n >= 0) {
            // The literal is charged in full before any of it is stored.
            if (!spend(n + kPieceCost))
                break;
            // Keep the text before the marker; the literal's value takes its place.
            const qsizetype brace = buf_.lastIndexOf('{', end - 1);
            segments_.push_back(buf_.mid(pos_, brace - pos_));
            pos_ = lf + 1;
            scanFrom_ = pos_;
            inLiteral_ = true;
            literalSize_ = n;
            literal_ = QByteArray();
            continue;
        }
        segments_.push_back(buf_.mid(pos_, end - pos_));
        pos_ = lf + 1;
        scanFrom_ = pos_;
        finishResponse();
    }
    if (!hasError())
        dropConsumedBytes();
}

// Moves what has arrived of the literal being read into it; true once it is whole.
bool ImapParser::takeLiteralBytes()
{
    const qsizetype avail = buf_.size() - pos_;
    const qsizetype n = qsizetype(qMin<qint64>(avail, literalSize_ - literal_.size()));
    literal_.append(buf_.constData() + pos_, n);
    pos_ += n;
    if (literal_.size() < literalSize_)
        return false;
    literals_.push_back(std::move(literal_));
    literal_ = QByteArray();
    inLiteral_ = false;
    scanFrom_ = pos_;
    return true;
}

// Drops consumed bytes, but only in large steps, so the work stays linear.
void ImapParser::dropConsumedBytes()
{
    if (pos_ >= buf_.size()) {
        buf_.clear();
        pos_ = scanFrom_ = 0;
    } else if (pos_ > 65536 && pos_ > buf_.size() / 2) {
        buf_.remove(0, pos_);
        scanFrom_ -= pos_;
        pos_ = 0;
    }
}

void ImapParser::finishResponse()
{
    std::vector<QByteArray> segs;
    std::vector<QByteArray> lits;
    segs.swap(segments_);
    lits.swap(literals_);
    literalSize_ = 0;
    responseBytes_ = 0;
    if (segs.size() == 1 && segs.front().isEmpty())
        return;  // a blank line carries nothing
    const QByteArray head = segs.front().left(64);
    ImapResponse r;
    if (!buildResponse(std::move(segs), std::move(lits), r)) {
        errorLine_ = head;
        setError(Error::NestedTooDeep,
                 QStringLiteral("the server sent lists nested deeper than %1 levels").arg(kMaxNesting));
        return;
    }
    ready_.push_back(std::move(r));
}

}  // namespace vc
