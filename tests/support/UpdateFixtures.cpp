#include "UpdateFixtures.h"

#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace velmora::test {

QByteArray makeTarGz(const QList<TarEntry> &entries)
{
    struct archive *writer = archive_write_new();
    archive_write_set_format_gnutar(writer);
    archive_write_add_filter_gzip(writer);
    // As gzip writes it: the compressed stream ends the file, without padding to a block.
    archive_write_set_bytes_in_last_block(writer, 1);
    QByteArray output;
    archive_write_open(
        writer, &output, nullptr,
        [](struct archive *, void *client, const void *buffer, size_t length) -> la_ssize_t {
            static_cast<QByteArray *>(client)->append(static_cast<const char *>(buffer), qsizetype(length));
            return la_ssize_t(length);
        },
        nullptr);
    for (const TarEntry &item : entries) {
        struct archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.path.constData());
        archive_entry_set_perm(entry, mode_t(item.mode));
        archive_entry_set_mtime(entry, 1700000000, 0);
        switch (item.type) {
        case TarEntry::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, item.content.size());
            break;
        case TarEntry::Directory:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case TarEntry::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, item.linkTarget.constData());
            break;
        case TarEntry::HardLink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, item.linkTarget.constData());
            break;
        case TarEntry::CharacterDevice:
            archive_entry_set_filetype(entry, AE_IFCHR);
            archive_entry_set_rdev(entry, makedev(1, 3));
            break;
        case TarEntry::Fifo:
            archive_entry_set_filetype(entry, AE_IFIFO);
            break;
        }
        archive_write_header(writer, entry);
        if (item.type == TarEntry::File && !item.content.isEmpty())
            archive_write_data(writer, item.content.constData(), size_t(item.content.size()));
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return output;
}

QByteArray incompressible(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

QByteArray harnessLauncher()
{
    return "#!/bin/sh\nhere=\"$(cd \"$(dirname \"$0\")/..\" && pwd -P)\"\nexec '"
           + helperProgram(QStringLiteral("update_harness")).toUtf8() + "' launch --bundle \"$here\" \"$@\"\n";
}

QList<TarEntry> bundleEntries(const QString &version, const QByteArray &executable, const QByteArray &extraInfo)
{
    const QByteArray info = "{\n  \"CFBundleIdentifier\": \"app.velmora.Velmora\",\n  \"CFBundleShortVersionString\": \""
                            + version.toUtf8() + "\"" + (extraInfo.isEmpty() ? QByteArray() : ",\n  " + extraInfo) + "\n}\n";
    return {
        TarEntry::folder("velmora/"),
        TarEntry::file("velmora/Info.json", info),
        TarEntry::folder("velmora/Resources/"),
        TarEntry::folder("velmora/Resources/app/"),
        TarEntry::file("velmora/Resources/app/notes.txt", "Velmora " + version.toUtf8() + "\n"),
        TarEntry::folder("velmora/bin/"),
        TarEntry::file("velmora/bin/velmora", executable, 0755),
    };
}

QList<TarEntry> entriesOfFolder(const QString &folder, const QByteArray &top)
{
    QList<TarEntry> entries{TarEntry::folder(top + '/')};
    const QDir base(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths << base.relativeFilePath(it.next());
    std::sort(paths.begin(), paths.end());
    for (const QString &relative : paths) {
        const QFileInfo info(base.filePath(relative));
        const QByteArray path = top + '/' + relative.toUtf8();
        if (info.isSymLink())
            entries << TarEntry::link(path, info.symLinkTarget().toUtf8());
        else if (info.isDir())
            entries << TarEntry::folder(path + '/');
        else
            entries << TarEntry::file(path, readFile(info.filePath()), info.isExecutable() ? 0755 : 0644);
    }
    return entries;
}

bool writeBundle(const QString &folder, const QString &version, const QByteArray &executable, const QByteArray &extraInfo)
{
    if (QFileInfo::exists(folder))
        return false;
    for (const TarEntry &entry : bundleEntries(version, executable, extraInfo)) {
        const QString path = folder + QString::fromUtf8(entry.path.mid(QByteArray("velmora").size()));
        if (entry.type == TarEntry::Directory) {
            if (!QDir().mkpath(path))
                return false;
        } else if (!writeFile(path, entry.content)
                   || ::chmod(QFile::encodeName(path).constData(), mode_t(entry.mode)) != 0) {
            return false;
        }
    }
    return true;
}

const updates::KeyPair &testKeys()
{
    static const updates::KeyPair keys = updates::generateKeyPair();
    return keys;
}

QString testPublicKey()
{
    return QString::fromLatin1(testKeys().publicKey.toBase64());
}

} // namespace velmora::test
