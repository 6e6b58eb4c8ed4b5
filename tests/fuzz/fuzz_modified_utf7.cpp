// Mailbox names: any bytes from a server decode without harm, and any name
// (the input read as UTF-16, lone surrogates included) survives the round trip
// as printable ASCII.
#include "mail/ModifiedUtf7.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray wire(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString decoded = vc::decodeMailboxName(wire);
    if (vc::decodeMailboxName(vc::encodeMailboxName(decoded)) != decoded)
        __builtin_trap();

    const QString name(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    const QByteArray encoded = vc::encodeMailboxName(name);
    for (const char c : encoded) {
        if (c < 0x20 || c > 0x7e)
            __builtin_trap();
    }
    if (vc::decodeMailboxName(encoded) != name)
        __builtin_trap();
    return 0;
}
