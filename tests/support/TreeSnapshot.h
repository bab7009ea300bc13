#pragma once

// A folder tree described entry by entry, to compare two trees or a tree before and after.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>

#include <unistd.h>

namespace velmora::test {

// One entry of a folder tree: its kind and permissions, and a file's content or a link's target.
struct TreeEntry
{
    QChar kind; // 'd' folder, 'f' file, 'l' link, '?' anything else
    QFile::Permissions permissions;
    QByteArray content;

    bool operator==(const TreeEntry &other) const = default;
};

// Every entry under root by its path relative to root; links are not followed.
inline QMap<QString, TreeEntry> describeTree(const QString &root)
{
    QMap<QString, TreeEntry> tree;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        TreeEntry entry;
        entry.permissions = info.permissions();
        if (info.isSymLink()) {
            entry.kind = QLatin1Char('l');
            // The target as written, relative or not.
            const QByteArray path = QFile::encodeName(info.filePath());
            char target[4096];
            const ssize_t length = ::readlink(path.constData(), target, sizeof target);
            entry.content = length < 0 ? QByteArray() : QByteArray(target, length);
        } else if (info.isDir()) {
            entry.kind = QLatin1Char('d');
        } else if (info.isFile()) {
            entry.kind = QLatin1Char('f');
            QFile file(info.filePath());
            if (file.open(QIODevice::ReadOnly))
                entry.content = file.readAll();
        } else {
            entry.kind = QLatin1Char('?');
        }
        tree.insert(base.relativeFilePath(info.filePath()), entry);
    }
    return tree;
}

} // namespace velmora::test
