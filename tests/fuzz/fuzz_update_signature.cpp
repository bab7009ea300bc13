// The signature of an update comes from the feed (the enclosure's sparkle:edSignature), and the
// public keys from the build's settings. Neither may be read loosely: one value has exactly one
// spelling, and only the real signature of the data verifies.
//
// Input: the signature text, then optionally a line feed and key texts separated by spaces.

#include "FuzzSupport.h"

#include "updates/UpdateSignature.h"

using namespace velmora;
using namespace velmora::updates;

namespace {

const QByteArray message = QByteArrayLiteral("Velmora-1.1-linux-x86_64.tar.gz, as the fuzzer's fixed data");

const KeyPair &keys()
{
    static const KeyPair pair = *keyPairFromPrivateKey(QByteArray(secretSeedBytes, '\x2a'));
    return pair;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    keys();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = fuzz::textOf(data, size);
    const qsizetype lineEnd = input.indexOf(QLatin1Char('\n'));
    const QString signature = lineEnd < 0 ? input : input.left(lineEnd);
    const QStringList keyTexts = lineEnd < 0 ? QStringList() : input.mid(lineEnd + 1).split(QLatin1Char(' '));

    for (qsizetype size : {signatureBytes, publicKeyBytes}) {
        const auto decoded = decodeBase64Exactly(signature, size);
        if (decoded) {
            fuzz::check(decoded->size() == size, "the decoded value has the size asked for");
            fuzz::check(QString::fromLatin1(decoded->toBase64()) == signature, "one spelling per value");
        }
    }

    static const QString real = signData(message, keys());
    const SignatureCheck check = verifySignature(message, signature, {keys().publicKey});
    fuzz::check((check == SignatureCheck::Valid) == (signature == real), "only the real signature verifies");
    fuzz::check(verifySignature(message, signature, {}) != SignatureCheck::Valid, "nothing verifies without a key");
    if (signature.isEmpty())
        fuzz::check(check == SignatureCheck::Missing, "an empty signature is missing");

    const PublicKeys decodedKeys = decodePublicKeys(keyTexts);
    fuzz::check(decodedKeys.ok() ? decodedKeys.keys.size() == keyTexts.size() : decodedKeys.keys.isEmpty(),
                "keys are read all or none");
    fuzz::check(decodedKeys.keys.size() <= maxPublicKeys, "at most two keys");
    for (const QByteArray &key : decodedKeys.keys)
        fuzz::check(key.size() == publicKeyBytes, "every key has 32 bytes");
    if (decodedKeys.ok() && !decodedKeys.keys.isEmpty() && !decodedKeys.keys.contains(keys().publicKey))
        fuzz::check(verifySignature(message, real, decodedKeys.keys) != SignatureCheck::Valid,
                    "another key does not verify the real signature");
    return 0;
}
