#pragma once

#include <QString>

namespace velmora::platform {

// Whether the system's package manager installed Velmora's own file. On Debian dpkg records
// every file of an installed package, one path a line, in "<package>.list" (or
// "<package>:<architecture>.list") in its database folder. Only the velmora package's list is
// read: the question is whether that package put the bundle there, and its list is one small
// file among thousands.
class PackageOwnership
{
public:
    // Reads the lists in infoFolder (dpkg's "/var/lib/dpkg/info" unless given).
    explicit PackageOwnership(QString infoFolder = QStringLiteral("/var/lib/dpkg/info"))
        : m_infoFolder(std::move(infoFolder))
    {}
    virtual ~PackageOwnership() = default;

    // True when the velmora package lists the absolute path exactly.
    virtual bool ownsPath(const QString &path) const;

    QString infoFolder() const { return m_infoFolder; }

    // The check itself, on values only, so that it can run on any thread.
    static bool listedByPackage(const QString &infoFolder, const QString &path);

    // The package whose list is read.
    static constexpr const char *packageName = "velmora";
    // Debian's name of the architecture this build runs on ("amd64"); nullptr when unknown.
    static const char *debianArchitecture();

    static PackageOwnership &system();

private:
    QString m_infoFolder;
};

} // namespace velmora::platform
