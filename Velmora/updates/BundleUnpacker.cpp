#include "updates/BundleUnpacker.h"

#include "platform/ArchiveReader.h"
#include "platform/DirectoryWriter.h"
#include "platform/SystemError.h"

#include <cerrno>

#include <unistd.h>

namespace velmora::updates {
namespace {

bool writeAll(int fd, QByteArrayView piece)
{
    qsizetype written = 0;
    while (written < piece.size()) {
        const ssize_t n = ::write(fd, piece.data() + written, size_t(piece.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        written += n;
    }
    return true;
}

} // namespace

UnpackOutcome unpackBundle(QByteArrayView archive, const QString &destination, const ArchiveLimits &limits,
                           const platform::WorkerStop &stop)
{
    UnpackOutcome outcome;
    auto finish = [&outcome](UnpackOutcome::Result result, const QString &detail) {
        outcome.result = result;
        outcome.detail = detail;
        return outcome;
    };

    platform::DirectoryWriter writer = platform::DirectoryWriter::create(destination);
    if (!writer.isOpen())
        return finish(UnpackOutcome::Result::WriteFailed, writer.error());

    platform::ArchiveReader reader(archive);
    ArchiveEntryChecker checker(QStringLiteral("velmora"), limits);
    platform::ArchiveEntry entry;
    qint64 entries = 0;
    while (reader.next(entry)) {
        if (stop.isRequested())
            return finish(UnpackOutcome::Result::Stopped, QStringLiteral("stopped"));
        ++entries;
        const EntryVerdict verdict = checker.check(entry);
        const QString name = QString::fromUtf8(entry.path);
        if (!verdict.ok()) {
            outcome.problem = verdict.problem;
            return finish(UnpackOutcome::Result::Refused, QStringLiteral("%1: %2").arg(name, describe(verdict.problem)));
        }
        switch (entry.type) {
        case platform::ArchiveEntryType::Directory:
            if (!writer.makeDirectory(verdict.relativePath, verdict.mode))
                return finish(UnpackOutcome::Result::WriteFailed, writer.error());
            break;
        case platform::ArchiveEntryType::Symlink:
            if (!writer.makeSymlink(verdict.relativePath, entry.linkTarget))
                return finish(UnpackOutcome::Result::WriteFailed, writer.error());
            break;
        case platform::ArchiveEntryType::File: {
            platform::FileHandle file = writer.createFile(verdict.relativePath, verdict.mode);
            if (!file.isOpen())
                return finish(UnpackOutcome::Result::WriteFailed, writer.error());
            qint64 written = 0;
            bool writeFailed = false;
            int writeError = 0;
            const bool read = reader.readContent([&](QByteArrayView piece) {
                if (stop.isRequested())
                    return false;
                // Never more than the header announced, whatever the data says.
                if (piece.size() > entry.size - written || !writeAll(file.fd(), piece)) {
                    writeFailed = true;
                    writeError = piece.size() > entry.size - written ? EFBIG : errno;
                    return false;
                }
                written += piece.size();
                return true;
            });
            if (stop.isRequested())
                return finish(UnpackOutcome::Result::Stopped, QStringLiteral("stopped"));
            if (writeFailed && writeError != EFBIG)
                return finish(UnpackOutcome::Result::WriteFailed,
                              QStringLiteral("%1: %2").arg(name, platform::systemErrorText(writeError)));
            if (!read || writeFailed || written != entry.size)
                return finish(UnpackOutcome::Result::Damaged,
                              QStringLiteral("%1: %2").arg(
                                  name, reader.error().isEmpty() ? QStringLiteral("content cut short") : reader.error()));
            break;
        }
        case platform::ArchiveEntryType::HardLink:
        case platform::ArchiveEntryType::Other:
            // The checker refuses both.
            return finish(UnpackOutcome::Result::Refused, name);
        }
    }
    if (!reader.error().isEmpty())
        return finish(UnpackOutcome::Result::Damaged, reader.error());
    if (const QString cut = platform::ArchiveReader::checkCompressedStream(archive); !cut.isEmpty())
        return finish(UnpackOutcome::Result::Damaged, cut);
    if (entries == 0)
        return finish(UnpackOutcome::Result::Damaged, QStringLiteral("the archive holds no entries"));
    return finish(UnpackOutcome::Result::Unpacked, QString());
}

} // namespace velmora::updates
