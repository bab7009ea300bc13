#include "platform/DirectoryWriter.h"

#include "platform/SystemError.h"

#include <QFile>
#include <QStringList>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::platform {
namespace {

constexpr int openFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Folders on the way get this until their own entry (if any) names their mode.
constexpr mode_t impliedFolderMode = 0755;

} // namespace

DirectoryWriter DirectoryWriter::create(const QString &path)
{
    DirectoryWriter writer;
    writer.m_path = path;
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0) {
        writer.fail(QString(), errno);
        return writer;
    }
    writer.m_root = FileHandle(::open(native.constData(), openFolderFlags));
    if (!writer.m_root.isOpen())
        writer.fail(QString(), errno);
    return writer;
}

void DirectoryWriter::fail(const QString &relative, int code)
{
    m_error = QStringLiteral("%1: %2").arg(relative.isEmpty() ? m_path : m_path + QLatin1Char('/') + relative,
                                           systemErrorText(code));
}

FileHandle DirectoryWriter::openParent(const QString &relative, QByteArray &name)
{
    QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    name = parts.isEmpty() ? QByteArray() : QFile::encodeName(parts.takeLast());
    FileHandle current(::dup(m_root.fd()));
    for (const QString &part : parts) {
        const QByteArray component = QFile::encodeName(part);
        if (component == "." || component == "..") {
            fail(relative, EINVAL);
            return {};
        }
        if (::mkdirat(current.fd(), component.constData(), impliedFolderMode) != 0 && errno != EEXIST) {
            fail(relative, errno);
            return {};
        }
        FileHandle next(::openat(current.fd(), component.constData(), openFolderFlags));
        if (!next.isOpen()) {
            fail(relative, errno);
            return {};
        }
        current = std::move(next);
    }
    if (name == "." || name == "..") {
        fail(relative, EINVAL);
        return {};
    }
    return current;
}

bool DirectoryWriter::makeDirectory(const QString &relative, int mode)
{
    if (!isOpen())
        return false;
    QByteArray name;
    FileHandle parent = openParent(relative, name);
    if (!parent.isOpen())
        return false;
    if (name.isEmpty()) {
        if (::fchmod(m_root.fd(), mode_t(mode)) != 0) {
            fail(relative, errno);
            return false;
        }
        return true;
    }
    if (::mkdirat(parent.fd(), name.constData(), mode_t(mode)) != 0) {
        if (errno != EEXIST) {
            fail(relative, errno);
            return false;
        }
    }
    // Through a handle of the folder itself: an existing link of that name fails to open.
    FileHandle folder(::openat(parent.fd(), name.constData(), openFolderFlags));
    if (!folder.isOpen() || ::fchmod(folder.fd(), mode_t(mode)) != 0) {
        fail(relative, errno);
        return false;
    }
    return true;
}

FileHandle DirectoryWriter::createFile(const QString &relative, int mode)
{
    if (!isOpen())
        return {};
    QByteArray name;
    FileHandle parent = openParent(relative, name);
    if (!parent.isOpen())
        return {};
    if (name.isEmpty()) {
        fail(relative, EISDIR);
        return {};
    }
    FileHandle file(
        ::openat(parent.fd(), name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode)));
    if (!file.isOpen()) {
        fail(relative, errno);
        return {};
    }
    // The umask may have taken bits away.
    ::fchmod(file.fd(), mode_t(mode));
    return file;
}

bool DirectoryWriter::makeSymlink(const QString &relative, const QByteArray &target)
{
    if (!isOpen())
        return false;
    QByteArray name;
    FileHandle parent = openParent(relative, name);
    if (!parent.isOpen())
        return false;
    if (name.isEmpty() || ::symlinkat(target.constData(), parent.fd(), name.constData()) != 0) {
        fail(relative, name.isEmpty() ? EEXIST : errno);
        return false;
    }
    return true;
}

} // namespace velmora::platform
