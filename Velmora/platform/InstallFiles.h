#pragma once

// File operations of replacing a bundle: they either happen whole or not at all, and what they
// wrote is on the disk before they report success, so a crash (or a power cut) at any moment
// leaves one state or the next.

#include <QByteArray>
#include <QString>

#include <optional>

namespace velmora::platform {

// A file's or folder's identity (device and inode): a rename keeps it, and two folders never
// share it while both exist.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;

    bool isNull() const { return device == 0 && inode == 0; }
    bool operator==(const FileIdentity &other) const = default;
};

// The identity of what stands at path itself (a link is not followed); nullopt when nothing does.
std::optional<FileIdentity> identityOf(const QString &path);

// Exchanges the two paths in one step (Linux renameat2 with RENAME_EXCHANGE): each then names
// what the other named. Both must exist on one file system. The folders holding them are
// synced afterwards. error gets the system's description on failure.
bool exchangePaths(const QString &first, const QString &second, QString *error);

// Writes content to path through a temporary file beside it that is synced and renamed over
// path; the folder is synced too. A reader finds the old content or the new one, never a mix.
bool writeFileAtomically(const QString &path, const QByteArray &content, QString *error);

struct SmallFile
{
    bool exists = false;
    bool tooLarge = false; // longer than the limit: content is empty
    QByteArray content;
    QString error; // a read error other than "not there"
};
// Reads a regular file of at most maxBytes without following a link at path itself.
SmallFile readSmallFile(const QString &path, qsizetype maxBytes);

// Removes path and everything below it without following links; true when nothing is left.
bool removeTree(const QString &path, QString *error = nullptr);

// A folder (after following links) that this process may create and rename entries in.
bool isWritableFolder(const QString &path);
// Whether a user other than this process's (and root) may create or rename entries in the folder
// path: others or a foreign group may write it, or it belongs to someone else. True when it
// cannot be examined.
bool writableByOthers(const QString &path);

// Whether path is a folder (not a link to one) that belongs to this process's user and that
// nobody else may read, write or enter.
bool isPrivateFolder(const QString &path);

// Both paths (links followed) lie on one file system.
bool onSameFileSystem(const QString &first, const QString &second);
// Makes everything written to the file system holding path durable.
bool syncFileSystem(const QString &path, QString *error = nullptr);
// Syncs a folder's own entries (after a rename or a removal inside it).
bool syncFolder(const QString &path);

// Bytes free for this user on the file system holding path; nullopt when unknown.
std::optional<qint64> freeBytes(const QString &path);

} // namespace velmora::platform
