#pragma once
#include <QString>

#include <optional>
#include <utility>

namespace vc {

// The kind of failure an operation of our IMAP client ended with, beside the
// readable text of LastErrorText(). Callers that react to the cause (reconnect
// after a dropped line, a message of their own per cause) read this instead of
// parsing the text.
enum class ImapFailure {
    None,            // the last operation succeeded
    HostNotFound,    // the server's name did not resolve
    Refused,         // nothing accepts connections on that port
    Unreachable,     // no route to the server, network down, or the TCP connect timed out
    TlsRejected,     // the server's certificate was not accepted, or the TLS handshake failed
    ClosedByServer,  // the server closed the connection (with a BYE or without one)
    TimedOut,        // the server stayed silent longer than the time-out
    Protocol,        // the server sent something that breaks the protocol
    TooLarge,        // a message (or another literal) above the size limit
    Refusal,         // the server answered NO or BAD, or greeted with BYE
    NoMessage,       // a fetch was answered without the message
    Aborted,         // AbortCheck asked to abandon the operation
    Disconnected,    // Disconnect was called while the operation waited
    Busy,            // another operation was waiting
    NotConnected,    // there is no connection
    NotSelected,     // the operation needs a selected mailbox
    BadRequest,      // the call cannot go on the wire (message number below 1, several lines)
    Local,           // this system: no TLS support, no certificate in the CA file
    NotKept,         // working from the local mail copy alone: it does not hold what was asked for
    Network,         // any other socket error
};

// Why a step failed: the kind, the reason as error texts word it ("timed out
// after 60 s without an answer from the server"), and the server's own words
// when it answered NO, BAD or BYE ("[AUTHENTICATIONFAILED] Invalid
// credentials"; empty when it said nothing).
struct ImapFault {
    ImapFault() = default;
    ImapFault(ImapFailure k, QString why, QString said = QString())
        : kind(k), reason(std::move(why)), serverText(std::move(said))
    {}

    ImapFailure kind = ImapFailure::None;
    QString reason;
    QString serverText;
};

// What an operation gives back: its value, or the fault it ended with (the
// kind, and the reason as the last-error text words it). Callers test it
// (`if (!r) ... r.fault()`) and read the value only after a success. Steps
// above the IMAP client that need more than an ImapFault to say why they
// failed use their own fault type.
template <class T, class Fault = ImapFault>
class ImapResult {
public:
    ImapResult(T value) : value_(std::move(value)) {}
    ImapResult(Fault fault) : fault_(std::move(fault)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const & { return *value_; }
    T &value() & { return *value_; }
    T &&value() && { return std::move(*value_); }
    const T *operator->() const { return &*value_; }
    T *operator->() { return &*value_; }
    const T &operator*() const & { return *value_; }
    T &operator*() & { return *value_; }
    // The fault; a default one after a success.
    const Fault &fault() const { return fault_; }

private:
    std::optional<T> value_;
    Fault fault_;
};

// An operation with nothing to give back but its success.
template <class Fault>
class ImapResult<void, Fault> {
public:
    ImapResult() = default;
    ImapResult(Fault fault) : fault_(std::move(fault)), ok_(false) {}

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const Fault &fault() const { return fault_; }

private:
    Fault fault_;
    bool ok_ = true;
};

// The enumerator's name ("HostNotFound"), for logs and test output.
const char *failureName(ImapFailure kind);

}  // namespace vc
