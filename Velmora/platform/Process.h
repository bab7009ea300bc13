#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>

namespace velmora::platform {

struct ProcessDescription
{
    QString executable;
    QStringList arguments;
    QString workingDirectory;
    QProcessEnvironment environment;
    // Becomes both standard output and standard error of the child. Standard input is
    // inherited.
    int outputFd = -1;
};

// A launched child. It is never killed harder than a termination request and never waited
// for; once dropped, a child that has not exited yet is reaped in the background.
class Process
{
public:
    virtual ~Process() = default;
    virtual qint64 pid() const = 0;
    virtual bool isRunning() = 0;
    // SIGTERM on POSIX systems.
    virtual void requestTermination() = 0;
};

struct LaunchResult
{
    std::unique_ptr<Process> process;
    // The platform error's own description when the launch failed.
    QString error;
};

class ProcessLauncher
{
public:
    virtual ~ProcessLauncher() = default;
    virtual LaunchResult launch(const ProcessDescription &description);

    static ProcessLauncher &system();
};

} // namespace velmora::platform
