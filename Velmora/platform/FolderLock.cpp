#include "platform/FolderLock.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>

namespace velmora::platform {

FolderLock FolderLock::tryLock(const QString &folder)
{
    FolderLock lock;
    FileHandle handle(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_CLOEXEC | O_DIRECTORY | O_NOFOLLOW));
    if (!handle.isOpen())
        return lock;
    if (::flock(handle.fd(), LOCK_EX | LOCK_NB) != 0) {
        lock.m_heldByAnother = errno == EWOULDBLOCK;
        return lock;
    }
    lock.m_handle = std::move(handle);
    return lock;
}

} // namespace velmora::platform
