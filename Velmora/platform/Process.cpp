#include "platform/Process.h"

#include "platform/SystemError.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <array>
#include <atomic>
#include <cerrno>
#include <memory>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace velmora::platform {

namespace {

// The children that have not been asked to terminate yet. A signal handler reads this, so it
// is a fixed array of lock-free atomics: 0 marks a free slot. A pid leaves it before it is
// reaped, so a pid taken from here is never one the system has handed out again.
std::array<std::atomic<pid_t>, 8> unaskedChildren{};
static_assert(std::atomic<pid_t>::is_always_lock_free);

// False when every slot is taken; the child then has no part in requestTerminationOfChildren.
bool rememberUnasked(pid_t pid)
{
    for (auto &slot : unaskedChildren) {
        pid_t free = 0;
        if (slot.compare_exchange_strong(free, pid))
            return true;
    }
    return false;
}

// True when pid was still unasked; whoever takes it out sends its one request.
bool takeUnasked(pid_t pid)
{
    for (auto &slot : unaskedChildren) {
        pid_t expected = pid;
        if (slot.compare_exchange_strong(expected, 0))
            return true;
    }
    return false;
}

// Reaps pid if it has exited; false while it runs. It leaves unaskedChildren before the reaping.
bool reapIfExited(pid_t pid)
{
    siginfo_t info = {};
    int r;
    do {
        r = ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (r < 0 && errno == EINTR);
    if (r == 0 && info.si_pid == 0)
        return false;
    takeUnasked(pid);
    // Already exited (or reaped by someone else: ECHILD), so this does not block.
    ::waitpid(pid, nullptr, WNOHANG);
    return true;
}

// Announces the end of a child through a pidfd that becomes readable when it exits. Where the
// system has no pidfd, its state is looked at every half second instead.
class ExitWatch
{
public:
    ExitWatch(pid_t pid, std::function<void()> exited) : m_exited(std::move(exited))
    {
#ifdef SYS_pidfd_open
        m_fd = int(::syscall(SYS_pidfd_open, pid, 0));
        if (m_fd >= 0) {
            ::fcntl(m_fd, F_SETFD, FD_CLOEXEC);
            m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
            QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { fire(); });
            return;
        }
#endif
        m_poll = std::make_unique<QTimer>();
        m_poll->setInterval(500);
        QObject::connect(m_poll.get(), &QTimer::timeout, [this, pid] {
            siginfo_t info = {};
            if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0)
                fire();
        });
        m_poll->start();
    }
    ~ExitWatch()
    {
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ExitWatch(const ExitWatch &) = delete;
    ExitWatch &operator=(const ExitWatch &) = delete;

private:
    void fire()
    {
        if (m_notifier)
            m_notifier->setEnabled(false);
        if (m_poll)
            m_poll->stop();
        // May delete this watch.
        m_exited();
    }

    std::function<void()> m_exited;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unique_ptr<QTimer> m_poll;
};

// Collects children that were dropped while still running, as each one exits, so they do not
// stay zombies. It lives as long as the process: a child may outlive every object of the
// application, and its watch stays reachable until it is collected.
class Reaper
{
public:
    static Reaper &instance()
    {
        static Reaper *const reaper = new Reaper;
        return *reaper;
    }

    void adopt(pid_t pid)
    {
        const quint64 key = ++m_lastKey;
        // The watch is deleted from its own callback: later, on the loop.
        m_watches.emplace(key, std::make_unique<ExitWatch>(pid, [this, pid, key] {
            reapIfExited(pid);
            QTimer::singleShot(0, [this, key] { m_watches.erase(key); });
        }));
    }

private:
    Reaper() = default;

    quint64 m_lastKey = 0;
    std::unordered_map<quint64, std::unique_ptr<ExitWatch>> m_watches;
};

class ChildProcess final : public Process
{
public:
    ChildProcess(pid_t pid, bool remembered) : m_pid(pid), m_remembered(remembered) {}
    ~ChildProcess() override
    {
        m_watch.reset();
        if (isRunning())
            Reaper::instance().adopt(m_pid);
    }

    qint64 pid() const override { return m_pid; }

    bool isRunning() override
    {
        if (!m_exited)
            m_exited = reapIfExited(m_pid);
        return !m_exited;
    }

    void whenExited(std::function<void()> callback) override
    {
        if (!isRunning()) {
            QTimer::singleShot(0, std::move(callback));
            return;
        }
        m_exitCallback = std::move(callback);
        if (!m_watch)
            m_watch = std::make_unique<ExitWatch>(m_pid, [this] { announceExit(); });
    }

    void requestTermination() override
    {
        if (m_asked)
            return;
        m_asked = true;
        // Taken by requestTerminationOfChildren() already: it sent the request.
        if (!isRunning() || (m_remembered && !takeUnasked(m_pid)))
            return;
        ::kill(m_pid, SIGTERM);
    }

private:
    void announceExit()
    {
        isRunning();
        // Later on the loop, and holding nothing of this object: whoever is told may drop it.
        if (auto callback = std::exchange(m_exitCallback, {}))
            QTimer::singleShot(0, std::move(callback));
    }

    pid_t m_pid;
    bool m_remembered;
    bool m_exited = false;
    bool m_asked = false;
    std::function<void()> m_exitCallback;
    std::unique_ptr<ExitWatch> m_watch;
};

bool onMainThread()
{
#ifdef __linux__
    return ::gettid() == ::getpid();
#else
    return false;
#endif
}

// Everything the child needs, prepared before the fork: after it, the child may only make
// async-signal-safe calls (another thread may have held the allocator's lock).
struct ChildSetup
{
    const char *executable;
    char *const *argv;
    char *const *envp;
    const char *workingDirectory; // nullptr: the parent's
    int outputFd;
    int reportFd;       // write end of the pipe that carries a failure's errno to the parent
    pid_t parent;
    bool endWithParent; // ask the kernel for SIGTERM when the parent dies
    sigset_t noSignals;
};

[[noreturn]] void failInChild(const ChildSetup &setup, int error) noexcept
{
    [[maybe_unused]] const ssize_t written = ::write(setup.reportFd, &error, sizeof error);
    ::_exit(127);
}

// Puts fd at target, kept open across the exec.
bool redirect(int fd, int target) noexcept
{
    if (fd == target)
        return ::fcntl(fd, F_SETFD, 0) == 0;
    return ::dup2(fd, target) == target;
}

[[noreturn]] void runChild(const ChildSetup &setup) noexcept
{
    // This process's handlers and ignored signals are no business of the child. Signals stay
    // blocked until just before the exec, so that none of those handlers runs in here.
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
        ::sigaction(signalNumber, &defaults, nullptr);

#ifdef __linux__
    if (setup.endWithParent) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The parent may have died before the request was in place: then nothing would come.
        if (::getppid() != setup.parent)
            ::_exit(127);
    }
#endif

    if (setup.outputFd >= 0 && (!redirect(setup.outputFd, STDOUT_FILENO) || !redirect(setup.outputFd, STDERR_FILENO)))
        failInChild(setup, errno);
    if (setup.workingDirectory && ::chdir(setup.workingDirectory) != 0)
        failInChild(setup, errno);
    ::sigprocmask(SIG_SETMASK, &setup.noSignals, nullptr);
    ::execve(setup.executable, setup.argv, setup.envp);
    failInChild(setup, errno);
}

pid_t forkWithoutHandlers()
{
    // No fork handlers: the child only calls exec, and libraries' handlers may take locks.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    return ::_Fork();
#else
    return ::fork();
#endif
}

} // namespace

void requestTerminationOfChildren() noexcept
{
    for (auto &slot : unaskedChildren) {
        const pid_t pid = slot.exchange(0);
        if (pid > 0)
            ::kill(pid, SIGTERM);
    }
}

LaunchResult ProcessLauncher::launch(const ProcessDescription &description)
{
    LaunchResult result;

    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(description.executable));
    for (const QString &argument : description.arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envStorage;
    for (const QString &entry : description.environment.toStringList())
        envStorage.push_back(entry.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &item : envStorage)
        envp.push_back(item.data());
    envp.push_back(nullptr);

    const QByteArray workingDirectory = QFile::encodeName(description.workingDirectory);

    // Closed in the child by a successful exec; otherwise it carries the exec's errno.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        result.error = systemErrorText(errno);
        return result;
    }

    ChildSetup setup;
    setup.executable = argv.front();
    setup.argv = argv.data();
    setup.envp = envp.data();
    setup.workingDirectory = workingDirectory.isEmpty() ? nullptr : workingDirectory.constData();
    setup.outputFd = description.outputFd;
    setup.reportFd = report[1];
    setup.parent = ::getpid();
    // The kernel's signal comes when the thread that forked ends, not the process: only the
    // main thread lasts as long as the process.
    setup.endWithParent = onMainThread();
    sigemptyset(&setup.noSignals);

    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = forkWithoutHandlers();
    if (pid == 0)
        runChild(setup);
    const int forkError = errno;
    // Remembered at once: a fatal end from here on asks this child too.
    const bool remembered = pid > 0 && rememberUnasked(pid);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(report[1]);

    if (pid < 0) {
        ::close(report[0]);
        result.error = systemErrorText(forkError);
        return result;
    }

    int childError = 0;
    ssize_t received;
    do {
        received = ::read(report[0], &childError, sizeof childError);
    } while (received < 0 && errno == EINTR);
    ::close(report[0]);

    if (received == sizeof childError) {
        // The child has exited, or is about to: collect it now.
        if (remembered)
            takeUnasked(pid);
        ::waitpid(pid, nullptr, 0);
        result.error = systemErrorText(childError);
        return result;
    }
    result.process = std::make_unique<ChildProcess>(pid, remembered);
    return result;
}

ProcessLauncher &ProcessLauncher::system()
{
    static ProcessLauncher launcher;
    return launcher;
}

} // namespace velmora::platform
