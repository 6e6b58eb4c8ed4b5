// The MIME decoding path on any message: the decoder (what a run that reads
// less gets must be what the full decode gives), the HTML-to-text conversion
// of what it found, and the charset conversion under a few labels.
#include "mail/Charsets.h"
#include "mail/HtmlText.h"
#include "mail/MimeDecode.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));
    const vc::MailRecord email = vc::decodeMessage(raw);
    // A run that reads less gets the same values for what it reads.
    const vc::MailRecord least = vc::decodeMessage(raw, vc::DecodeNeeds{false, false});
    const vc::MailRecord all = vc::decodeMessage(raw, vc::DecodeNeeds{true, true});
    if (least.From != all.From || least.FromName != all.FromName || least.FromAddress != all.FromAddress
        || least.Subject != all.Subject || least.date != all.date || least.messageId != all.messageId
        || least.PlainTextBody != all.PlainTextBody || !least.HTMLTextBody.isEmpty()
        || email.HTMLTextBody != all.HTMLTextBody || email.PlainTextBody != all.PlainTextBody)
        __builtin_trap();
    (void)vc::htmlToPlainText(email.HTMLTextBody);
    (void)vc::htmlToPlainText(QString::fromUtf8(raw));
    static const char *const charsets[] = {"", "utf-8", "iso-2022-jp", "utf-7", "koi8-r", "x-unknown"};
    const QByteArray label = charsets[size % (sizeof charsets / sizeof *charsets)];
    (void)vc::decodeCharset(raw, label);
    return 0;
}
