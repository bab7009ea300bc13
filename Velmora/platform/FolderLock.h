#pragma once

#include "platform/FileHandle.h"

#include <QString>

namespace velmora::platform {

// An exclusive lock on a folder between processes (flock on the folder itself). The system
// drops it when the holder ends, however it ends, so a killed holder never leaves it behind.
class FolderLock
{
public:
    FolderLock() = default;

    // Takes the lock without waiting; isHeld() is false when another process holds it or the
    // folder cannot be opened.
    static FolderLock tryLock(const QString &folder);

    bool isHeld() const { return m_handle.isOpen(); }
    // True when the folder could be opened but another process holds the lock.
    bool heldByAnother() const { return m_heldByAnother; }
    void release() { m_handle.close(); }

private:
    FileHandle m_handle;
    bool m_heldByAnother = false;
};

} // namespace velmora::platform
