#include "updates/BundleInfo.h"

#include "updates/Version.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace velmora::updates {

BundleInfo parseBundleInfo(const QByteArray &document)
{
    BundleInfo info;
    if (document.size() > maxBundleInfoBytes) {
        info.error = QStringLiteral("Info.json is larger than %1 bytes").arg(maxBundleInfoBytes);
        return info;
    }
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(document, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        info.error = QStringLiteral("Info.json is not JSON: %1").arg(parseError.errorString());
        return info;
    }
    if (!json.isObject()) {
        info.error = QStringLiteral("Info.json is not a JSON object");
        return info;
    }
    const QJsonValue version = json.object().value(QLatin1String("CFBundleShortVersionString"));
    if (!version.isString() || version.toString().trimmed().isEmpty()) {
        info.error = QStringLiteral("Info.json has no version (CFBundleShortVersionString)");
        return info;
    }
    info.version = version.toString();
    return info;
}

BundleVersionCheck checkBundleVersion(const QString &bundleVersion, const QString &feedVersion,
                                      const QString &runningVersion)
{
    if (bundleVersion.isEmpty() || compareVersions(bundleVersion, feedVersion) != 0)
        return BundleVersionCheck::NotTheFeedsVersion;
    if (compareVersions(bundleVersion, runningVersion) <= 0)
        return BundleVersionCheck::NotNewer;
    return BundleVersionCheck::Accepted;
}

bool isOffered(const QString &version, const QString &skippedVersion, bool userInitiated)
{
    if (userInitiated || skippedVersion.isEmpty())
        return true;
    return compareVersions(version, skippedVersion) > 0;
}

} // namespace velmora::updates
