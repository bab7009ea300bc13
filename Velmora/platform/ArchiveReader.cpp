#include "platform/ArchiveReader.h"

#include <archive.h>
#include <archive_entry.h>

namespace velmora::platform {

ArchiveReader::ArchiveReader(QByteArrayView data) : m_archive(archive_read_new())
{
    if (!m_archive) {
        m_error = QStringLiteral("libarchive could not start a reader");
        return;
    }
    archive_read_support_filter_gzip(m_archive);
    archive_read_support_format_tar(m_archive);
    // An empty view still needs a valid address for libarchive.
    static const char empty = 0;
    const void *bytes = data.isEmpty() ? static_cast<const void *>(&empty) : static_cast<const void *>(data.data());
    if (archive_read_open_memory(m_archive, bytes, size_t(data.size())) != ARCHIVE_OK)
        fail();
}

ArchiveReader::~ArchiveReader()
{
    if (m_archive)
        archive_read_free(m_archive);
}

void ArchiveReader::fail()
{
    const char *text = m_archive ? archive_error_string(m_archive) : nullptr;
    m_error = text ? QString::fromLocal8Bit(text) : QStringLiteral("the archive could not be read");
}

bool ArchiveReader::next(ArchiveEntry &entry)
{
    if (!m_archive || !m_error.isEmpty())
        return false;
    struct archive_entry *header = nullptr;
    const int result = archive_read_next_header(m_archive, &header);
    if (result == ARCHIVE_EOF)
        return false;
    // Warnings (an unknown extended attribute, say) still describe the entry fully.
    if (result != ARCHIVE_OK && result != ARCHIVE_WARN) {
        fail();
        return false;
    }

    entry = ArchiveEntry();
    const char *path = archive_entry_pathname(header);
    entry.path = path ? QByteArray(path) : QByteArray();
    entry.size = archive_entry_size_is_set(header) ? qint64(archive_entry_size(header)) : 0;
    entry.mode = int(archive_entry_perm(header));
    if (const char *hardlink = archive_entry_hardlink(header)) {
        entry.type = ArchiveEntryType::HardLink;
        entry.linkTarget = QByteArray(hardlink);
        return true;
    }
    switch (archive_entry_filetype(header)) {
    case AE_IFREG:
        entry.type = ArchiveEntryType::File;
        break;
    case AE_IFDIR:
        entry.type = ArchiveEntryType::Directory;
        break;
    case AE_IFLNK: {
        entry.type = ArchiveEntryType::Symlink;
        const char *target = archive_entry_symlink(header);
        entry.linkTarget = target ? QByteArray(target) : QByteArray();
        break;
    }
    default:
        entry.type = ArchiveEntryType::Other;
        break;
    }
    return true;
}

bool ArchiveReader::readContent(const std::function<bool(QByteArrayView piece)> &sink)
{
    if (!m_archive || !m_error.isEmpty())
        return false;
    qint64 expected = 0;
    for (;;) {
        const void *buffer = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int result = archive_read_data_block(m_archive, &buffer, &size, &offset);
        if (result == ARCHIVE_EOF)
            return true;
        if (result != ARCHIVE_OK && result != ARCHIVE_WARN) {
            fail();
            return false;
        }
        // A sparse file arrives with holes between its blocks; a release archive has none, and
        // writing the blocks one after the other would shift the content.
        if (qint64(offset) != expected) {
            m_error = QStringLiteral("a sparse file, which release archives never hold");
            return false;
        }
        expected += qint64(size);
        if (size > 0 && !sink(QByteArrayView(static_cast<const char *>(buffer), qsizetype(size))))
            return false;
    }
}

QString ArchiveReader::checkCompressedStream(QByteArrayView data)
{
    struct archive *reader = archive_read_new();
    if (!reader)
        return QStringLiteral("libarchive could not start a reader");
    archive_read_support_filter_gzip(reader);
    archive_read_support_format_raw(reader);
    static const char empty = 0;
    const void *bytes = data.isEmpty() ? static_cast<const void *>(&empty) : static_cast<const void *>(data.data());
    QString error;
    struct archive_entry *header = nullptr;
    if (archive_read_open_memory(reader, bytes, size_t(data.size())) != ARCHIVE_OK
        || archive_read_next_header(reader, &header) != ARCHIVE_OK) {
        error = QStringLiteral("not a compressed stream");
    } else {
        for (;;) {
            const void *block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            const int result = archive_read_data_block(reader, &block, &size, &offset);
            if (result == ARCHIVE_EOF)
                break;
            if (result != ARCHIVE_OK && result != ARCHIVE_WARN) {
                const char *text = archive_error_string(reader);
                error = text ? QString::fromLocal8Bit(text) : QStringLiteral("the compressed stream is cut short");
                break;
            }
        }
    }
    archive_read_free(reader);
    return error;
}

} // namespace velmora::platform
