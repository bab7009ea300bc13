#pragma once

// Which entries of a release archive may be unpacked. The archive holds one folder (the
// bundle, "velmora"); every entry must lie inside it and stay there: no absolute path, no
// "..", no link that leads out of the bundle, no path that passes through a link, nothing but
// folders, files and links, and no more than the limits allow.

#include "platform/ArchiveReader.h"

#include <QByteArray>
#include <QHash>
#include <QString>

namespace velmora::updates {

using platform::ArchiveEntry;
using platform::ArchiveEntryType;

struct ArchiveLimits
{
    qint64 maxTotalBytes = qint64(4) * 1024 * 1024 * 1024; // all files' content together
    qint64 maxEntries = 200000;
    qsizetype maxPathBytes = 4096;
    int maxDepth = 64;
};

enum class EntryProblem {
    None,
    EmptyPath,
    AbsolutePath,
    ParentReference, // a ".." component
    OutsideTopFolder,
    TopFolderNotDirectory,
    AbsoluteLink,
    EscapingLink, // a link whose target leaves the bundle, or could through another link
    HardLink,
    SpecialFile, // device, pipe, socket or anything else that is no file, folder or link
    ThroughLink, // the path passes through a link of the archive
    Duplicate,   // the same path again as something it cannot be both of
    TooLong,     // a path over the length or depth limit
    TooLarge,    // the content over the size limit
    TooManyEntries,
};

struct EntryVerdict
{
    EntryProblem problem = EntryProblem::None;
    // The entry's path inside the bundle ("bin/velmora"; empty for the bundle folder itself).
    QString relativePath;
    // The permissions to give it: the stored read, write and execute bits, never set-id or
    // sticky bits, and always the owner's read and write (and search for a folder), so that
    // the bundle can be removed again.
    int mode = 0;

    bool ok() const { return problem == EntryProblem::None; }
};

// Checks the entries of one archive in their order; each verdict takes the earlier entries
// into account. Once an entry is refused, the archive is refused: the caller stops there.
class ArchiveEntryChecker
{
public:
    explicit ArchiveEntryChecker(QString topFolder = QStringLiteral("velmora"), ArchiveLimits limits = {});

    EntryVerdict check(const ArchiveEntry &entry);

    qint64 totalBytes() const { return m_totalBytes; }
    qint64 entries() const { return m_entries; }

private:
    enum class Kind { ImpliedDirectory, Directory, File, Symlink };

    QString m_topFolder;
    ArchiveLimits m_limits;
    qint64 m_totalBytes = 0;
    qint64 m_entries = 0;
    QHash<QString, Kind> m_seen; // relative paths
};

// A short English description of a problem, for error details.
QString describe(EntryProblem problem);

} // namespace velmora::updates
