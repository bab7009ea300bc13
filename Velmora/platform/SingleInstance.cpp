#include "platform/SingleInstance.h"

#include "platform/Relauncher.h"
#include "platform/SystemError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace velmora::platform {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// While the running instance has the lock but does not listen yet (it is starting), or has
// stopped listening but still holds the lock (it is ending), a launch asks again this often.
constexpr milliseconds retryInterval{20};
// A request is one short line.
constexpr qint64 requestLimit = 64;
// A connection that says nothing is dropped after this.
constexpr milliseconds idleConnectionLimit{5000};

milliseconds remainingUntil(Clock::time_point deadline)
{
    return std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

bool isZombieOrGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) == "Z";
}

} // namespace

SingleInstance::SingleInstance(QString folder, QString name, QObject *parent)
    : QObject(parent)
    , m_folder(std::move(folder))
    , m_name(std::move(name))
{}

SingleInstance::~SingleInstance()
{
    // The socket file goes with the server; the lock with the descriptor. The lock file
    // itself stays: removing it would let a launch lock a file that a third one no longer sees.
    delete m_server;
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString SingleInstance::runtimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::lockPath() const
{
    return QDir(m_folder).filePath(m_name + QStringLiteral(".lock"));
}

QString SingleInstance::socketPath() const
{
    return QDir(m_folder).filePath(m_name + QStringLiteral(".socket"));
}

SingleInstance::Claim SingleInstance::claim(qint64 predecessor, milliseconds patience)
{
    if (m_server)
        return Claim::Running;
    // A predecessor that relaunched this process still holds the lock until it has gone;
    // handing it a reopen request would only show the window that is about to close.
    if (predecessor > 0 && predecessor != QCoreApplication::applicationPid())
        waitForProcessEnd(predecessor, patience);

    const Clock::time_point deadline = Clock::now() + patience;
    for (;;) {
        switch (tryLock()) {
        case Lock::Taken:
            return listen() ? Claim::Running : Claim::Unavailable;
        case Lock::Error:
            return Claim::Unavailable;
        case Lock::Held:
            break;
        }
        if (handOver(remainingUntil(deadline)))
            return Claim::HandedOver;
        if (remainingUntil(deadline) == milliseconds(0)) {
            m_error = QStringLiteral("the running instance did not answer on %1").arg(socketPath());
            return Claim::NotAnswered;
        }
        QThread::msleep(static_cast<unsigned long>(std::min(retryInterval, remainingUntil(deadline)).count()));
    }
}

bool SingleInstance::lock()
{
    return tryLock() == Lock::Taken;
}

SingleInstance::Lock SingleInstance::tryLock()
{
    if (m_lockFd >= 0)
        return Lock::Taken;
    const QByteArray folder = QFile::encodeName(m_folder);
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        m_error = systemErrorText(errno);
        return Lock::Error;
    }
    // Close-on-exec: a child (the backend) must not keep the lock after this process is gone.
    const QByteArray path = QFile::encodeName(lockPath());
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = systemErrorText(errno);
        return Lock::Error;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        m_lockFd = fd;
        return Lock::Taken;
    }
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK)
        return Lock::Held;
    m_error = systemErrorText(error);
    return Lock::Error;
}

bool SingleInstance::listen()
{
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, any socket file there is left over from an instance that died.
    QLocalServer::removeServer(socketPath());
    if (!server->listen(socketPath())) {
        m_error = server->errorString();
        delete server;
        return false;
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::serve);
    return true;
}

void SingleInstance::serve()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(idleConnectionLimit, socket, &QLocalSocket::abort);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > requestLimit)
                    socket->abort();
                return;
            }
            const bool reopen = socket->readLine(requestLimit + 1) == reopenRequest;
            if (reopen) {
                // Answered first: the launch that asked can end while the window comes up.
                socket->write(reopenAnswer);
                socket->flush();
            }
            socket->disconnectFromServer();
            if (reopen)
                emit reopenRequested();
        });
    }
}

bool SingleInstance::handOver(milliseconds patience)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    const Clock::time_point deadline = Clock::now() + patience;
    if (!socket.waitForConnected(int(remainingUntil(deadline).count())))
        return false;
    socket.write(reopenRequest);
    if (!socket.waitForBytesWritten(int(remainingUntil(deadline).count())))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(int(remainingUntil(deadline).count())))
            return false;
    }
    return socket.readLine(requestLimit + 1) == reopenAnswer;
}

qint64 relaunchedFrom(const QProcessEnvironment &environment)
{
    bool ok = false;
    const qint64 pid = environment.value(QString::fromLatin1(Relauncher::relaunchedFromVariable)).toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

bool waitForProcessEnd(qint64 pid, milliseconds patience)
{
    if (pid <= 0)
        return true;
#ifdef SYS_pidfd_open
    const int fd = int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
    if (fd < 0 && errno == ESRCH)
        return true;
    if (fd >= 0) {
        // Readable once the process has exited, reaped or not.
        pollfd watch = {fd, POLLIN, 0};
        const Clock::time_point deadline = Clock::now() + patience;
        int ready;
        do {
            ready = ::poll(&watch, 1, int(remainingUntil(deadline).count()));
        } while (ready < 0 && errno == EINTR);
        ::close(fd);
        return ready > 0;
    }
#endif
    const Clock::time_point deadline = Clock::now() + patience;
    while (!isZombieOrGone(pid)) {
        if (remainingUntil(deadline) == milliseconds(0))
            return false;
        QThread::msleep(static_cast<unsigned long>(std::min(retryInterval, remainingUntil(deadline)).count()));
    }
    return true;
}

} // namespace velmora::platform
