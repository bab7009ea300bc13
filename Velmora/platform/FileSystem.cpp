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

// Writes all of data; false with errno set when a write fails.
bool writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// Copies the open file from into the open file to; the errno of the failing call, or 0.
int copyContent(int from, int to)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t read = ::read(from, buffer, sizeof buffer);
        if (read < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (read == 0)
            return 0;
        if (!writeAll(to, buffer, read))
            return errno;
    }
}

// The cross-file-system half of moveFileIntoPlace; the errno of the failing call, or 0.
int copyIntoPlace(const QByteArray &source, const QByteArray &destination)
{
    const FileHandle from(::open(source.constData(), O_RDONLY | O_CLOEXEC));
    if (!from.isOpen())
        return errno;
    struct stat st;
    if (::fstat(from.fd(), &st) != 0)
        return errno;

    // A short name of its own, so that a destination name near the length limit still fits.
    QByteArray temporary = QFile::encodeName(QFileInfo(QFile::decodeName(destination)).path()) + "/.velmora-XXXXXX";
    const FileHandle to(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!to.isOpen())
        return errno;
    int error = copyContent(from.fd(), to.fd());
    // The new file gets the downloaded file's permissions, not mkostemp's owner-only ones.
    if (!error && ::fchmod(to.fd(), st.st_mode & 07777) != 0)
        error = errno;
    if (!error && ::fsync(to.fd()) != 0)
        error = errno;
    if (!error && ::rename(temporary.constData(), destination.constData()) != 0)
        error = errno;
    if (error)
        ::unlink(temporary.constData());
    return error;
}

} // namespace

QString makeFolder(const QString &path)
{
    const int error = makePath(path);
    return error ? systemErrorText(error) : QString();
}

QString moveFileIntoPlace(const QString &source, const QString &destination)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
    if (::rename(from.constData(), to.constData()) == 0)
        return {};
    const int error = errno;
    if (error != EXDEV)
        return systemErrorText(error);
    if (const int copyError = copyIntoPlace(from, to))
        return systemErrorText(copyError);
    ::unlink(from.constData());
    return {};
}

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
