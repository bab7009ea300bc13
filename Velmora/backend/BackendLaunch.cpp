#include "backend/BackendLaunch.h"

#include "platform/FileSystem.h"

#include <QDateTime>

namespace velmora::backend {

namespace {

// Velmora's own line before each launched backend's output, so that attempts can be told
// apart in the log; "{pid}" is filled in by the launch.
QByteArray launchLogLine(const QString &version, int port)
{
    return QStringLiteral("=== Velmora %1: backend started %2 (pid {pid}, port %3) ===\n")
        .arg(version, QDateTime::currentDateTimeUtc().toString(Qt::ISODate), QString::number(port))
        .toUtf8();
}

} // namespace

BackendLaunch launchBackend(const LaunchPlan &plan, const PortResolution &port, const platform::Bundle &bundle,
                            const platform::ProcessInfo &processInfo, platform::ProcessLauncher &launcher)
{
    BackendLaunch result;
    result.at = port.baseUrl;
    platform::AppendingFile log = platform::openAppendingFile(logFilePath(plan.runtimeDirectory),
                                                              [&result](const QString &file) { result.logFile = file; });
    if (!log.ok()) {
        result.error = log.error;
        return result;
    }
    result.log = std::move(log.handle);

    platform::ProcessDescription description;
    description.executable = plan.executable;
    description.arguments = argumentVector(plan, port.port);
    description.environment = backendEnvironment(plan, port.port, processInfo, bundle);
    description.workingDirectory = plan.runtimeDirectory;
    description.outputFd = result.log.fd();
    description.outputHeader = launchLogLine(bundle.infoValue(platform::bundleKey::shortVersion).toString(), port.port);
    platform::LaunchResult launched = launcher.launch(description);
    if (!launched.process) {
        result.error = launched.error;
        return result;
    }
    result.process = std::move(launched.process);
    return result;
}

} // namespace velmora::backend
