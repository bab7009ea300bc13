#include "platform/InstallFiles.h"

#include "platform/FileHandle.h"
#include "platform/SystemError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace velmora::platform {
namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QString parentOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

void setError(QString *error, const QString &what, int code)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(what, systemErrorText(code));
}

int removeEntry(const char *path, const struct stat *, int type, struct FTW *)
{
    const int result = type == FTW_DP ? ::rmdir(path) : ::unlink(path);
    return result == 0 || errno == ENOENT ? 0 : errno;
}

} // namespace

std::optional<FileIdentity> identityOf(const QString &path)
{
    struct stat st;
    if (::lstat(native(path).constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
}

bool exchangePaths(const QString &first, const QString &second, QString *error)
{
    if (::renameat2(AT_FDCWD, native(first).constData(), AT_FDCWD, native(second).constData(), RENAME_EXCHANGE) != 0) {
        setError(error, first, errno);
        return false;
    }
    syncFolder(parentOf(first));
    if (parentOf(second) != parentOf(first))
        syncFolder(parentOf(second));
    return true;
}

bool writeFileAtomically(const QString &path, const QByteArray &content, QString *error)
{
    const QString temporary = path + QStringLiteral(".new");
    {
        FileHandle file(::open(native(temporary).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!file.isOpen()) {
            setError(error, temporary, errno);
            return false;
        }
        qsizetype written = 0;
        while (written < content.size()) {
            const ssize_t n = ::write(file.fd(), content.constData() + written, size_t(content.size() - written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                setError(error, temporary, n < 0 ? errno : ENOSPC);
                ::unlink(native(temporary).constData());
                return false;
            }
            written += n;
        }
        if (::fsync(file.fd()) != 0) {
            setError(error, temporary, errno);
            ::unlink(native(temporary).constData());
            return false;
        }
    }
    if (::rename(native(temporary).constData(), native(path).constData()) != 0) {
        setError(error, path, errno);
        ::unlink(native(temporary).constData());
        return false;
    }
    syncFolder(parentOf(path));
    return true;
}

SmallFile readSmallFile(const QString &path, qsizetype maxBytes)
{
    SmallFile result;
    FileHandle file(::open(native(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file.isOpen()) {
        if (errno != ENOENT)
            result.error = QStringLiteral("%1: %2").arg(path, systemErrorText(errno));
        return result;
    }
    result.exists = true;
    struct stat st;
    if (::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
        result.error = QStringLiteral("%1: not a regular file").arg(path);
        return result;
    }
    QByteArray content;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(file.fd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.error = QStringLiteral("%1: %2").arg(path, systemErrorText(errno));
            return result;
        }
        if (n == 0)
            break;
        if (content.size() + n > maxBytes) {
            result.tooLarge = true;
            return result;
        }
        content.append(buffer, n);
    }
    result.content = content;
    return result;
}

bool removeTree(const QString &path, QString *error)
{
    struct stat st;
    if (::lstat(native(path).constData(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        setError(error, path, errno);
        return false;
    }
    // Writable folders first, so a read-only folder of the tree does not stop the removal.
    if (S_ISDIR(st.st_mode)) {
        ::nftw(
            native(path).constData(),
            [](const char *entry, const struct stat *entryStat, int type, struct FTW *) {
                if (type == FTW_D && (entryStat->st_mode & S_IRWXU) != S_IRWXU)
                    ::chmod(entry, (entryStat->st_mode & 07777) | S_IRWXU);
                return 0;
            },
            64, FTW_PHYS);
    }
    const int failure = ::nftw(native(path).constData(), removeEntry, 64, FTW_DEPTH | FTW_PHYS);
    if (failure != 0) {
        setError(error, path, failure > 0 ? failure : errno);
        return false;
    }
    syncFolder(parentOf(path));
    return true;
}

bool isWritableFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && ::access(native(path).constData(), W_OK | X_OK) == 0;
}

bool writableByOthers(const QString &path)
{
    struct stat folder;
    if (::stat(native(path).constData(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return true;
    if (folder.st_uid != ::geteuid() && folder.st_uid != 0)
        return true;
    if (folder.st_mode & S_IWOTH)
        return true;
    // A group write bit is harmless on the user's own group (Debian gives every user one).
    return (folder.st_mode & S_IWGRP) && folder.st_gid != ::getegid();
}

bool isPrivateFolder(const QString &path)
{
    struct stat folder;
    return ::lstat(native(path).constData(), &folder) == 0 && S_ISDIR(folder.st_mode) && folder.st_uid == ::geteuid()
           && (folder.st_mode & 077) == 0;
}

bool onSameFileSystem(const QString &first, const QString &second)
{
    struct stat a;
    struct stat b;
    return ::stat(native(first).constData(), &a) == 0 && ::stat(native(second).constData(), &b) == 0 && a.st_dev == b.st_dev;
}

bool syncFileSystem(const QString &path, QString *error)
{
    FileHandle folder(::open(native(path).constData(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    if (!folder.isOpen() || ::syncfs(folder.fd()) != 0) {
        setError(error, path, errno);
        return false;
    }
    return true;
}

bool syncFolder(const QString &path)
{
    FileHandle folder(::open(native(path).constData(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    return folder.isOpen() && ::fsync(folder.fd()) == 0;
}

std::optional<qint64> freeBytes(const QString &path)
{
    struct statvfs st;
    if (::statvfs(native(path).constData(), &st) != 0)
        return std::nullopt;
    return qint64(st.f_bavail) * qint64(st.f_frsize);
}

} // namespace velmora::platform
