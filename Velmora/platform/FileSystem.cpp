#include "platform/FileSystem.h"

#include "platform/SystemError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::platform {

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool fileExists(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

bool isExecutableFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return ::access(native.constData(), X_OK) == 0;
}

bool isWritable(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

namespace {

// mkdir -p that reports the failing call's errno (0 on success).
int makePath(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;

    const QString parent = QFileInfo(path).path();
    if (parent != path) {
        if (const int error = makePath(parent))
            return error;
    }
    if (::mkdir(native.constData(), 0755) == 0)
        return 0;
    const int error = errno;
    // Someone else may have made it in the meantime.
    if (error == EEXIST && ::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return 0;
    return error;
}

} // namespace

AppendingFile openAppendingFile(const QString &path, const std::function<void(const QString &path)> &locationKnown)
{
    AppendingFile result;
    if (const int error = makePath(QFileInfo(path).path())) {
        result.error = systemErrorText(error);
        return result;
    }
    if (locationKnown)
        locationKnown(path);

    const QByteArray native = QFile::encodeName(path);
    if (!fileExists(path)) {
        // A failure here shows up in the open below.
        const int created = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (created >= 0)
            ::close(created);
    }

    // O_APPEND: every writer only ever adds to the end, so the file is never truncated or
    // overwritten.
    FileHandle handle(::open(native.constData(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!handle.isOpen()) {
        result.error = systemErrorText(errno);
        return result;
    }
    if (::lseek(handle.fd(), 0, SEEK_END) < 0) {
        result.error = systemErrorText(errno);
        return result;
    }
    result.handle = std::move(handle);
    return result;
}

} // namespace velmora::platform
