#pragma once

#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>
#include <optional>

namespace velmora::platform {

// The keys of the information dictionary.
namespace bundleKey {
// The version users see ("1.2.0"); every build carries it.
inline const QString shortVersion = QStringLiteral("CFBundleShortVersionString");
// The backend's interpreter, relative to the bundle's resources, in a packaged build.
inline const QString bundledInterpreter = QStringLiteral("VelmoraBundledInterpreter");
// The source tree a development build runs its backend from; packaged builds have none.
inline const QString projectRoot = QStringLiteral("VelmoraProjectRoot");
} // namespace bundleKey

// The application bundle as the rules see it: its information dictionary and the folders it
// reports. On Linux the bundle is the folder holding bin/velmora; its resources are the
// "Resources" folder inside it; application support is the XDG data home.
class Bundle
{
public:
    virtual ~Bundle() = default;

    // The dictionary value under key; an invalid QVariant when the key is absent.
    virtual QVariant infoValue(const QString &key) const = 0;
    virtual std::optional<QString> bundleDirectory() const = 0;
    virtual std::optional<QString> resourceDirectory() const = 0;
    // The first user application-support directory the platform reports.
    virtual std::optional<QString> applicationSupportDirectory() const = 0;

    // The bundle folder as a file URL; empty when the bundle reports none.
    QUrl bundleURL() const;

    // A development build: the dictionary holds any value under bundleKey::projectRoot (a
    // malformed entry still marks one, whatever its type).
    bool isDevelopmentBuild() const { return infoValue(bundleKey::projectRoot).isValid(); }

    // The running application's own bundle.
    static Bundle &main();
};

// A bundle given by its values, for tools and tests that stage a bundle of their own.
class FixedBundle : public Bundle
{
public:
    QVariantMap info;
    std::optional<QString> bundle;
    std::optional<QString> resources;
    std::optional<QString> applicationSupport;

    QVariant infoValue(const QString &key) const override { return info.value(key); }
    std::optional<QString> bundleDirectory() const override { return bundle; }
    std::optional<QString> resourceDirectory() const override { return resources; }
    std::optional<QString> applicationSupportDirectory() const override { return applicationSupport; }
};

} // namespace velmora::platform
