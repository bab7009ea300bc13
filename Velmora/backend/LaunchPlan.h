#pragma once

// How the backend is launched: which program with which arguments, in which working
// directory and environment, on which loopback port, and where its output goes. Every
// function here reads the platform only through the interfaces it is given, so the rules run
// in tests against staged folders and fixed environments.

#include "backend/Texts.h"
#include "platform/Bundle.h"
#include "platform/ProcessInfo.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace velmora::backend {

// The port the backend listens on when VELMORA_DESKTOP_PORT does not name a usable one.
inline constexpr int defaultPort = 18760;
inline constexpr int lowestPort = 1024;
inline constexpr int highestPort = 65535;

struct LaunchPlan
{
    QString executable;
    QStringList baseArguments;
    // Working directory of the backend; its "logs" folder holds the log file.
    QString runtimeDirectory;
    // The bundled backend code; empty in development mode.
    QString codeDirectory;
    bool packaged = false;
};

// A launch plan, or the message that explains why none could be made.
struct LaunchPlanResolution
{
    LaunchPlan plan;
    QString error; // empty on success

    bool ok() const { return error.isEmpty(); }
};

struct PortResolution
{
    int port = 0;
    QUrl baseUrl;  // http://127.0.0.1:<port>, no trailing slash
    QString error; // empty on success

    bool ok() const { return error.isEmpty(); }
};

// Development mode when the information dictionary holds "VelmoraProjectRoot" as a string:
// the project's start script through the shell. Otherwise the bundled interpreter: the entry
// the dictionary names under "VelmoraBundledInterpreter" (relative to Resources), else
// "python/bin/python3.12". Creates nothing; only asks whether the script exists and whether
// the interpreter is executable.
LaunchPlanResolution resolveLaunchPlan(const platform::Bundle &bundle);

// The port from VELMORA_DESKTOP_PORT: an optional single sign and ASCII digits. Text that is
// not such a number (or does not fit in 64 bits) silently gives the default port; a number
// outside 1024..65535 is refused.
PortResolution resolvePort(const platform::ProcessInfo &processInfo);

// Strict decimal parse: optional single '+' or '-', then one or more ASCII digits, nothing
// else. Empty when the text is anything else or overflows a 64-bit signed integer.
std::optional<qint64> parseDecimalInteger(const QString &text);

// The command line after the executable.
QStringList argumentVector(const LaunchPlan &plan, int port);

// The backend's environment: the application's own, with the loopback address, the port and
// the parent process id added, and in packaged mode the interpreter and runtime folders. The
// resource directory is asked of the bundle again here.
QProcessEnvironment backendEnvironment(const LaunchPlan &plan, int port, const platform::ProcessInfo &processInfo,
                                       const platform::Bundle &bundle);

// The log file inside a runtime directory: runtime/logs/desktop.log.
QString logDirectoryPath(const QString &runtimeDirectory);
QString logFilePath(const QString &runtimeDirectory);

} // namespace velmora::backend
