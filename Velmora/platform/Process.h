#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
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
// for; once dropped, a child that has not exited yet is reaped in the background. The system
// announces its end (a pidfd on Linux), so nothing polls for it.
class Process
{
public:
    virtual ~Process() = default;
    virtual qint64 pid() const = 0;
    virtual bool isRunning() = 0;
    // Called once, on the event loop of the thread that launched the child, when the child
    // has exited (soon after, on the loop, if it already has). A later call replaces the
    // callback.
    virtual void whenExited(std::function<void()> callback) = 0;
    // SIGTERM on POSIX systems, sent once at most: later calls, and a call after
    // requestTerminationOfChildren() reached this child, send nothing.
    virtual void requestTermination() = 0;
};

// Asks every running child launched by ProcessLauncher that has not been asked yet to
// terminate (SIGTERM). Async-signal-safe, for the ends of this process that pass by no event
// loop: a fatal signal's handler, an exit hook.
void requestTerminationOfChildren() noexcept;

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
    // Starts the child with default signal handling and no blocked signals, whatever this
    // process set up for itself. On Linux a child launched from the main thread also gets
    // SIGTERM from the kernel if it still runs when this process ends, however that happens
    // (SIGKILL included). The kernel cannot know of a request made before, and it sends again
    // as each of this process's threads goes, so a child that takes its time to go may get
    // more than one.
    virtual LaunchResult launch(const ProcessDescription &description);

    static ProcessLauncher &system();
};

} // namespace velmora::platform
