#pragma once

#include "platform/FileHandle.h"

#include <QByteArray>
#include <QString>

namespace velmora::platform {

// Writes a tree of folders, files and links inside one new folder, by paths relative to it.
// Every step goes through the folder handles of the tree itself and never follows a link, so
// whatever names it is given, nothing is written outside the folder.
class DirectoryWriter
{
public:
    DirectoryWriter() = default;

    // Makes the folder at path (it must not exist yet; the folder holding it must) and works
    // inside it. isOpen() is false on failure and error() says why.
    static DirectoryWriter create(const QString &path);

    bool isOpen() const { return m_root.isOpen(); }
    QString error() const { return m_error; }

    // A folder at relative (missing folders on the way are made too); one that exists already
    // keeps its content and gets mode. An empty relative path is the root folder.
    bool makeDirectory(const QString &relative, int mode);
    // A new file at relative, opened for writing; an existing entry of that name is an error.
    FileHandle createFile(const QString &relative, int mode);
    bool makeSymlink(const QString &relative, const QByteArray &target);

private:
    // The handle of the folder that holds relative's last component, made as needed; name
    // gets that component.
    FileHandle openParent(const QString &relative, QByteArray &name);
    void fail(const QString &relative, int code);

    FileHandle m_root;
    QString m_path;
    QString m_error;
};

} // namespace velmora::platform
