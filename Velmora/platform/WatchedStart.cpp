#include "platform/WatchedStart.h"

#include "platform/ExecArguments.h"
#include "platform/SystemError.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <vector>

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The child the parent's signal handler passes requests on to; one watched start per process.
std::atomic<pid_t> watchedChild{0};

constexpr int forwardedSignals[] = {SIGTERM, SIGINT, SIGHUP};

void passOn(int signalNumber)
{
    const int savedErrno = errno;
    if (const pid_t child = watchedChild.load(); child > 0)
        ::kill(child, signalNumber);
    errno = savedErrno;
}

void setHandlers(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : forwardedSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

ChildEnd endFromStatus(int status)
{
    ChildEnd end;
    if (WIFEXITED(status)) {
        end.state = ChildEnd::State::Exited;
        end.code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end.state = ChildEnd::State::Signalled;
        end.code = WTERMSIG(status);
    }
    return end;
}

} // namespace

int ChildEnd::shellStatus() const
{
    switch (state) {
    case State::Running:
        return 0;
    case State::Exited:
        return code;
    case State::Signalled:
        return 128 + code;
    }
    return 0;
}

WatchedStart::~WatchedStart()
{
    if (m_childFd >= 0)
        ::close(m_childFd);
    if (m_child > 0 && watchedChild.load() == pid_t(m_child)) {
        watchedChild.store(0);
        setHandlers(SIG_DFL);
    }
}

void WatchedStart::watch(qint64 child)
{
    m_child = child;
    watchedChild.store(pid_t(child));
    setHandlers(passOn);
#ifdef SYS_pidfd_open
    m_childFd = int(::syscall(SYS_pidfd_open, pid_t(child), 0));
#endif
}

WatchedStart::Side WatchedStart::split()
{
    const pid_t child = ::fork();
    if (child < 0) {
        m_error = systemErrorText(errno);
        return Side::Failed;
    }
    if (child == 0)
        return Side::Child;
    watch(child);
    return Side::Parent;
}

bool WatchedStart::start(const QString &program, const QStringList &arguments)
{
    // Everything the child needs is made before the fork: after it the child only calls exec.
    const ExecArguments argv(ExecArguments::commandLine(program, arguments));
    const pid_t child = ::fork();
    if (child < 0) {
        m_error = systemErrorText(errno);
        return false;
    }
    if (child == 0) {
        ::execv(argv.first(), argv.data());
        ::_exit(127);
    }
    watch(child);
    return true;
}

ChildEnd WatchedStart::waitForEnd(milliseconds patience)
{
    if (m_child <= 0 || !m_end.running())
        return m_end;
    const Clock::time_point deadline = Clock::now() + patience;
    for (;;) {
        int status = 0;
        const pid_t reaped = ::waitpid(pid_t(m_child), &status, WNOHANG);
        if (reaped == pid_t(m_child)) {
            m_end = endFromStatus(status);
            if (!m_end.running()) {
                watchedChild.store(0);
                return m_end;
            }
        } else if (reaped < 0 && errno != EINTR) {
            // Not ours to reap (any more): count it as gone without a word.
            m_end.state = ChildEnd::State::Exited;
            m_end.code = 0;
            return m_end;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left <= milliseconds(0))
            return m_end;
        if (m_childFd >= 0) {
            pollfd watch = {m_childFd, POLLIN, 0};
            ::poll(&watch, 1, int(left.count())); // EINTR: a request was passed on; look again
        } else {
            // Without pidfd: look again a few times a second.
            ::usleep(useconds_t(std::min<long long>(left.count(), 50) * 1000));
        }
    }
}

ChildEnd WatchedStart::kill()
{
    if (m_child <= 0 || !m_end.running())
        return m_end;
    // The child is not reaped yet, so its process id cannot have gone to another process.
    ::kill(pid_t(m_child), SIGKILL);
    // SIGKILL cannot be caught: the bound only guards against a child stuck in the kernel.
    return waitForEnd(std::chrono::seconds(30));
}

} // namespace velmora::platform
