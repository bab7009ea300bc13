#pragma once

// The first start of a newly exchanged version, watched from a process that is not the
// version's application: at the very top of main(), before anything that could fail (the
// platform plugin, the single instance, the backend, the window), the start splits in two.
// The child goes on as Velmora; the parent waits, windowless, until the journal says that the
// new version confirmed itself, and then only passes on the child's exit status to whoever
// started it. A child that
// ends by a failure before confirming (an exit status other than 0, a crash) is rolled back at
// once, and one that has not confirmed within the bound is ended and rolled back: the old
// version goes back to the bundle's path and this process becomes it (exec), which tells the
// user once. A start that ends on purpose before it is up (the user quit, a termination
// request) is left to the next start, which is watched again.
//
// After "설치 후 다시 시작" the watching process is the old version's own program (wherever the
// exchange moved it), started detached with watchFirstStartArgument: it starts the new version
// as its child, so the relaunch is watched by code that does not depend on the new binary at
// all, and the new version's own watch stands aside. The user's next start after an
// installation at quit is watched by the new version's main() itself, before anything else.

#include "platform/Relauncher.h"
#include "platform/WatchedStart.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace velmora::updates {

// How long a new version's first start has to confirm itself (its window shown and its backend
// answering). Well beyond an ordinary first start, with a cold web engine and a backend that
// starts its interpreter from a cold disk on a busy machine (seconds to tens of seconds); short
// enough that a version that hangs leaves the user without a working Velmora for two minutes
// at most.
inline constexpr std::chrono::milliseconds firstStartBound{120000};
// How often the watching process reads the journal while the child runs.
inline constexpr std::chrono::milliseconds firstStartLookInterval{200};

// What the watching process knows at one moment.
struct FirstStartFacts
{
    // The journal still waits for the version at the bundle's path to confirm itself.
    bool awaitingConfirmation = true;
    platform::ChildEnd end; // the child, running or how it ended
    bool boundPassed = false;
};

enum class FirstStartVerdict {
    Wait,     // go on watching
    Done,     // nothing is left to judge: end with the child's status once it has ended
    Stop,     // unconfirmed past the bound: end the child, then roll back
    RollBack, // ended by a failure before confirming
};

FirstStartVerdict judgeFirstStart(const FirstStartFacts &facts);

// Whether the journal beside bundle waits for the folder at the bundle's path to confirm itself,
// with the backup there to go back to.
bool awaitsConfirmation(const QString &bundle);

// Called first thing in main() with the bundle this program runs from. Returns nullopt in the
// process that goes on as Velmora (also when there is nothing to watch, or another process
// watches this installation already), and in the watching process the status to end with.
// After a rollback the watching process becomes the bundle's program with arguments, and
// returns only when that failed.
std::optional<int> watchFirstStart(const QString &bundle, const QStringList &arguments,
                                   std::chrono::milliseconds bound = firstStartBound);

// The arguments that make a program the watching process of a relaunched new version:
//   PROGRAM --watch-first-start BUNDLE [ARGUMENTS...]
// starts BUNDLE/bin/velmora with ARGUMENTS as its child and watches it.
inline constexpr const char *watchFirstStartArgument = "--watch-first-start";

// Relaunches bundle's new version: starts watcher (the running old version's program) detached
// as its watching process, with the relaunch's environment (VELMORA_RELAUNCHED_FROM: this
// process, which the new version waits for before it takes over).
platform::RelaunchResult startWatchedRelaunch(const QString &watcher, const QString &bundle, const QStringList &arguments);

// Called first thing in main() with the program's arguments (without the program): when they
// are the watching mode's, runs it until the new version has confirmed itself (then the new
// version runs on by itself) or has ended, and returns the status to end with; after a
// rollback it becomes the restored version. nullopt for any other arguments.
std::optional<int> runWatchedRelaunch(const QStringList &arguments, std::chrono::milliseconds bound = firstStartBound);

} // namespace velmora::updates
