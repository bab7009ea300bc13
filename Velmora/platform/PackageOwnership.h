#pragma once

#include <QString>

namespace velmora::platform {

// Whether the system's package manager installed a file. On Debian dpkg records every file of
// every installed package, one path a line, in its database's "<package>.list" files.
class PackageOwnership
{
public:
    // Reads the lists in infoFolder (dpkg's "/var/lib/dpkg/info" unless given).
    explicit PackageOwnership(QString infoFolder = QStringLiteral("/var/lib/dpkg/info"))
        : m_infoFolder(std::move(infoFolder))
    {
    }
    virtual ~PackageOwnership() = default;

    // True when an installed package lists the absolute path exactly.
    virtual bool ownsPath(const QString &path) const;

    static PackageOwnership &system();

private:
    QString m_infoFolder;
};

} // namespace velmora::platform
