#pragma once

#include "platform/FileHandle.h"

#include <QString>

#include <functional>

namespace velmora::platform {

bool fileExists(const QString &path);
// A regular file (after following links) that this process may execute.
bool isExecutableFile(const QString &path);
// Whether this process may write to path (a file, or a folder to create files in).
bool isWritable(const QString &path);

struct AppendingFile
{
    // Write handle positioned at the end; every write through it appends.
    FileHandle handle;
    QString error; // the platform's description; empty on success

    bool ok() const { return error.isEmpty(); }
};

// Creates the file's folder (with its parents) and the file when missing, and opens the file
// for appending; nothing is ever truncated. The path is handed to locationKnown as soon as the
// folder exists, before the file is opened, so a caller can point at the file even when the
// open fails.
AppendingFile openAppendingFile(const QString &path,
                                const std::function<void(const QString &path)> &locationKnown = {});

} // namespace velmora::platform
