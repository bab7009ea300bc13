#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace velmora::platform {

// Values fixed when Velmora is built (see the top-level CMakeLists.txt).
struct BuildSettings
{
    QString projectRoot;           // source tree of a development build, empty for a packaged build
    QString version;               // CFBundleShortVersionString
    QString updateFeedUrl;         // update feed (appcast) address
    QStringList releaseNotesHosts; // exactly two host names
    QString releasePageUrl;        // latest-release page
    QString bundledInterpreter;    // interpreter entry of a packaged build, relative to Resources
    QStringList updatePublicKeys;  // base64 Ed25519 keys that update signatures are checked with
};

const BuildSettings &buildSettings();

// The application's identifier on the desktop: the name of its desktop entry and of its icon.
inline const QString applicationId = QStringLiteral("app.velmora.Velmora");

// The information dictionary this build carries: "CFBundleShortVersionString" and
// "VelmoraBundledInterpreter" always, "VelmoraProjectRoot" only in a development build (the
// source tree, or the folder named by VELMORA_DEVELOPMENT_PROJECT_ROOT when that is set).
QVariantMap buildInfoDictionary();

} // namespace velmora::platform
