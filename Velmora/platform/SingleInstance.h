#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QString>

#include <chrono>

class QLocalServer;

namespace velmora::platform {

// One running instance of the application per user: the first launch becomes the running
// instance, and a later launch hands it a reopen request and ends. The running instance holds
// an exclusive lock (flock) on a file in the given folder for as long as its process lives,
// and listens on a local socket beside it. The kernel drops the lock however the process
// ends, SIGKILL included, so a socket file left behind by a crash is recognised as stale and
// replaced; two launches at the same instant are decided by the lock, and the loser waits for
// the winner to listen.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Claim {
        Running,     // this process is the running instance now
        HandedOver,  // the running instance took the reopen request; this one should end
        NotAnswered, // an instance holds the lock but did not take the request in time
        Unavailable, // the lock or the socket could not be set up (see errorString())
    };

    // How long a launch waits for the running instance to listen or to answer, and for a
    // predecessor to go.
    static constexpr std::chrono::milliseconds defaultPatience{10'000};

    // folder: where the lock file "<name>.lock" and the socket "<name>.socket" live, normally
    // the user's runtime folder (only the user can reach it).
    SingleInstance(QString folder, QString name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // The user's runtime folder ($XDG_RUNTIME_DIR, or Qt's private fallback).
    static QString runtimeFolder();

    /// Becomes the running instance or hands a reopen request to it. predecessor: the process
    /// id of the instance that relaunched this one (0 = none); it is waited for (at most
    /// patience), never handed anything, since it is on its way out.
    Claim claim(qint64 predecessor = 0, std::chrono::milliseconds patience = defaultPatience);
    /// Takes the lock at once, without listening yet and without waiting for anyone: true when
    /// this process holds it now, so that no other instance runs until it ends. A later claim()
    /// then only listens. Usable before the application object exists.
    bool lock();

    QString lockPath() const;
    QString socketPath() const;
    QString errorString() const { return m_error; }

    // The request a later launch sends, and the running instance's answer.
    static constexpr const char *reopenRequest = "reopen\n";
    static constexpr const char *reopenAnswer = "ok\n";

signals:
    /// A later launch asked for the window (on the running instance only).
    void reopenRequested();

private:
    enum class Lock { Taken, Held, Error };
    Lock tryLock();
    bool listen();
    bool handOver(std::chrono::milliseconds patience);
    void serve();

    QString m_folder;
    QString m_name;
    QString m_error;
    int m_lockFd = -1;
    QLocalServer *m_server = nullptr;
};

/// The process id that environment names in Relauncher::relaunchedFromVariable; 0 when there
/// is none or it is not a process id.
qint64 relaunchedFrom(const QProcessEnvironment &environment);

/// Waits, blocking, until process pid has ended (a zombie counts as ended), at most patience.
/// True when it has ended, or there was no such process.
bool waitForProcessEnd(qint64 pid, std::chrono::milliseconds patience);

} // namespace velmora::platform
