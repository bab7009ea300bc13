#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace velmora::platform {

struct ProcessDescription
{
    QString executable;
    QStringList arguments;
    QString workingDirectory;
    QProcessEnvironment environment;
    // Becomes both standard output and standard error of the child. Standard input is
    // inherited; no other descriptor of this process reaches the child.
    int outputFd = -1;
    // Written to outputFd by the child itself just before it runs the program, so it comes
    // before anything the program writes; "{pid}" in it becomes the child's process id.
    QByteArray outputHeader;
};

// How a child ended: its exit code, or the signal that ended it.
struct ExitStatus
{
    bool signalled = false;
    int code = 0; // the exit code, or the signal's number when signalled
};

// A launched child. It is never killed harder than a termination request and never waited
// for; once dropped, a child that has not exited yet is reaped in the background. The system
// announces its end (a pidfd on Linux), so nothing polls for it.
//
// A child gets exactly one termination request however this process ends: asked by this
// process, or because this process is gone (quit, crash, SIGKILL). On Linux a small watch
// program (velmora-child-watch) started beside the child sends it, on a byte from here or when
// this process's end closes its socket; the kernel's parent-death signal is not used, because
// it comes once more for every thread of this process that ends after the child was asked.
class Process
{
public:
    virtual ~Process() = default;
    virtual qint64 pid() const = 0;
    virtual bool isRunning() = 0;
    // How it ended; empty while it runs (or when that could not be learnt).
    virtual std::optional<ExitStatus> exitStatus() = 0;
    // Called once, on the event loop of the thread that launched the child, when the child
    // has exited (soon after, on the loop, if it already has). A later call replaces the
    // callback.
    virtual void whenExited(std::function<void()> callback) = 0;
    // SIGTERM on POSIX systems, sent once at most: later calls, and a call after
    // requestTerminationOfChildren() reached this child, send nothing. Returns at once.
    virtual void requestTermination() = 0;
};

// Asks every running child launched by ProcessLauncher that has not been asked yet to
// terminate (SIGTERM, through its watch where it has one). Async-signal-safe, for the ends of
// this process that pass by no event loop: a fatal signal's handler, an exit hook.
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
    // process set up for itself, in a process group of its own (a Ctrl+C in the terminal is
    // this process's to answer, with the child's one request). The child's watch is started
    // with it; where the watch program cannot be found, the kernel's parent-death signal
    // stands in for it, with the repeats described above.
    virtual LaunchResult launch(const ProcessDescription &description);

    static ProcessLauncher &system();

    // Where the watch program is looked for: beside this program, then (a development build)
    // in the build's own bin folder. Empty when it is in neither.
    static QString watchProgram();
};

} // namespace velmora::platform
