#pragma once

// The first start of a newly exchanged version, watched from a process that is not the
// version's application: at the very top of main(), before anything that could fail (the
// platform plugin, the single instance, the backend, the window), the start splits in two.
// The child goes on as Velmora; the parent waits, windowless, until the journal says that the
// new version confirmed itself, and then only passes on the child's exit status. A child that
// ends by a failure before confirming (an exit status other than 0, a crash) is rolled back at
// once, and one that has not confirmed within the bound is ended and rolled back: the old
// version goes back to the bundle's path and this process becomes it (exec), which tells the
// user once. A start that ends on purpose before it is up (the user quit, a termination
// request) is left to the next start, which is watched again.
//
// The start that relaunches after "설치 후 다시 시작" and the user's next start after an
// installation at quit go through the same watch, whatever launched them.

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

} // namespace velmora::updates
