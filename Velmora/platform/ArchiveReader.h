#pragma once

// Reading a gzip-compressed tar archive held in memory, entry by entry (libarchive). Only the
// tar formats behind gzip are read: nothing else can be a release archive.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

struct archive;

namespace velmora::platform {

enum class ArchiveEntryType { File, Directory, Symlink, HardLink, Other };

// One entry as the archive describes it.
struct ArchiveEntry
{
    QByteArray path; // as stored, in the archive's own bytes
    ArchiveEntryType type = ArchiveEntryType::Other;
    qint64 size = 0;       // bytes of a file's content
    QByteArray linkTarget; // a symbolic or hard link's target, as stored
    int mode = 0;          // permission bits as stored
};

class ArchiveReader
{
public:
    // data must outlive the reader.
    explicit ArchiveReader(QByteArrayView data);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader &) = delete;
    ArchiveReader &operator=(const ArchiveReader &) = delete;

    // The next entry's header; false at the end of the archive or on an error (then error()
    // is not empty).
    bool next(ArchiveEntry &entry);
    // The current entry's content in pieces, each handed to sink; sink answers false to stop
    // (then this answers false with an empty error). False with error() on a damaged archive.
    bool readContent(const std::function<bool(QByteArrayView piece)> &sink);

    QString error() const { return m_error; }

    // Reads the whole compressed stream of data to its end; the description of what is wrong
    // (a stream cut short), empty when it is whole. The tar reader stops at the archive's end
    // marker and would not notice a stream cut after it.
    static QString checkCompressedStream(QByteArrayView data);

private:
    void fail();

    struct archive *m_archive = nullptr;
    QString m_error;
};

} // namespace velmora::platform
