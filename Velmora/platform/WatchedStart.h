#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

namespace velmora::platform {

// How a watched child process ended, or that it still runs.
struct ChildEnd
{
    enum class State { Running, Exited, Signalled };
    State state = State::Running;
    int code = 0; // the exit status (Exited) or the signal's number (Signalled)

    bool running() const { return state == State::Running; }
    // The status a shell reports for it: the exit status, or 128 + the signal's number.
    int shellStatus() const;
};

// One process split in two at the very start of a program, before any thread or library has
// started: the child goes on as the program, the parent only watches it. The parent passes on
// the termination requests it gets itself (SIGTERM, SIGINT, SIGHUP: the desktop or the terminal
// that started it knows only its process id) and learns the child's exit status, which nothing
// but a parent can.
class WatchedStart
{
public:
    WatchedStart() = default;
    WatchedStart(const WatchedStart &) = delete;
    WatchedStart &operator=(const WatchedStart &) = delete;
    ~WatchedStart();

    enum class Side { Child, Parent, Failed };
    // Forks. Child: return and go on as the program. Parent: watch it with the calls below.
    // Failed: no child was made (errorString() says why); go on as the program unwatched.
    Side split();
    // Forks a child that runs program with arguments (the same environment); false when no
    // child was made. A program that cannot be run ends the child with status 127.
    bool start(const QString &program, const QStringList &arguments);

    qint64 childId() const { return m_child; }
    QString errorString() const { return m_error; }

    // Waits at most patience for the child to end (and reaps it once it has).
    ChildEnd waitForEnd(std::chrono::milliseconds patience);
    // Ends a child that no longer responds (SIGKILL) and reaps it.
    ChildEnd kill();

private:
    void watch(qint64 child);

    qint64 m_child = 0;
    int m_childFd = -1; // a pidfd of the child: readable once it has exited
    ChildEnd m_end;
    QString m_error;
};

} // namespace velmora::platform
