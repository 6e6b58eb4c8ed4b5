#include "mail/signin/Pkce.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace vc::pkce {

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator *gen = QRandomGenerator::system();
    for (int i = 0; i < count; ++i)
        bytes[i] = char(gen->bounded(256));
    return bytes;
}

}  // namespace

QByteArray makeVerifier()
{
    return randomBytes(32).toBase64(kBase64Url);
}

QByteArray challengeFor(const QByteArray &verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256).toBase64(kBase64Url);
}

QByteArray makeState()
{
    return randomBytes(16).toBase64(kBase64Url);
}

}  // namespace vc::pkce
