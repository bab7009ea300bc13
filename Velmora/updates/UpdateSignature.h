#pragma once

// Ed25519 signatures of release archives, in the update framework's format: the signature is
// the enclosure's sparkle:edSignature attribute, base64 of the 64-byte detached signature over
// the whole archive; a public key is base64 of its 32 bytes (the framework's public-key entry).
// A build names up to two keys, so that a new key can be introduced before the old one goes.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace velmora::updates {

inline constexpr qsizetype publicKeyBytes = 32;
inline constexpr qsizetype secretSeedBytes = 32;
inline constexpr qsizetype signatureBytes = 64;
// Keys a build may name at once: the current one and the one that replaces it.
inline constexpr qsizetype maxPublicKeys = 2;

// Strict base64 (padding included, no white space inside) of exactly size bytes; nullopt for
// anything else.
std::optional<QByteArray> decodeBase64Exactly(QStringView text, qsizetype size);

struct PublicKeys
{
    QList<QByteArray> keys; // 32 bytes each
    // Empty when every entry was a key; otherwise which entry is not (and keys is empty).
    QString error;

    bool ok() const { return error.isEmpty(); }
};

// Reads a build's key list: one to maxPublicKeys base64 keys; an empty list reads as no keys
// without an error (such a build installs nothing).
PublicKeys decodePublicKeys(const QStringList &base64Keys);

enum class SignatureCheck {
    Valid,
    Missing,   // the item carries no signature
    Malformed, // not base64 of 64 bytes
    NoKeys,    // the build has no key to check with
    Invalid,   // no key of the build verifies it over these bytes
};

// Checks the signature text against the whole of data with each key.
SignatureCheck verifySignature(QByteArrayView data, const QString &signature, const QList<QByteArray> &keys);

// For the signing tool and the tests; the application itself never signs.
struct KeyPair
{
    QByteArray seed;      // 32 bytes: the private key as the framework exports it
    QByteArray publicKey; // 32 bytes
};
KeyPair generateKeyPair();
// The key pair of a private key given as its 32-byte seed or as libsodium's 64-byte secret key
// (seed followed by the public key, checked); nullopt for anything else.
std::optional<KeyPair> keyPairFromPrivateKey(const QByteArray &privateKey);
// The base64 signature over data.
QString signData(QByteArrayView data, const KeyPair &keys);

} // namespace velmora::updates
