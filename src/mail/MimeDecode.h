#pragma once
#include "mail/Attachments.h"
#include "mail/ImapComponent.h"

#include <QByteArray>
#include <QString>

namespace vc {

// What a run needs decoded beyond the sender, subject, date and plain-text body.
// The defaults give every value the message record has always had; a run that
// reads less says so and its messages cost less to decode.
struct DecodeNeeds {
    bool headers = false;  // every header field into MailRecord::headers
    // The HTML body into MailRecord::HTMLTextBody. Without it HTMLTextBody stays
    // empty and a message with a plain-text part never has its HTML part
    // decoded; the plain-text body is the same either way (an HTML-only
    // message still gets the HTML's visible text).
    bool htmlBody = true;

    // Attachments: their names, content types and decoded sizes into
    // MailRecord::attachments; with `attachmentText` (which turns the list on
    // too) also the text of each kind that has text, or why a file gave none,
    // which PlainTextBody gets after the body as well, each introduced by a
    // line "--- attachment NAME ---" (pictures and archives get no line).
    // `attachmentBytes` takes the decoded bytes of the attachments it wants
    // (to save them) and turns the list on as well.
    bool attachments = false;
    bool attachmentText = false;
    AttachmentSink attachmentBytes = {};
    // Asked with the name and content type of each attachment: true keeps its
    // decoded bytes in MailRecord::heldAttachmentBytes (for whoever saves it once the
    // message's UID is known). Called on the decoding thread; turns the list on.
    std::function<bool(const AttachmentInfo &)> keepBytes = {};

    bool wantsAttachments() const { return attachments || attachmentText || attachmentBytes || keepBytes; }
};

// Changes whenever decodeMessage() gives something else for the same message;
// records kept from another version are decoded afresh.
inline constexpr int kDecoderVersion = 1;

// Decodes one raw RFC 5322 message (as fetched with BODY.PEEK[]) into a
// message record: the sender (whole, name, address), the subject, the date
// (with its own offset, and as text), the Message-ID, the plain-text body (the
// HTML's visible text for HTML-only mail) and the HTML body. Where the message
// came from is for the caller to fill in. Malformed input decodes as far as it
// can; never throws.
MailRecord decodeMessage(const QByteArray &raw, const DecodeNeeds &needs = {});

}  // namespace vc
