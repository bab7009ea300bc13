// velmora-update-sign: the signing side of Velmora's updates, in the update framework's format.
//
//   velmora-update-sign generate-key KEY_FILE
//       Makes a key pair. The private key (base64 of its 32-byte seed, the framework's export
//       format) goes to KEY_FILE, readable by its owner only; the public key is printed, for
//       the build setting VELMORA_UPDATE_PUBLIC_KEYS. KEY_FILE must not exist yet and must lie
//       outside every git working tree: the private key never enters a repository.
//   velmora-update-sign public-key KEY_FILE
//       Prints the public key of a private key.
//   velmora-update-sign sign KEY_FILE ARCHIVE [--url URL]
//       Prints the enclosure attributes of ARCHIVE: sparkle:edSignature="…" length="…". With
//       --url, the whole enclosure element of a Linux item instead, with velmora:arch taken
//       from the archive's name (Velmora-VERSION-linux-ARCH.tar.gz), else this machine's.
//   velmora-update-sign verify PUBLIC_KEY ARCHIVE SIGNATURE
//       Exit status 0 when SIGNATURE (base64) is PUBLIC_KEY's signature of ARCHIVE.
//
// KEY_FILE "-" reads the private key from standard input (for a key kept in a secret store).

#include "platform/MappedFile.h"
#include "updates/Appcast.h"
#include "updates/UpdateSignature.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

using namespace velmora;

namespace {

int usage()
{
    std::fputs("usage: velmora-update-sign generate-key KEY_FILE\n"
               "       velmora-update-sign public-key KEY_FILE\n"
               "       velmora-update-sign sign KEY_FILE ARCHIVE [--url URL]\n"
               "       velmora-update-sign verify PUBLIC_KEY ARCHIVE SIGNATURE\n",
               stderr);
    return 2;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "velmora-update-sign: %s\n", qPrintable(message));
    return 1;
}

// The git working tree that path would lie in, if any.
QString workingTreeAround(const QString &path)
{
    QDir folder = QFileInfo(path).absoluteDir();
    for (;;) {
        if (QFileInfo::exists(folder.filePath(QStringLiteral(".git"))))
            return folder.absolutePath();
        if (!folder.cdUp())
            return {};
    }
}

std::optional<updates::KeyPair> readPrivateKey(const QString &path, QString *error)
{
    QFile file;
    const bool opened = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QString text = QString::fromLatin1(file.read(4096)).trimmed();
    for (qsizetype size : {updates::secretSeedBytes, qsizetype(64)}) {
        if (const auto bytes = updates::decodeBase64Exactly(text, size)) {
            if (auto pair = updates::keyPairFromPrivateKey(*bytes))
                return pair;
        }
    }
    *error = QStringLiteral("%1 holds no private key (base64 of a 32-byte seed or a 64-byte key)").arg(path);
    return std::nullopt;
}

int generateKey(const QString &path)
{
    if (const QString tree = workingTreeAround(path); !tree.isEmpty())
        return fail(QStringLiteral("%1 lies in the git working tree %2; keep the private key outside every repository")
                        .arg(path, tree));
    const updates::KeyPair pair = updates::generateKeyPair();
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(QStringLiteral("%1: %2 (an existing key is never overwritten)")
                        .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    const QByteArray line = pair.seed.toBase64() + '\n';
    const bool written = ::write(fd, line.constData(), size_t(line.size())) == line.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!written) {
        QFile::remove(path);
        return fail(QStringLiteral("%1 could not be written").arg(path));
    }
    std::printf("%s\n", pair.publicKey.toBase64().constData());
    std::fprintf(stderr, "private key written to %s; the line above is the public key for VELMORA_UPDATE_PUBLIC_KEYS\n",
                 qPrintable(path));
    return 0;
}

int publicKey(const QString &path)
{
    QString error;
    const auto pair = readPrivateKey(path, &error);
    if (!pair)
        return fail(error);
    std::printf("%s\n", pair->publicKey.toBase64().constData());
    return 0;
}

int sign(const QString &keyPath, const QString &archivePath, const QString &url)
{
    QString error;
    const auto pair = readPrivateKey(keyPath, &error);
    if (!pair)
        return fail(error);
    const platform::MappedFile archive = platform::MappedFile::open(archivePath);
    if (!archive.isOpen())
        return fail(archive.error());
    const QString signature = updates::signData(archive.data(), *pair);
    const QString attributes = QStringLiteral("sparkle:edSignature=\"%1\" length=\"%2\"").arg(signature).arg(archive.size());
    if (url.isEmpty()) {
        std::printf("%s\n", qPrintable(attributes));
        return 0;
    }
    const auto named = QRegularExpression(QStringLiteral("-linux-([A-Za-z0-9_]+)\\.tar\\.gz$"))
                           .match(QFileInfo(archivePath).fileName());
    const QString architecture = named.hasMatch() ? named.captured(1) : updates::buildArchitecture();
    std::printf("<enclosure url=\"%s\" length=\"%lld\" type=\"application/gzip\" xmlns:velmora=\"%s\" "
                "velmora:arch=\"%s\" sparkle:os=\"linux\" sparkle:edSignature=\"%s\"/>\n",
                qPrintable(url.toHtmlEscaped()), static_cast<long long>(archive.size()), updates::velmoraFeedNamespace,
                qPrintable(architecture), qPrintable(signature));
    return 0;
}

int verify(const QString &key, const QString &archivePath, const QString &signature)
{
    const updates::PublicKeys keys = updates::decodePublicKeys({key});
    if (!keys.ok() || keys.keys.isEmpty())
        return fail(keys.ok() ? QStringLiteral("no public key given") : keys.error);
    const platform::MappedFile archive = platform::MappedFile::open(archivePath);
    if (!archive.isOpen())
        return fail(archive.error());
    switch (updates::verifySignature(archive.data(), signature, keys.keys)) {
    case updates::SignatureCheck::Valid:
        std::printf("valid\n");
        return 0;
    case updates::SignatureCheck::Malformed:
        return fail(QStringLiteral("the signature is not base64 of 64 bytes"));
    default:
        return fail(QStringLiteral("the signature does not match this archive and key"));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.value(0);
    if (command == QLatin1String("generate-key") && arguments.size() == 2)
        return generateKey(arguments[1]);
    if (command == QLatin1String("public-key") && arguments.size() == 2)
        return publicKey(arguments[1]);
    if (command == QLatin1String("sign") && arguments.size() == 3)
        return sign(arguments[1], arguments[2], QString());
    if (command == QLatin1String("sign") && arguments.size() == 5 && arguments[3] == QLatin1String("--url"))
        return sign(arguments[1], arguments[2], arguments[4]);
    if (command == QLatin1String("verify") && arguments.size() == 4)
        return verify(arguments[1], arguments[2], arguments[3]);
    return usage();
}
