// The rules of what a release archive may hold, entry by entry, without the archive format
// around them (the release_archive target reaches them through gzip and tar, which a fuzzer
// rarely gets past).
//
// Input: one entry a line, "<type><path>" or "<type><path>\t<link target or size>"; type is
// f (file), d (folder), l (symbolic link), h (hard link) or o (anything else). The entries go
// to one checker in their order, until the first is refused, as the unpacker does.

#include "FuzzSupport.h"

#include "updates/ArchiveEntryChecker.h"

#include <QDir>
#include <QList>
#include <QStringList>

using namespace velmora;
using updates::ArchiveEntry;
using updates::ArchiveEntryType;

namespace {

ArchiveEntryType typeOf(char c)
{
    switch (c) {
    case 'f':
        return ArchiveEntryType::File;
    case 'd':
        return ArchiveEntryType::Directory;
    case 'l':
        return ArchiveEntryType::Symlink;
    case 'h':
        return ArchiveEntryType::HardLink;
    default:
        return ArchiveEntryType::Other;
    }
}

bool inside(const QString &cleaned)
{
    return cleaned == QLatin1String("/bundle") || cleaned.startsWith(QLatin1String("/bundle/"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    updates::ArchiveLimits limits;
    limits.maxTotalBytes = 1000000;
    limits.maxEntries = 500;
    updates::ArchiveEntryChecker checker(QStringLiteral("velmora"), limits);
    QStringList links; // accepted links, by relative path
    qint64 total = 0;

    for (const QByteArray &line : fuzz::bytesOf(data, size).split('\n')) {
        if (line.isEmpty())
            continue;
        ArchiveEntry entry;
        entry.type = typeOf(line.at(0));
        const qsizetype tab = line.indexOf('\t');
        entry.path = line.mid(1, tab < 0 ? -1 : tab - 1);
        const QByteArray extra = tab < 0 ? QByteArray() : line.mid(tab + 1);
        if (entry.type == ArchiveEntryType::Symlink || entry.type == ArchiveEntryType::HardLink)
            entry.linkTarget = extra;
        else
            entry.size = extra.toLongLong();
        entry.mode = 0755;

        const updates::EntryVerdict verdict = checker.check(entry);
        if (!verdict.ok())
            break;

        const QString relative = verdict.relativePath;
        fuzz::check(!relative.startsWith(QLatin1Char('/')), "an accepted path is relative");
        const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        fuzz::check(!parts.contains(QStringLiteral("..")) && !parts.contains(QStringLiteral(".")),
                    "an accepted path has neither \"..\" nor \".\"");
        fuzz::check(parts.join(QLatin1Char('/')) == relative, "an accepted path is written plainly");
        fuzz::check(entry.type != ArchiveEntryType::HardLink && entry.type != ArchiveEntryType::Other,
                    "only folders, files and links are accepted");
        fuzz::check((verdict.mode & ~0777) == 0 && (verdict.mode & 0600) == 0600, "modes are plain and the owner's");
        if (!relative.isEmpty()) {
            fuzz::check(inside(QDir::cleanPath(QStringLiteral("/bundle/") + relative)), "an accepted path lies inside");
            for (const QString &link : std::as_const(links))
                fuzz::check(!relative.startsWith(link + QLatin1Char('/')), "no accepted path passes through a link");
        }
        if (entry.type == ArchiveEntryType::File) {
            total += entry.size;
            fuzz::check(entry.size >= 0 && total <= limits.maxTotalBytes, "the size limit holds");
        }
        if (entry.type == ArchiveEntryType::Symlink) {
            const QString target = QString::fromUtf8(entry.linkTarget);
            fuzz::check(!target.startsWith(QLatin1Char('/')), "an accepted link is relative");
            const QString folder = QStringLiteral("/bundle/") + relative.section(QLatin1Char('/'), 0, -2);
            fuzz::check(inside(QDir::cleanPath(folder + QLatin1Char('/') + target)), "an accepted link leads inside");
            links << relative;
        }
    }
    return 0;
}
