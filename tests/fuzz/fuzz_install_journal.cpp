// The installation journal is read at every start from a file beside the bundle, which a crash
// may have left in any state and another program may have written. Whatever it holds, a start
// must decide soundly: never roll back without the backup at hand, never throw the new version
// away while it is the only complete one in its place.
//
// Input: the journal file.

#include "FuzzSupport.h"

#include "updates/BundleInfo.h"
#include "updates/InstallJournal.h"

using namespace velmora;
using namespace velmora::updates;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray document = fuzz::bytesOf(data, size);
    // Info.json of an unpacked bundle is read the same way (a JSON document of a few fields).
    const BundleInfo info = parseBundleInfo(document);
    fuzz::check(info.ok() == !info.version.trimmed().isEmpty(), "a read Info.json has a version");

    const std::optional<InstallJournal> journal = parseJournal(document);
    if (!journal)
        return 0;
    fuzz::check(!journal->bundle.isEmpty(), "a journal names its bundle");
    const std::optional<InstallJournal> again = parseJournal(serializeJournal(*journal));
    fuzz::check(again && *again == *journal, "a journal reads back as it was written");

    // Each folder arrangement a start can find: the old, the new or another folder at the
    // bundle's path, and the old, the new or no folder in the work folder.
    const FolderIdentity other{journal->oldBundle.device, journal->oldBundle.inode + journal->newBundle.inode + 1};
    for (const FolderIdentity &atBundle : {journal->oldBundle, journal->newBundle, other}) {
        for (const FolderIdentity &atSwap : {journal->oldBundle, journal->newBundle, FolderIdentity()}) {
            RecoveryFacts facts;
            facts.journalState = RecoveryFacts::Journal::Read;
            facts.journal = *journal;
            facts.workFolderExists = true;
            facts.atBundle = atBundle;
            facts.atSwap = atSwap;
            const RecoveryPlan plan = planRecovery(facts);
            const bool newAtBundle = !atBundle.isNull() && atBundle == journal->newBundle;
            const bool backupAtSwap = !atSwap.isNull() && atSwap == journal->oldBundle;
            if (plan.action == RecoveryAction::RollBack)
                fuzz::check(newAtBundle && backupAtSwap, "a rollback has the new version to replace and the backup");
            if (plan.action == RecoveryAction::CountStart) {
                fuzz::check(newAtBundle, "only the new version counts its starts");
                fuzz::check(plan.journal.starts == journal->starts + 1 && plan.journal.starts <= maxUnconfirmedStarts,
                            "a start is counted once, up to the limit");
            }
            if (plan.action == RecoveryAction::ReportRolledBack)
                fuzz::check(!atBundle.isNull() && atBundle == journal->oldBundle,
                            "a rollback is reported by the old version");
            fuzz::check(plan.action != RecoveryAction::Nothing && plan.action != RecoveryAction::LeaveAlone,
                        "a journal is never left as it is");
            const std::optional<InstallJournal> written = parseJournal(serializeJournal(plan.journal));
            fuzz::check(written.has_value(), "the journal a start writes reads back");
        }
    }
    return 0;
}
