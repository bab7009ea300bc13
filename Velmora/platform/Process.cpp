#include "platform/Process.h"

#include "platform/SystemError.h"

#include <QFile>
#include <QHash>
#include <QTimer>

#include <cerrno>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::platform {

namespace {

// Collects children that were dropped while still running, so they do not stay zombies.
class Reaper
{
public:
    static Reaper &instance()
    {
        static Reaper reaper;
        return reaper;
    }

    void adopt(pid_t pid)
    {
        m_pids.append(pid);
        if (!m_timer.isActive())
            m_timer.start();
    }

private:
    Reaper()
    {
        m_timer.setInterval(500);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { reap(); });
    }

    void reap()
    {
        m_pids.removeIf([](pid_t pid) {
            int status = 0;
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            return r == pid || (r < 0 && errno == ECHILD);
        });
        if (m_pids.isEmpty())
            m_timer.stop();
    }

    QList<pid_t> m_pids;
    QTimer m_timer;
};

class ChildProcess final : public Process
{
public:
    explicit ChildProcess(pid_t pid) : m_pid(pid) {}
    ~ChildProcess() override
    {
        if (isRunning())
            Reaper::instance().adopt(m_pid);
    }

    qint64 pid() const override { return m_pid; }

    bool isRunning() override
    {
        if (m_exited)
            return false;
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid || (r < 0 && errno == ECHILD))
            m_exited = true;
        return !m_exited;
    }

    void requestTermination() override
    {
        if (isRunning())
            ::kill(m_pid, SIGTERM);
    }

private:
    pid_t m_pid;
    bool m_exited = false;
};


} // namespace

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

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (description.outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, description.outputFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, description.outputFd, STDERR_FILENO);
    }
    const QByteArray workingDirectory = QFile::encodeName(description.workingDirectory);
    if (!workingDirectory.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.constData());

    // The child starts with default signal handling and an empty mask, whatever this
    // process installed for itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, argv.front(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);

    if (error != 0)
        result.error = systemErrorText(error);
    else
        result.process = std::make_unique<ChildProcess>(pid);
    return result;
}

ProcessLauncher &ProcessLauncher::system()
{
    static ProcessLauncher launcher;
    return launcher;
}

} // namespace velmora::platform
