#pragma once

// What Velmora sets before its application object so that it behaves as a program of the
// user's desktop: a quiet terminal and the desktop's own file panels.

#include <QByteArray>
#include <QList>

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

// Sets QT_QPA_PLATFORMTHEME as preferredPlatformTheme says, for the application object only.
void choosePlatformTheme();

// What decides how Velmora's windows draw the web view, as the session gives it.
struct DrawingSettings
{
    QByteArray quickBackend;     // QT_QUICK_BACKEND, or the older QMLSCENE_DEVICE
    QByteArray rhiBackend;       // QSG_RHI_BACKEND
    QByteArray xcbGlIntegration; // QT_XCB_GL_INTEGRATION
    QByteArray alwaysSoftware;   // LIBGL_ALWAYS_SOFTWARE
    QByteArray engineFlags;      // QTWEBENGINE_CHROMIUM_FLAGS
    QList<QByteArray> arguments; // the command line, which the engine reads switches from too
    bool graphicsDevice = true;  // a GPU that a hardware GL driver could use
};

struct DrawingChoice
{
    // Qt Quick's software renderer shows the engine's pictures (the web view is a Qt Quick
    // widget inside).
    bool softwareSceneGraph = false;
    // The X11 connection loads no GL driver at all.
    bool withoutGl = false;

    friend bool operator==(const DrawingChoice &, const DrawingChoice &) = default;
};

// Without a GPU for the engine (turned off with --disable-gpu, software GL asked for with
// LIBGL_ALWAYS_SOFTWARE, or no GPU device on the machine), the engine composes its pages in
// software and hands over finished pictures. Showing them through GL then only loads Mesa's
// software rasteriser, which compiles each of its shaders with LLVM on the main thread the
// first time it is needed (about 0.1 s each, four times before the page is on screen) and
// keeps its libraries resident (about 55 MiB). So Velmora draws in software then. A user's own
// choice of Qt Quick backend stands, and so does a GL integration the user names.
DrawingChoice preferredDrawing(const DrawingSettings &settings);

// Sets an environment variable for the application object only; restoreEnvironment() takes
// back every one so set, so that programs Velmora starts see the session's own environment.
void setForApplicationObject(const char *name, const QByteArray &value);
void restoreEnvironment();

} // namespace velmora::app
