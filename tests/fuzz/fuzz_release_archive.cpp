// A downloaded release archive is unpacked only after its signature checks out, but the
// unpacker must be safe on any bytes: a signing key can leak, and a bug here writes files.
// The archive is unpacked for real into a fresh folder inside a scratch folder; nothing may
// appear beside it, and what is inside holds only folders, files and links that stay inside.
//
// Input: the archive (gzip-compressed tar).

#include "FuzzSupport.h"

#include "updates/BundleUnpacker.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

#include <unistd.h>

using namespace velmora;

namespace {

std::unique_ptr<QTemporaryDir> scratch;

// Small limits keep each run short; the rules do not depend on them.
updates::ArchiveLimits fuzzLimits()
{
    updates::ArchiveLimits limits;
    limits.maxTotalBytes = 4 * 1024 * 1024;
    limits.maxEntries = 2000;
    return limits;
}

// A link's target as written in it.
QString linkText(const QString &link)
{
    char buffer[8192];
    const ssize_t length = ::readlink(QFile::encodeName(link).constData(), buffer, sizeof buffer);
    return length < 0 ? QString() : QFile::decodeName(QByteArray(buffer, length));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    scratch = std::make_unique<QTemporaryDir>();
    if (!scratch->isValid())
        fuzz::fail("a scratch folder can be made");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString outer = scratch->filePath(QStringLiteral("run"));
    const QString destination = outer + QStringLiteral("/velmora");
    QDir(outer).removeRecursively();
    fuzz::check(QDir().mkpath(outer), "the run folder can be made");

    const updates::UnpackOutcome outcome = updates::unpackBundle(
        QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)), destination, fuzzLimits());
    fuzz::check(outcome.result != updates::UnpackOutcome::Result::Stopped, "nothing stops an unstopped unpacking");

    // Nothing beside the destination, whatever the outcome.
    const QStringList beside = QDir(outer).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    fuzz::check(beside.isEmpty() || beside == QStringList{QStringLiteral("velmora")},
                "nothing is written beside the bundle");

    if (outcome.ok()) {
        const QString root = QFileInfo(destination).canonicalFilePath();
        QDirIterator it(destination, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo entry(it.next());
            fuzz::check(entry.isSymLink() || entry.isDir() || entry.isFile(), "only folders, files and links");
            if (!entry.isSymLink())
                continue;
            // Read as text from the link's own folder, the target stays inside; so does whatever
            // the file system makes of it (with the archive's other links followed).
            const QString target = linkText(entry.filePath());
            fuzz::check(!target.isEmpty() && !target.startsWith(QLatin1Char('/')), "links are relative");
            const QString lexical = QDir::cleanPath(entry.absolutePath() + QLatin1Char('/') + target);
            const QString base = QFileInfo(destination).absoluteFilePath();
            fuzz::check(lexical == base || lexical.startsWith(base + QLatin1Char('/')), "links lead inside the bundle");
            const QString resolved = QFileInfo(entry.filePath()).canonicalFilePath();
            if (!resolved.isEmpty())
                fuzz::check(resolved == root || resolved.startsWith(root + QLatin1Char('/')),
                            "links stay inside the bundle");
        }
    }
    QDir(outer).removeRecursively();
    return 0;
}
