#include "platform/MappedFile.h"

#include "platform/FileHandle.h"
#include "platform/SystemError.h"

#include <QFile>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace velmora::platform {

MappedFile::MappedFile(MappedFile &&other) noexcept
    : m_address(std::exchange(other.m_address, nullptr))
    , m_size(std::exchange(other.m_size, 0))
    , m_open(std::exchange(other.m_open, false))
    , m_error(std::move(other.m_error))
{}

MappedFile &MappedFile::operator=(MappedFile &&other) noexcept
{
    if (this != &other) {
        unmap();
        m_address = std::exchange(other.m_address, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_open = std::exchange(other.m_open, false);
        m_error = std::move(other.m_error);
    }
    return *this;
}

MappedFile::~MappedFile()
{
    unmap();
}

void MappedFile::unmap()
{
    if (m_address && m_size > 0)
        ::munmap(m_address, size_t(m_size));
    m_address = nullptr;
    m_size = 0;
    m_open = false;
}

MappedFile MappedFile::open(const QString &path)
{
    MappedFile file;
    FileHandle handle(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st;
    if (!handle.isOpen() || ::fstat(handle.fd(), &st) != 0) {
        file.m_error = QStringLiteral("%1: %2").arg(path, systemErrorText(errno));
        return file;
    }
    if (!S_ISREG(st.st_mode)) {
        file.m_error = QStringLiteral("%1: not a regular file").arg(path);
        return file;
    }
    file.m_open = true;
    // An empty file has nothing to map.
    if (st.st_size == 0)
        return file;
    void *address = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, handle.fd(), 0);
    if (address == MAP_FAILED) {
        file.m_open = false;
        file.m_error = QStringLiteral("%1: %2").arg(path, systemErrorText(errno));
        return file;
    }
    file.m_address = address;
    file.m_size = qsizetype(st.st_size);
    return file;
}

} // namespace velmora::platform
