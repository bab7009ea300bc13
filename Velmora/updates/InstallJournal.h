#pragma once

// The journal of one installation. It lives in the work folder beside the bundle
// (".<bundle name>.update/journal") and is replaced as a whole at each step, so it always
// reads as one step or the next. With the identity of each bundle folder (device and inode,
// which a rename keeps) it tells at every start which bundle stands at the bundle's path,
// whatever moment an earlier run was stopped at.
//
// Steps, in order:
//   downloading  the archive is being written into the work folder; nothing else is touched
//   downloaded   its length and signature are verified
//   unpacking    it is being unpacked into the work folder's "swap" folder
//   ready        "swap" holds the new bundle, checked, its files on disk
//   swapping     the exchange of the bundle with "swap" is under way
//   swapped      the bundle's path holds the new version and "swap" the old one, the backup;
//                the new version counts its starts until it confirms itself
//   confirmed    the new version runs; the backup is being removed
//   rollingBack  the exchange back is under way
//   rolledBack   the old version is back; it tells the user why at its next start

#include "platform/InstallFiles.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace velmora::updates {

enum class JournalStep {
    Downloading,
    Downloaded,
    Unpacking,
    Ready,
    Swapping,
    Swapped,
    Confirmed,
    RollingBack,
    RolledBack,
};

enum class RollbackReason {
    NotConfirmed,     // the new version did not confirm itself within its first starts
    RelaunchFailed,   // the new version could not be started at all
    FirstStartFailed, // its first start failed, or did not confirm within its bound
};

// A folder's identity: it survives renames and tells two folders apart.
using FolderIdentity = platform::FileIdentity;

struct InstallJournal
{
    JournalStep step = JournalStep::Downloading;
    QString bundle;      // the path of the bundle being replaced
    QString fromVersion; // the running version that installs
    QString toVersion;   // the version installed
    // Known from "swapping" on: the folder first at the bundle's path, and the new one.
    FolderIdentity oldBundle;
    FolderIdentity newBundle;
    int starts = 0; // starts of the new version that have not confirmed it (yet)
    RollbackReason reason = RollbackReason::NotConfirmed;

    bool operator==(const InstallJournal &other) const = default;
};

// The largest journal read; a real one is a few hundred bytes.
inline constexpr qsizetype maxJournalBytes = 16 * 1024;
// The starts a new version has to confirm itself; the next one rolls it back.
inline constexpr int maxUnconfirmedStarts = 2;

QByteArray serializeJournal(const InstallJournal &journal);
// nullopt for anything that is not a journal this build wrote: not JSON, another format, an
// unknown step, a missing or mistyped field, a step from "swapping" on without both identities.
std::optional<InstallJournal> parseJournal(const QByteArray &document);

QString stepName(JournalStep step);

// What a start of Velmora finds of an earlier installation.
struct RecoveryFacts
{
    enum class Journal { Absent, Unreadable, Read };
    Journal journalState = Journal::Absent;
    InstallJournal journal; // when read
    bool workFolderExists = false;
    // Another running Velmora holds the work folder: its installation is not ours to judge.
    bool heldByAnother = false;
    FolderIdentity atBundle; // the folder at the bundle's path (the running one)
    FolderIdentity atSwap;   // the work folder's "swap" folder; null when there is none
};

enum class RecoveryAction {
    Nothing,            // no installation to look after
    LeaveAlone,         // another Velmora is installing
    DiscardWork,        // the bundle was never replaced, or cannot be judged: remove the work folder
    CountStart,         // the new version starts unconfirmed: write the counted journal and run
    RollBack,           // exchange the backup back, write "rolledBack", start the old version
    ReportRolledBack,   // the old version is back: tell the user why, then remove the work folder
    FinishConfirmation, // the new version confirmed itself: remove the backup and the work folder
};

struct RecoveryPlan
{
    RecoveryAction action = RecoveryAction::Nothing;
    // The journal as the action leaves it (CountStart: counted; RollBack: "rollingBack";
    // ReportRolledBack: the one that tells why).
    InstallJournal journal;
};

// Decides what a start does about an earlier installation. The folder at the bundle's path
// decides which version stands there; the step tells only how far the journal got.
RecoveryPlan planRecovery(const RecoveryFacts &facts, int startsAllowed = maxUnconfirmedStarts);

} // namespace velmora::updates
