#pragma once

// What the update installation tests build for themselves: release archives written with
// libarchive, bundle folders, and signatures with a key pair made for the test run (no private
// key is ever stored).

#include "updates/UpdateSignature.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace velmora::test {

// One entry of an archive to write.
struct TarEntry
{
    enum Type { File, Directory, Symlink, HardLink, CharacterDevice, Fifo };

    QByteArray path;
    Type type = File;
    QByteArray content;    // File
    QByteArray linkTarget; // Symlink, HardLink
    int mode = 0644;

    static TarEntry file(const QByteArray &path, const QByteArray &content, int mode = 0644)
    {
        return TarEntry{path, File, content, {}, mode};
    }
    static TarEntry folder(const QByteArray &path, int mode = 0755) { return TarEntry{path, Directory, {}, {}, mode}; }
    static TarEntry link(const QByteArray &path, const QByteArray &target)
    {
        return TarEntry{path, Symlink, {}, target, 0777};
    }
};

// A gzip-compressed GNU tar archive of entries, in their order.
QByteArray makeTarGz(const QList<TarEntry> &entries);

// The entries of a release archive of a small bundle: velmora/, velmora/bin/velmora (with
// executable as its content), velmora/Info.json carrying version and the extra Info.json
// members, velmora/Resources/app/notes.txt.
QList<TarEntry> bundleEntries(const QString &version, const QByteArray &executable, const QByteArray &extraInfo = {});

// The entries of a folder tree under top ("velmora/…"), sorted, as make-release.sh writes them.
QList<TarEntry> entriesOfFolder(const QString &folder, const QByteArray &top = "velmora");

// Writes the bundle of bundleEntries() into folder (which must not exist).
bool writeBundle(const QString &folder, const QString &version, const QByteArray &executable,
                 const QByteArray &extraInfo = {});

// Incompressible bytes (the same for every call), so that an archive holding them arrives in
// many pieces.
QByteArray incompressible(qsizetype size);

// The executable of a test bundle: it runs update_harness's launch mode on the bundle it lies
// in, which does what a start of Velmora does about an installation.
QByteArray harnessLauncher();

// A key pair made once per test process.
const updates::KeyPair &testKeys();
QString testPublicKey(); // base64

} // namespace velmora::test
