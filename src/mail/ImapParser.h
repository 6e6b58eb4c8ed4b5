#pragma once
#include <QByteArray>
#include <QString>

#include <deque>
#include <vector>

namespace vc {

// One value of a server response: an atom (numbers, flags and NIL included),
// a string (quoted or literal) or a parenthesised list.
struct ImapValue {
    enum Kind { Atom, String, Nil, List };
    Kind kind = Atom;
    QByteArray text;              // atom or string bytes (unescaped)
    std::vector<ImapValue> list;  // items of a list

    bool isAtom(const char *name) const;  // an atom with this text, any letter case
    bool isString() const { return kind == String || kind == Atom; }
    // The value after the atom `name` inside a list, e.g. item(BODY[]) of a FETCH
    // list; nullptr when missing.
    const ImapValue *item(const char *name) const;
    ImapValue *item(const char *name);
};

// One complete response line (literals included).
struct ImapResponse {
    enum Kind { Tagged, Untagged, Continuation };
    Kind kind = Untagged;
    QByteArray tag;                 // tagged: the tag
    QByteArray status;              // OK/NO/BAD/BYE/PREAUTH (upper case) for status responses, else empty
    QByteArray code;                // the text inside [...] of a status response, without the brackets
    QByteArray text;                // the human text of a status or continuation response
    std::vector<ImapValue> values;  // untagged data: every value after "* " ("3", "EXISTS"; "LIST", (...), ...)
    QByteArray raw;                 // the response as received, without the final CRLF
                                    // (literals above 64 KiB are left out of it)

    bool isStatus() const { return !status.isEmpty(); }
    // Untagged data: the response's name in upper case ("EXISTS", "FETCH", "LIST",
    // "CAPABILITY"), skipping a leading message number.
    QByteArray name() const;
    // Untagged data that starts with a number ("* 3 EXISTS"): that number, else -1.
    qint64 number() const;
};

// Splits the byte stream of an IMAP server into complete responses. Feed it
// bytes in any chunking; it never allocates ahead of data that has arrived.
// These put it in an error state that only reset() clears: a literal longer
// than the limit, a line without an end longer than the line limit, one
// response longer than the response budget (the literal limit plus one line's
// worth), and lists nested deeper than kMaxNesting.
class ImapParser {
public:
    static constexpr qint64 kDefaultMaxLiteral = qint64(256) << 20;
    static constexpr qint64 kMaxLineLength = qint64(8) << 20;
    static constexpr int kMaxNesting = 256;

    void feed(const QByteArray &data) { feed(data.constData(), data.size()); }
    void feed(const char *data, qsizetype size);
    // feed() without a copy in between: room() says where the next at most
    // `most` bytes of the stream go (straight into the literal being read,
    // when nothing else waits) and how many fit there, at least one;
    // filled() takes the `n` bytes written there, as feed() would. Nothing
    // (nullptr) once the stream is broken.
    char *room(qsizetype most, qsizetype *size);
    void filled(qsizetype n);

    bool hasResponse() const { return !ready_.empty(); }
    ImapResponse takeResponse();

    // Which limit broke the stream.
    enum class Error { None, LiteralTooLarge, ResponseTooLarge, LineTooLong, NestedTooDeep };
    bool hasError() const { return error_ != Error::None; }
    Error error() const { return error_; }
    const QString &errorText() const { return errorText_; }
    // The first bytes of the response that broke a limit ("* 7 FETCH (BODY[] {...").
    const QByteArray &errorLine() const { return errorLine_; }

    void setMaxLiteralBytes(qint64 bytes) { maxLiteral_ = bytes; }
    qint64 maxLiteralBytes() const { return maxLiteral_; }
    // The longest line, without its CR LF (kMaxLineLength unless set).
    void setMaxLineBytes(qint64 bytes) { maxLine_ = bytes; }
    qint64 maxLineBytes() const { return maxLine_; }
    // The most bytes one response may take on the wire, literals and line ends included.
    qint64 maxResponseBytes() const { return maxLiteral_ + maxLine_; }

    // The literal being read: whether there is one, its announced size and the
    // bytes of it received so far.
    bool inLiteral() const { return inLiteral_; }
    qint64 literalSize() const { return literalSize_; }
    qint64 literalReceived() const { return literal_.size(); }
    // The text of the response being collected, up to its first literal
    // ("* 7 FETCH (BODY[] "); empty between responses.
    QByteArray pendingHead() const { return segments_.empty() ? QByteArray() : segments_.front(); }

    void reset();

private:
    void parse();
    bool takeLiteralBytes();
    void dropConsumedBytes();
    void finishResponse();
    void setError(Error error, const QString &text);
    // Counts `bytes` more of the response being collected; false (error set) over the budget.
    bool spend(qint64 bytes);
    void failOverBudget();
    // Fails the stream for the line at pos_ when it breaks the line limit or the budget.
    bool failLine(bool tooLong, bool overBudget);
    qint64 lineRoom() const;          // what the line at pos_ may take, line feed included
    QByteArray responseHead() const;  // of the response being collected

    QByteArray buf_;
    qsizetype pos_ = 0;       // first unconsumed byte of buf_
    qsizetype roomAt_ = -1;   // where room() put the bytes to come: in literal_ when inLiteral_, else buf_
    qsizetype scanFrom_ = 0;  // where the search for the next line end resumes
    qint64 maxLiteral_ = kDefaultMaxLiteral;
    qint64 maxLine_ = kMaxLineLength;

    // The response being collected: text pieces, each but the last followed by a literal.
    std::vector<QByteArray> segments_;
    std::vector<QByteArray> literals_;
    bool inLiteral_ = false;
    qint64 literalSize_ = 0;
    QByteArray literal_;
    qint64 responseBytes_ = 0;  // wire bytes of the response being collected

    std::deque<ImapResponse> ready_;
    Error error_ = Error::None;
    QString errorText_;
    QByteArray errorLine_;
};

}  // namespace vc
