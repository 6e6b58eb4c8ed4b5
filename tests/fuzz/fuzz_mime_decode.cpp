// The MIME decoding path on any message: the decoder, the HTML-to-text
// conversion of what it found, and the charset conversion under a few labels.
#include "mail/HtmlText.h"
#include "mail/MimeDecode.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));
    const vc::MailRecord email = vc::decodeMessage(raw);
    (void)vc::htmlToPlainText(email.HTMLTextBody);
    (void)vc::htmlToPlainText(QString::fromUtf8(raw));
    static const char *const charsets[] = {"", "utf-8", "iso-2022-jp", "utf-7", "koi8-r", "x-unknown"};
    const QByteArray label = charsets[size % (sizeof charsets / sizeof *charsets)];
    (void)vc::decodeCharset(raw, label);
    return 0;
}
