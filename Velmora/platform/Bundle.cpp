#include "platform/Bundle.h"

#include "platform/BuildInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velmora::platform {
namespace {

class MainBundle final : public Bundle
{
public:
    QVariant infoValue(const QString &key) const override { return buildInfoDictionary().value(key); }

    std::optional<QString> bundleDirectory() const override
    {
        const QString binDir = executableDirectory();
        if (binDir.isEmpty())
            return std::nullopt;
        return QDir::cleanPath(binDir + QStringLiteral("/.."));
    }

    std::optional<QString> resourceDirectory() const override
    {
        const auto bundle = bundleDirectory();
        if (!bundle)
            return std::nullopt;
        const QString resources = *bundle + QStringLiteral("/Resources");
        if (!QFileInfo(resources).isDir())
            return std::nullopt;
        return resources;
    }

    std::optional<QString> applicationSupportDirectory() const override
    {
        const QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
        if (dirs.isEmpty())
            return std::nullopt;
        return QDir::cleanPath(dirs.first());
    }
};

} // namespace

QString executableDirectory()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Where Qt itself looks on Linux.
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    return self.exists() ? QFileInfo(self.canonicalFilePath()).absolutePath() : QString();
}

QUrl Bundle::bundleURL() const
{
    const auto directory = bundleDirectory();
    return directory ? QUrl::fromLocalFile(*directory) : QUrl();
}

Bundle &Bundle::main()
{
    static MainBundle bundle;
    return bundle;
}

} // namespace velmora::platform
