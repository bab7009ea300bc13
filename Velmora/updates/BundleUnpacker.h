#pragma once

// Unpacks a release archive into a new folder, which becomes the bundle: the archive's one
// folder ("velmora") is that folder, and every entry is checked (ArchiveEntryChecker) before
// anything is written for it. Nothing is ever written outside the folder.

#include "platform/Async.h"
#include "updates/ArchiveEntryChecker.h"

#include <QByteArrayView>
#include <QString>

namespace velmora::updates {

struct UnpackOutcome
{
    enum class Result { Unpacked, Damaged, Refused, WriteFailed, Stopped };
    Result result = Result::Damaged;
    EntryProblem problem = EntryProblem::None; // Refused: which rule the entry broke
    QString detail;                            // English: the entry or the error

    bool ok() const { return result == Result::Unpacked; }
};

// destination must not exist yet (its parent must). On any outcome but Unpacked the caller
// removes what was written. stop ends the work early (Stopped). Runs on any thread.
UnpackOutcome unpackBundle(QByteArrayView archive, const QString &destination, const ArchiveLimits &limits = {},
                           const platform::WorkerStop &stop = {});

} // namespace velmora::updates
