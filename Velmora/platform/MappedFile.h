#pragma once

#include <QByteArrayView>
#include <QString>

namespace velmora::platform {

// A regular file mapped read-only into memory: large files are read through the page cache
// instead of being copied onto the heap. Unmapped when the object goes.
class MappedFile
{
public:
    MappedFile() = default;
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;
    MappedFile(MappedFile &&other) noexcept;
    MappedFile &operator=(MappedFile &&other) noexcept;
    ~MappedFile();

    // Maps the file at path (a link at path itself is not followed); isOpen() is false on
    // failure and error() says why.
    static MappedFile open(const QString &path);

    bool isOpen() const { return m_open; }
    QByteArrayView data() const { return QByteArrayView(static_cast<const char *>(m_address), m_size); }
    qsizetype size() const { return m_size; }
    QString error() const { return m_error; }

private:
    void unmap();

    void *m_address = nullptr;
    qsizetype m_size = 0;
    bool m_open = false;
    QString m_error;
};

} // namespace velmora::platform
