#pragma once

// What Velmora sets before its application object so that it behaves as a program of the
// user's desktop: a quiet terminal and the desktop's own file panels.

#include <QByteArray>

#include <optional>

namespace velmora::app {

// Velmora's defaults for Qt's logging categories: the web engine's start-up dump (GL
// implementation, command line, parameters) stays out of the terminal. A user's
// QT_LOGGING_RULES (or QT_LOGGING_CONF) is read after these and wins.
void applyLoggingDefaults();

// The platform theme Velmora asks Qt for, from QT_QPA_PLATFORMTHEME and XDG_CURRENT_DESKTOP;
// nullopt leaves the choice to Qt. Qt picks the GTK theme (and its file panels) on GTK-based
// desktops and the portal in a sandbox by itself; on KDE and LXQt, whose own Qt 6 themes
// Debian does not ship, the XDG desktop portal serves their panels. A user's own choice wins.
std::optional<QByteArray> preferredPlatformTheme(const QByteArray &userTheme, const QByteArray &currentDesktop);

// Sets QT_QPA_PLATFORMTHEME as preferredPlatformTheme says, for the application object only:
// restoreEnvironment() takes it back so that programs Velmora starts keep their own theme.
void choosePlatformTheme();
void restoreEnvironment();

} // namespace velmora::app
