#include "platform/Process.h"

#include "platform/Bundle.h"
#include "platform/ExecArguments.h"
#include "platform/SystemError.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
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
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace velmora::platform {

namespace {

// The children that have not been asked to terminate yet. A signal handler reads this, so it
// is a fixed array of lock-free atomics: a pid of 0 marks a free slot. A pid leaves it before
// it is reaped, so a pid taken from here is never one the system has handed out again. Beside
// each pid, the socket to its watch (-1: none), set before the pid is.
std::array<std::atomic<pid_t>, 8> unaskedChildren{};
std::array<std::atomic<int>, 8> unaskedWatches{};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

// False when every slot is taken; the child then has no part in requestTerminationOfChildren.
bool rememberUnasked(pid_t pid, int watchFd)
{
    for (std::size_t i = 0; i < unaskedChildren.size(); ++i) {
        // Held with -1 while the watch is filled in, so the two never belong to two children.
        pid_t free = 0;
        if (!unaskedChildren[i].compare_exchange_strong(free, -1))
            continue;
        unaskedWatches[i].store(watchFd);
        unaskedChildren[i].store(pid);
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

// The one request: through the watch when there is one (it sends SIGTERM and ends), else
// straight. Async-signal-safe.
void askToTerminate(pid_t pid, int watchFd) noexcept
{
    const char ask = 'T';
    if (watchFd >= 0 && ::send(watchFd, &ask, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1)
        return;
    // No watch, or it is gone without having asked (it only asks on this byte or when this
    // process has ended).
    ::kill(pid, SIGTERM);
}

// Reaps pid if it has exited; false while it runs. It leaves unaskedChildren before the reaping.
// status, when given, learns how it ended (left alone when someone else reaped it).
bool reapIfExited(pid_t pid, std::optional<ExitStatus> *status = nullptr)
{
    siginfo_t info = {};
    int r;
    do {
        r = ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (r < 0 && errno == EINTR);
    if (r == 0 && info.si_pid == 0)
        return false;
    if (r == 0 && status)
        *status = ExitStatus{info.si_code != CLD_EXITED, info.si_status};
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

    // keepOpen: a descriptor that stays open until the child is collected (the socket to its
    // watch, so that the watch does not take a dropped child for an unwatched one).
    void adopt(pid_t pid, int keepOpen = -1)
    {
        // A child launched before the application object exists (the backend's watch, at the
        // very start of the process) is watched once the main thread has its event loop:
        // until then a notifier could not be registered.
        if (!QCoreApplication::instance()) {
            QTimer::singleShot(0, [this, pid, keepOpen] { adopt(pid, keepOpen); });
            return;
        }
        const quint64 key = ++m_lastKey;
        // The watch is deleted from its own callback: later, on the loop.
        m_watches.emplace(key, std::make_unique<ExitWatch>(pid, [this, pid, key, keepOpen] {
                              reapIfExited(pid);
                              if (keepOpen >= 0)
                                  ::close(keepOpen);
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
    ChildProcess(pid_t pid, bool remembered, int watchFd) : m_pid(pid), m_remembered(remembered), m_watchFd(watchFd) {}
    ~ChildProcess() override
    {
        m_watch.reset();
        if (isRunning()) {
            Reaper::instance().adopt(m_pid, m_watchFd);
        } else if (m_watchFd >= 0) {
            ::close(m_watchFd);
        }
    }

    qint64 pid() const override { return m_pid; }

    bool isRunning() override
    {
        if (!m_exited)
            m_exited = reapIfExited(m_pid, &m_exitStatus);
        return !m_exited;
    }

    std::optional<ExitStatus> exitStatus() override
    {
        isRunning();
        return m_exitStatus;
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
        askToTerminate(m_pid, m_watchFd);
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
    // This end of the socket to the child's watch; -1 when it has none.
    int m_watchFd;
    bool m_exited = false;
    std::optional<ExitStatus> m_exitStatus;
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
    // The output header around its "{pid}": written before the exec, with the pid between.
    const QByteArray *headerBeforePid;
    const QByteArray *headerAfterPid;
    int reportFd; // write end of the pipe that carries a failure's errno to the parent
    pid_t parent;
    bool endWithParent; // ask the kernel for SIGTERM when the parent dies (no watch)
    sigset_t noSignals;
};

// Writes all of data, as far as the descriptor takes it. Async-signal-safe.
void writeAll(int fd, const char *data, std::size_t size) noexcept
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        size -= std::size_t(written);
    }
}

// The header line with this process's id in decimal. Async-signal-safe.
void writeHeader(const ChildSetup &setup) noexcept
{
    if (setup.outputFd < 0 || (setup.headerBeforePid->isEmpty() && setup.headerAfterPid->isEmpty()))
        return;
    char digits[16];
    char *end = digits + sizeof digits;
    char *start = end;
    for (unsigned long value = static_cast<unsigned long>(::getpid()); start == end || value > 0; value /= 10)
        *--start = char('0' + value % 10);
    writeAll(STDOUT_FILENO, setup.headerBeforePid->constData(), std::size_t(setup.headerBeforePid->size()));
    if (!setup.headerAfterPid->isNull())
        writeAll(STDOUT_FILENO, start, std::size_t(end - start));
    writeAll(STDOUT_FILENO, setup.headerAfterPid->constData(), std::size_t(setup.headerAfterPid->size()));
}

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
    // Its own process group: signals the terminal sends to this process's group (Ctrl+C, a
    // hang-up) are this process's to turn into the child's one request.
    ::setpgid(0, 0);

    if (setup.outputFd >= 0 && (!redirect(setup.outputFd, STDOUT_FILENO) || !redirect(setup.outputFd, STDERR_FILENO)))
        failInChild(setup, errno);
    if (setup.workingDirectory && ::chdir(setup.workingDirectory) != 0)
        failInChild(setup, errno);
        // Standard input, output and error only: whatever else this process holds (its own pipes,
        // sockets, the web engine's descriptors) stays here, opened with close-on-exec or not.
        // The report pipe is close-on-exec already.
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */) != 0)
#endif
    {
        for (int fd = 3; fd < 1024; ++fd)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    writeHeader(setup);
    ::sigprocmask(SIG_SETMASK, &setup.noSignals, nullptr);
    ::execve(setup.executable, setup.argv, setup.envp);
    failInChild(setup, errno);
}

// Starts the watch program for child (see Process): fd 3 of the watch is its end of a socket
// pair, fd 4 a pidfd of the child. Returns this process's end of the socket, or -1 when the
// watch could not be started.
int startWatch(const QByteArray &program, pid_t child)
{
#if defined(SYS_pidfd_open)
    const int pidfd = int(::syscall(SYS_pidfd_open, child, 0));
    if (pidfd < 0)
        return -1;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        ::close(pidfd);
        return -1;
    }
    // Above 4, so that putting them at 3 and 4 is a real dup2, which clears close-on-exec.
    const int theirs = ::fcntl(pair[1], F_DUPFD_CLOEXEC, 5);
    const int child4 = ::fcntl(pidfd, F_DUPFD_CLOEXEC, 5);
    ::close(pair[1]);
    ::close(pidfd);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, theirs, 3);
    posix_spawn_file_actions_adddup2(&actions, child4, 4);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    // Out of the terminal's reach, like the child.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    char *argv[] = {const_cast<char *>(program.constData()), nullptr};
    char *envp[] = {nullptr};
    pid_t watch = 0;
    const int error = theirs < 0 || child4 < 0
                          ? EBADF
                          : ::posix_spawn(&watch, program.constData(), &actions, &attributes, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (theirs >= 0)
        ::close(theirs);
    if (child4 >= 0)
        ::close(child4);
    if (error != 0) {
        ::close(pair[0]);
        return -1;
    }
    // It ends by itself, after its request or after the child; collected then.
    Reaper::instance().adopt(watch);
    return pair[0];
#else
    Q_UNUSED(program);
    Q_UNUSED(child);
    return -1;
#endif
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
    for (std::size_t i = 0; i < unaskedChildren.size(); ++i) {
        pid_t pid = unaskedChildren[i].load();
        if (pid > 0 && unaskedChildren[i].compare_exchange_strong(pid, 0))
            askToTerminate(pid, unaskedWatches[i].load());
    }
}

LaunchResult ProcessLauncher::launch(const ProcessDescription &description)
{
    LaunchResult result;

    const ExecArguments argv(ExecArguments::commandLine(description.executable, description.arguments));
    std::vector<QByteArray> environment;
    for (const QString &entry : description.environment.toStringList())
        environment.push_back(entry.toLocal8Bit());
    const ExecArguments envp(std::move(environment));

    const QByteArray workingDirectory = QFile::encodeName(description.workingDirectory);
    const qsizetype pidAt = description.outputHeader.indexOf("{pid}");
    const QByteArray headerBeforePid = pidAt < 0 ? description.outputHeader : description.outputHeader.left(pidAt);
    // Null when there is no "{pid}" to fill in.
    const QByteArray headerAfterPid = pidAt < 0 ? QByteArray() : description.outputHeader.mid(pidAt + 5);
    const QByteArray watch = QFile::encodeName(watchProgram());

    // Closed in the child by a successful exec; otherwise it carries the exec's errno.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        result.error = systemErrorText(errno);
        return result;
    }

    ChildSetup setup;
    setup.executable = argv.first();
    setup.argv = argv.data();
    setup.envp = envp.data();
    setup.workingDirectory = workingDirectory.isEmpty() ? nullptr : workingDirectory.constData();
    setup.outputFd = description.outputFd;
    setup.headerBeforePid = &headerBeforePid;
    setup.headerAfterPid = &headerAfterPid;
    setup.reportFd = report[1];
    setup.parent = ::getpid();
    // Without a watch, the kernel's signal stands in. It comes when the thread that forked
    // ends, not the process: only the main thread lasts as long as the process.
    setup.endWithParent = watch.isEmpty() && onMainThread();
    sigemptyset(&setup.noSignals);

    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = forkWithoutHandlers();
    if (pid == 0)
        runChild(setup);
    const int forkError = errno;
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
        ::waitpid(pid, nullptr, 0);
        result.error = systemErrorText(childError);
        return result;
    }
    // The program runs: from here on, any end of this process asks it to terminate.
    const int watchFd = watch.isEmpty() ? -1 : startWatch(watch, pid);
    const bool remembered = rememberUnasked(pid, watchFd);
    if (!watch.isEmpty() && watchFd < 0)
        qWarning("process: the child %d runs without its watch", int(pid));
    result.process = std::make_unique<ChildProcess>(pid, remembered, watchFd);
    return result;
}

ProcessLauncher &ProcessLauncher::system()
{
    static ProcessLauncher launcher;
    return launcher;
}

QString ProcessLauncher::watchProgram()
{
    static const QString found = [] {
        const QString name = QStringLiteral("velmora-child-watch");
        QStringList places;
        if (const QString own = executableDirectory(); !own.isEmpty())
            places << own;
#ifdef VELMORA_DEVELOPMENT_BIN_DIR
        places << QStringLiteral(VELMORA_DEVELOPMENT_BIN_DIR);
#endif
        for (const QString &place : places) {
            const QFileInfo program(place + QLatin1Char('/') + name);
            if (program.isFile() && program.isExecutable())
                return program.absoluteFilePath();
        }
        return QString();
    }();
    return found;
}

} // namespace velmora::platform
