#pragma once
#include <QByteArray>
#include <QList>

#include <functional>
#include <optional>

namespace vc {

// One command as it goes on the wire, without its tag and final CRLF.
//
// A synchronising literal splits the command into pieces: each piece after the
// first goes out once the server's go-ahead ("+ ...") for the literal that ends
// the piece before it has come. A command whose server asks for more than that
// (a SASL exchange: "+ <base64 challenge>") answers through `answerChallenge`.
struct ImapCommand {
    // The line to send for a continuation request that comes once every piece is
    // out, given the request's text; nothing gives the command up.
    using ChallengeAnswer = std::function<std::optional<QByteArray>(const QByteArray &challenge)>;

    QList<QByteArray> pieces{QByteArray()};
    ChallengeAnswer answerChallenge;
    // For a command that stays open after its go-ahead until the client ends it
    // (IDLE): called with the request's text instead of answering it.
    std::function<void(const QByteArray &text)> onGoAhead;

    ImapCommand() = default;
    explicit ImapCommand(const QByteArray &text) : pieces{text} {}

    // Appends bytes as they are.
    ImapCommand &text(const QByteArray &t)
    {
        pieces.last() += t;
        return *this;
    }
    // Appends a string argument: quoted when it is short printable ASCII, else a
    // literal, non-synchronising ("{n+}") when the server has LITERAL+.
    ImapCommand &astring(const QByteArray &bytes, bool literalPlus);
};

}  // namespace vc
