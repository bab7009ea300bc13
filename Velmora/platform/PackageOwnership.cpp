#include "platform/PackageOwnership.h"

#include <QDir>
#include <QFile>

namespace velmora::platform {

bool PackageOwnership::ownsPath(const QString &path) const
{
    if (path.isEmpty())
        return false;
    const QByteArray line = '\n' + QFile::encodeName(path) + '\n';
    const QDir info(m_infoFolder);
    for (const QString &name : info.entryList({QStringLiteral("*.list")}, QDir::Files)) {
        QFile list(info.filePath(name));
        if (!list.open(QIODevice::ReadOnly))
            continue;
        // A list starts with its first path, without a line feed before it.
        const QByteArray content = '\n' + list.readAll();
        if (content.contains(line) || content.endsWith(line.chopped(1)))
            return true;
    }
    return false;
}

PackageOwnership &PackageOwnership::system()
{
    static PackageOwnership ownership;
    return ownership;
}

} // namespace velmora::platform
