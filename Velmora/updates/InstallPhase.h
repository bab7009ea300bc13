#pragma once

#include <QString>

namespace velmora::updates {

// Where the engine's own install path stands, as its window shows it.
enum class InstallPhase {
    Idle,     // nothing to show
    Checking, // a check the user asked for runs
    Found,    // an update waits for the user's word: install, later, skip
    NoUpdate,
    CheckFailed,
    Downloading, // with bytes and total
    Preparing,   // signature, unpacking, checks
    Ready,       // prepared: install and relaunch, or later (then at quit)
    Waiting,     // the relaunch waits for the backend to wind down
    Installing,
    Failed,  // message says why
    Refused, // this bundle is not the engine's to replace; message says how to update
};

// An installation is under way: from the first byte downloaded to the exchange of the
// bundle. No check runs meanwhile.
bool isInstalling(InstallPhase phase);
// The engine is in the middle of something the user started or has to answer: asking for
// updates again shows where it stands instead of checking anew.
bool isUnderWay(InstallPhase phase);
// The work of this phase can be called off (the window offers to cancel).
bool isCancellable(InstallPhase phase);
// The phase only tells an outcome (a check's or an installation's); closing it leaves the
// engine idle.
bool isOutcome(InstallPhase phase);
// The update can wait for a later time (the window offers "later").
bool canWaitForLater(InstallPhase phase);

// Everything the engine's window shows.
struct InstallState
{
    InstallPhase phase = InstallPhase::Idle;
    QString newVersion;     // display version of the update, without "v"
    QString runningVersion; // without "v"
    QString message;        // Failed, Refused
    qint64 received = 0;
    qint64 total = 0;
    QString notes;
    bool notesLoading = false;
    bool notesFailed = false;
};

} // namespace velmora::updates
