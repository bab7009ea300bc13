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

// Makes the folder and its parents when missing. Empty on success, else the platform's
// description of the failure.
QString makeFolder(const QString &path);

// Puts the complete file at source at destination, replacing a file that is there, so that
// destination holds either what it held before or the whole file, never a part of it. On one
// file system that is a rename. Across file systems the file is copied into a new temporary
// file beside destination, flushed to disk and renamed over destination; the temporary file is
// removed when that fails, and source stays. Nothing else is renamed or removed. Empty on
// success, else the platform's description of the failure.
QString moveFileIntoPlace(const QString &source, const QString &destination);

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
AppendingFile openAppendingFile(const QString &path, const std::function<void(const QString &path)> &locationKnown = {});

} // namespace velmora::platform
