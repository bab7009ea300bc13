#pragma once

// The information file of a bundle (Info.json) as the installer reads it from a downloaded
// update, and what its version must be for the update to be installed.

#include <QByteArray>
#include <QString>

namespace velmora::updates {

// The largest Info.json read; a real one is a few hundred bytes.
inline constexpr qsizetype maxBundleInfoBytes = 64 * 1024;

struct BundleInfo
{
    QString version; // CFBundleShortVersionString
    QString error;   // empty when the file was read

    bool ok() const { return error.isEmpty(); }
};

// A JSON object with a non-empty string under "CFBundleShortVersionString"; anything else
// (too long, not JSON, another type) is an error.
BundleInfo parseBundleInfo(const QByteArray &document);

enum class BundleVersionCheck {
    Accepted,
    NotTheFeedsVersion, // the bundle is not the version the feed announced
    NotNewer,           // the same version as the running one, or an older one
};

// The unpacked bundle's version must be the one the feed announced and newer than the running
// one (no reinstall of the same version, no downgrade). Versions compare as the feed's do.
BundleVersionCheck checkBundleVersion(const QString &bundleVersion, const QString &feedVersion,
                                      const QString &runningVersion);

// Whether an update of version may be offered. A version the user chose to skip is not offered
// by checks made without the user until a newer one appears; a check the user asked for offers
// it all the same, as the update framework does.
bool isOffered(const QString &version, const QString &skippedVersion, bool userInitiated);

} // namespace velmora::updates
