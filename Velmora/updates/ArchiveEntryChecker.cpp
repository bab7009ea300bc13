#include "updates/ArchiveEntryChecker.h"

#include <QStringList>

namespace velmora::updates {
namespace {

// Path components without empty and "." ones; nullopt-like flag when a ".." appears.
struct Components
{
    QStringList parts;
    bool parent = false;
};

Components componentsOf(const QString &path)
{
    Components result;
    for (const QString &part : path.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            result.parent = true;
        result.parts.append(part);
    }
    return result;
}

// A link target stays inside when it climbs only at its start, no higher than the link's own
// folder lies below the bundle, and then only descends. Climbing after a name could climb out
// of the folder another link leads to, which a reading of the text alone cannot see.
bool linkStaysInside(const QString &target, qsizetype linkDepth)
{
    qsizetype climbs = 0;
    bool descended = false;
    for (const QString &part : target.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (descended)
                return false;
            ++climbs;
        } else {
            descended = true;
        }
    }
    return climbs <= linkDepth;
}

int permittedMode(int stored, bool directory)
{
    // No set-id or sticky bits, and nobody but the owner may write what is installed: the
    // archive only chooses whether others may read and run it.
    int mode = stored & 0755;
    mode |= directory ? 0700 : 0600;
    return mode;
}

} // namespace

ArchiveEntryChecker::ArchiveEntryChecker(QString topFolder, ArchiveLimits limits)
    : m_topFolder(std::move(topFolder))
    , m_limits(limits)
{}

EntryVerdict ArchiveEntryChecker::check(const ArchiveEntry &entry)
{
    EntryVerdict verdict;
    auto refuse = [&verdict](EntryProblem problem) {
        verdict.problem = problem;
        return verdict;
    };

    if (++m_entries > m_limits.maxEntries)
        return refuse(EntryProblem::TooManyEntries);
    if (entry.path.isEmpty())
        return refuse(EntryProblem::EmptyPath);
    if (entry.path.size() > m_limits.maxPathBytes || entry.linkTarget.size() > m_limits.maxPathBytes)
        return refuse(EntryProblem::TooLong);
    // Paths are bytes on Linux; NUL cannot stand in one and would cut it short.
    if (entry.path.contains('\0') || entry.linkTarget.contains('\0'))
        return refuse(EntryProblem::EmptyPath);
    if (entry.path.startsWith('/'))
        return refuse(EntryProblem::AbsolutePath);

    const QString path = QString::fromUtf8(entry.path);
    // Bytes that are not UTF-8 would not come back as the same name.
    if (path.toUtf8() != entry.path)
        return refuse(EntryProblem::EmptyPath);
    const Components components = componentsOf(path);
    if (components.parent)
        return refuse(EntryProblem::ParentReference);
    if (components.parts.isEmpty())
        return refuse(EntryProblem::EmptyPath);
    if (components.parts.first() != m_topFolder)
        return refuse(EntryProblem::OutsideTopFolder);
    if (components.parts.size() > m_limits.maxDepth)
        return refuse(EntryProblem::TooLong);

    const QStringList inside = components.parts.mid(1);
    verdict.relativePath = inside.join(QLatin1Char('/'));

    switch (entry.type) {
    case ArchiveEntryType::HardLink:
        return refuse(EntryProblem::HardLink);
    case ArchiveEntryType::Other:
        return refuse(EntryProblem::SpecialFile);
    case ArchiveEntryType::File:
    case ArchiveEntryType::Directory:
    case ArchiveEntryType::Symlink:
        break;
    }
    if (inside.isEmpty() && entry.type != ArchiveEntryType::Directory)
        return refuse(EntryProblem::TopFolderNotDirectory);

    // Every folder on the way must be a folder: one that is a link (or a file) would take the
    // entry somewhere else.
    QString prefix;
    for (qsizetype i = 0; i + 1 < inside.size(); ++i) {
        prefix = i == 0 ? inside[i] : prefix + QLatin1Char('/') + inside[i];
        const auto seen = m_seen.constFind(prefix);
        if (seen == m_seen.cend()) {
            m_seen.insert(prefix, Kind::ImpliedDirectory);
            continue;
        }
        if (*seen == Kind::Symlink)
            return refuse(EntryProblem::ThroughLink);
        if (*seen == Kind::File)
            return refuse(EntryProblem::Duplicate);
    }

    if (entry.type == ArchiveEntryType::Symlink) {
        const QString target = QString::fromUtf8(entry.linkTarget);
        if (target.isEmpty() || target.toUtf8() != entry.linkTarget)
            return refuse(EntryProblem::EscapingLink);
        if (target.startsWith(QLatin1Char('/')))
            return refuse(EntryProblem::AbsoluteLink);
        if (!linkStaysInside(target, inside.size() - 1))
            return refuse(EntryProblem::EscapingLink);
    }

    if (entry.type == ArchiveEntryType::File) {
        if (entry.size < 0 || entry.size > m_limits.maxTotalBytes - m_totalBytes)
            return refuse(EntryProblem::TooLarge);
        m_totalBytes += entry.size;
    }

    const Kind kind = entry.type == ArchiveEntryType::Directory ? Kind::Directory
                      : entry.type == ArchiveEntryType::File    ? Kind::File
                                                                : Kind::Symlink;
    if (!inside.isEmpty()) {
        const auto seen = m_seen.constFind(verdict.relativePath);
        if (seen != m_seen.cend()) {
            // A folder may be named again (first implied by its content, then as itself);
            // anything else named twice is refused rather than overwritten.
            const bool folderAgain = kind == Kind::Directory
                                     && (*seen == Kind::ImpliedDirectory || *seen == Kind::Directory);
            if (!folderAgain)
                return refuse(EntryProblem::Duplicate);
        }
        m_seen.insert(verdict.relativePath, kind);
    }
    verdict.mode = permittedMode(entry.mode, entry.type == ArchiveEntryType::Directory);
    return verdict;
}

QString describe(EntryProblem problem)
{
    switch (problem) {
    case EntryProblem::None:
        return QStringLiteral("accepted");
    case EntryProblem::EmptyPath:
        return QStringLiteral("an entry without a usable name");
    case EntryProblem::AbsolutePath:
        return QStringLiteral("an absolute path");
    case EntryProblem::ParentReference:
        return QStringLiteral("a path with \"..\"");
    case EntryProblem::OutsideTopFolder:
        return QStringLiteral("an entry outside the bundle folder");
    case EntryProblem::TopFolderNotDirectory:
        return QStringLiteral("the bundle folder is not a folder");
    case EntryProblem::AbsoluteLink:
        return QStringLiteral("a link to an absolute path");
    case EntryProblem::EscapingLink:
        return QStringLiteral("a link that leads out of the bundle");
    case EntryProblem::HardLink:
        return QStringLiteral("a hard link");
    case EntryProblem::SpecialFile:
        return QStringLiteral("a device, pipe or socket");
    case EntryProblem::ThroughLink:
        return QStringLiteral("a path through a link");
    case EntryProblem::Duplicate:
        return QStringLiteral("a path given twice");
    case EntryProblem::TooLong:
        return QStringLiteral("a path over the length limit");
    case EntryProblem::TooLarge:
        return QStringLiteral("more content than the size limit");
    case EntryProblem::TooManyEntries:
        return QStringLiteral("more entries than the limit");
    }
    return {};
}

} // namespace velmora::updates
