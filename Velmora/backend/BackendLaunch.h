#pragma once

#include "backend/LaunchPlan.h"
#include "platform/Bundle.h"
#include "platform/FileHandle.h"
#include "platform/Process.h"
#include "platform/ProcessInfo.h"

#include <QString>
#include <QUrl>

#include <memory>

namespace velmora::backend {

// One launch of the backend: its log opened for appending, Velmora's line written before the
// backend's output, the process started on the port.
struct BackendLaunch
{
    std::unique_ptr<platform::Process> process;
    // The log the process writes to; stays open for the lines Velmora adds about its end.
    platform::FileHandle log;
    // The log file, once its place is known (also when it could not be opened).
    QString logFile;
    // Where the backend will answer once it is ready.
    QUrl at;
    // Why there is no process: the log or the launch failed. Empty on success.
    QString error;

    bool ok() const { return process != nullptr; }
};

// Opens the plan's log and launches the backend on port's address. Creates nothing but the
// log's folder and file; never waits for the backend.
BackendLaunch launchBackend(const LaunchPlan &plan, const PortResolution &port, const platform::Bundle &bundle,
                            const platform::ProcessInfo &processInfo, platform::ProcessLauncher &launcher);

} // namespace velmora::backend
