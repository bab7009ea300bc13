#pragma once

// The user settings (QSettings of the application) that the update engine and the update
// controller read and write. The names are the update framework's own, so one feed and one
// set of habits serve every platform.

#include <QString>

namespace velmora::updates {

// Whether the engine checks for updates by itself.
inline const QString automaticChecksKey = QStringLiteral("SUEnableAutomaticChecks");
// Whether the engine downloads and installs updates without asking.
inline const QString automaticDownloadsKey = QStringLiteral("SUAutomaticallyUpdate");
// The version the user chose to skip ("이 버전 건너뛰기"); checks without the user pass it by.
inline const QString skippedVersionKey = QStringLiteral("SUSkippedVersion");
// The version a start exchanged back because it did not come up; checks without the user pass
// it by as they pass a skipped one.
inline const QString rolledBackVersionKey = QStringLiteral("VelmoraRolledBackVersion");

} // namespace velmora::updates
