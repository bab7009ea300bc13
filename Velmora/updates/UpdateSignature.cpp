#include "updates/UpdateSignature.h"

#include <sodium.h>

#include <cstdlib>

namespace velmora::updates {
namespace {

void ensureSodium()
{
    // Safe to call again and from several threads; it only fails without a source of
    // randomness, and then no key or signature can be trusted.
    if (sodium_init() < 0)
        std::abort();
}

} // namespace

std::optional<QByteArray> decodeBase64Exactly(QStringView text, qsizetype size)
{
    // Only the standard alphabet with padding: fromBase64Encoding alone would also take the
    // URL alphabet's characters and a missing pad.
    const qsizetype encodedSize = 4 * ((size + 2) / 3);
    if (text.size() != encodedSize)
        return std::nullopt;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const bool alphabet = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'+'
                              || u == u'/' || u == u'=';
        if (!alphabet)
            return std::nullopt;
    }
    const auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size)
        return std::nullopt;
    // Exactly one spelling per value: the unused bits of the last character are zero.
    if (decoded.decoded.toBase64() != text.toLatin1())
        return std::nullopt;
    return decoded.decoded;
}

PublicKeys decodePublicKeys(const QStringList &base64Keys)
{
    PublicKeys result;
    if (base64Keys.size() > maxPublicKeys) {
        result.error = QStringLiteral("%1 keys given, at most %2 are used").arg(base64Keys.size()).arg(maxPublicKeys);
        return result;
    }
    for (const QString &text : base64Keys) {
        const auto key = decodeBase64Exactly(QStringView(text).trimmed(), publicKeyBytes);
        if (!key) {
            result.keys.clear();
            result.error = QStringLiteral("\"%1\" is not base64 of a 32-byte key").arg(text.left(80));
            return result;
        }
        result.keys.append(*key);
    }
    return result;
}

SignatureCheck verifySignature(QByteArrayView data, const QString &signature, const QList<QByteArray> &keys)
{
    if (signature.isEmpty())
        return SignatureCheck::Missing;
    const auto bytes = decodeBase64Exactly(signature, signatureBytes);
    if (!bytes)
        return SignatureCheck::Malformed;
    if (keys.isEmpty())
        return SignatureCheck::NoKeys;
    ensureSodium();
    for (const QByteArray &key : keys) {
        if (key.size() != publicKeyBytes)
            continue;
        if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(bytes->constData()),
                                        reinterpret_cast<const unsigned char *>(data.data()),
                                        static_cast<unsigned long long>(data.size()),
                                        reinterpret_cast<const unsigned char *>(key.constData()))
            == 0)
            return SignatureCheck::Valid;
    }
    return SignatureCheck::Invalid;
}

KeyPair generateKeyPair()
{
    ensureSodium();
    QByteArray seed(secretSeedBytes, Qt::Uninitialized);
    randombytes_buf(seed.data(), size_t(seed.size()));
    auto pair = keyPairFromPrivateKey(seed);
    sodium_memzero(seed.data(), size_t(seed.size()));
    return *pair;
}

std::optional<KeyPair> keyPairFromPrivateKey(const QByteArray &privateKey)
{
    ensureSodium();
    if (privateKey.size() != secretSeedBytes && privateKey.size() != crypto_sign_SECRETKEYBYTES)
        return std::nullopt;
    KeyPair pair;
    pair.seed = privateKey.left(secretSeedBytes);
    pair.publicKey = QByteArray(crypto_sign_PUBLICKEYBYTES, Qt::Uninitialized);
    unsigned char secret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char *>(pair.publicKey.data()), secret,
                             reinterpret_cast<const unsigned char *>(pair.seed.constData()));
    sodium_memzero(secret, sizeof secret);
    // A 64-byte key carries its public half: it must be the one the seed gives.
    if (privateKey.size() == crypto_sign_SECRETKEYBYTES && privateKey.mid(secretSeedBytes) != pair.publicKey)
        return std::nullopt;
    return pair;
}

QString signData(QByteArrayView data, const KeyPair &keys)
{
    ensureSodium();
    unsigned char secret[crypto_sign_SECRETKEYBYTES];
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, Qt::Uninitialized);
    crypto_sign_seed_keypair(reinterpret_cast<unsigned char *>(publicKey.data()), secret,
                             reinterpret_cast<const unsigned char *>(keys.seed.constData()));
    QByteArray signature(crypto_sign_BYTES, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(data.data()), static_cast<unsigned long long>(data.size()),
                         secret);
    sodium_memzero(secret, sizeof secret);
    return QString::fromLatin1(signature.toBase64());
}

} // namespace velmora::updates
