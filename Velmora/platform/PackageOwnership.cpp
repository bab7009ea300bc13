#include "platform/PackageOwnership.h"

#include <QFile>

namespace velmora::platform {

bool PackageOwnership::ownsPath(const QString &path) const
{
    return listedByPackage(m_infoFolder, path);
}

bool PackageOwnership::listedByPackage(const QString &infoFolder, const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray line = '\n' + QFile::encodeName(path) + '\n';
    const QString name = QLatin1String(packageName);
    // "velmora.list", or "velmora:amd64.list" for a package built for several architectures.
    // Named, not searched for: the folder holds thousands of other files.
    QStringList lists{name + QStringLiteral(".list")};
    if (const char *architecture = debianArchitecture())
        lists << name + QLatin1Char(':') + QLatin1String(architecture) + QStringLiteral(".list");
    for (const QString &listName : lists) {
        QFile list(infoFolder + QLatin1Char('/') + listName);
        if (!list.open(QIODevice::ReadOnly))
            continue;
        // A list starts with its first path, without a line feed before it.
        const QByteArray content = '\n' + list.readAll();
        if (content.contains(line) || content.endsWith(line.chopped(1)))
            return true;
    }
    return false;
}

const char *PackageOwnership::debianArchitecture()
{
#if defined(__x86_64__)
    return "amd64";
#elif defined(__aarch64__)
    return "arm64";
#elif defined(__i386__)
    return "i386";
#elif defined(__arm__)
    return "armhf";
#elif defined(__riscv) && __riscv_xlen == 64
    return "riscv64";
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return "ppc64el";
#elif defined(__s390x__)
    return "s390x";
#else
    return nullptr;
#endif
}

PackageOwnership &PackageOwnership::system()
{
    static PackageOwnership ownership;
    return ownership;
}

} // namespace velmora::platform
