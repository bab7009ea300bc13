#include "updates/FirstStartWatch.h"

#include "platform/FolderLock.h"
#include "platform/InstallFiles.h"
#include "platform/Relauncher.h"
#include "updates/InstallJournal.h"
#include "updates/UpdateInstaller.h"

#include <QFileInfo>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace velmora::updates {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// An end the user or the desktop asked for, not a failure of the version.
bool endedOnPurpose(const platform::ChildEnd &end)
{
    switch (end.state) {
    case platform::ChildEnd::State::Running:
        return false;
    case platform::ChildEnd::State::Exited:
        return end.code == 0;
    case platform::ChildEnd::State::Signalled:
        return end.code == SIGTERM || end.code == SIGINT || end.code == SIGHUP;
    }
    return false;
}

int mirror(platform::WatchedStart &start)
{
    // The watching process stays as long as the application, so that whoever started it
    // learns how it ended.
    platform::ChildEnd end = start.waitForEnd(std::chrono::hours(1));
    while (end.running())
        end = start.waitForEnd(std::chrono::hours(1));
    return end.shellStatus();
}

} // namespace

FirstStartVerdict judgeFirstStart(const FirstStartFacts &facts)
{
    if (!facts.awaitingConfirmation)
        return FirstStartVerdict::Done;
    if (facts.end.running())
        return facts.boundPassed ? FirstStartVerdict::Stop : FirstStartVerdict::Wait;
    return endedOnPurpose(facts.end) ? FirstStartVerdict::Done : FirstStartVerdict::RollBack;
}

bool awaitsConfirmation(const QString &bundle)
{
    const InstallPaths paths = InstallPaths::forBundle(bundle);
    const platform::SmallFile file = platform::readSmallFile(paths.journal, maxJournalBytes);
    if (!file.exists || !file.error.isEmpty() || file.tooLarge)
        return false;
    const std::optional<InstallJournal> journal = parseJournal(file.content);
    if (!journal || (journal->step != JournalStep::Swapped && journal->step != JournalStep::Swapping))
        return false;
    return platform::identityOf(paths.bundle) == std::optional(journal->newBundle)
           && platform::identityOf(paths.swap) == std::optional(journal->oldBundle);
}

namespace {

// Watches the child until the verdict. Returns the status to end with, or after a rollback
// makes this process the version that came back (which tells the user why). untilEnd: once
// nothing is left to judge, wait for the child's end and pass its status on (a launcher waits
// for this process); else end at once.
int watch(platform::WatchedStart &start, platform::FolderLock &watching, const QString &bundle, const QStringList &arguments,
          milliseconds bound, bool untilEnd)
{
    const Clock::time_point deadline = Clock::now() + bound;
    FirstStartFacts facts;
    for (;;) {
        const auto left = std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
        facts.end = start.waitForEnd(std::min(firstStartLookInterval, left));
        facts.awaitingConfirmation = awaitsConfirmation(bundle);
        facts.boundPassed = Clock::now() >= deadline;
        const FirstStartVerdict verdict = judgeFirstStart(facts);
        if (verdict == FirstStartVerdict::Wait)
            continue;
        if (verdict == FirstStartVerdict::Done)
            return untilEnd || !facts.end.running() ? mirror(start) : 0;
        if (verdict == FirstStartVerdict::Stop) {
            std::fprintf(stderr, "velmora: the new version did not confirm itself within %lld s; it is rolled back\n",
                         static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(bound).count()));
            facts.end = start.kill();
        }
        break;
    }

    watching.release();
    const UpdateInstaller::LaunchRecovery recovery = UpdateInstaller::recoverAtLaunch(bundle, {},
                                                                                      RollbackReason::FirstStartFailed);
    if (!recovery.restartBundle && recovery.action != RecoveryAction::FinishConfirmation) {
        std::fprintf(stderr, "velmora: the new version could not be rolled back: %s\n", qPrintable(recovery.error));
        return facts.end.shellStatus() != 0 ? facts.end.shellStatus() : 1;
    }
    // Whatever stands at the bundle's path now starts in this process, the one its launcher
    // knows; the version that came back tells the user why.
    qunsetenv(platform::Relauncher::relaunchedFromVariable);
    const QString error = platform::Relauncher::replaceProcess(bundle + QStringLiteral("/bin/velmora"), arguments);
    std::fprintf(stderr, "velmora: the restored version could not be started: %s\n", qPrintable(error));
    return 1;
}

} // namespace

std::optional<int> watchFirstStart(const QString &bundle, const QStringList &arguments, milliseconds bound)
{
    // One stat when no installation is under way: the work folder is not there.
    if (bundle.isEmpty() || !QFileInfo(InstallPaths::forBundle(bundle).work).isDir() || !awaitsConfirmation(bundle))
        return std::nullopt;
    // One watching process for each new version: a launch while it watches goes on unwatched
    // (and hands itself over to the start being watched).
    platform::FolderLock watching = platform::FolderLock::tryLock(bundle);
    if (!watching.isHeld())
        return std::nullopt;
    platform::WatchedStart start;
    switch (start.split()) {
    case platform::WatchedStart::Side::Child:
        return std::nullopt;
    case platform::WatchedStart::Side::Failed:
        std::fprintf(stderr, "velmora: the new version's first start goes unwatched: %s\n", qPrintable(start.errorString()));
        return std::nullopt;
    case platform::WatchedStart::Side::Parent:
        break;
    }
    return watch(start, watching, bundle, arguments, bound, true);
}

platform::RelaunchResult startWatchedRelaunch(const QString &watcher, const QString &bundle, const QStringList &arguments)
{
    platform::RelaunchResult result;
    platform::Relauncher(watcher, QStringList{QLatin1String(watchFirstStartArgument), bundle} + arguments)
        .relaunch([&result](platform::RelaunchResult started) { result = std::move(started); });
    return result;
}

std::optional<int> runWatchedRelaunch(const QStringList &arguments, milliseconds bound)
{
    if (arguments.size() < 2 || arguments.first() != QLatin1String(watchFirstStartArgument))
        return std::nullopt;
    const QString &bundle = arguments.at(1);
    const QStringList rest = arguments.mid(2);
    // Taken before the new version starts, so that its own watch stands aside.
    platform::FolderLock watching = platform::FolderLock::tryLock(bundle);
    const bool toWatch = watching.isHeld() && awaitsConfirmation(bundle);
    platform::WatchedStart start;
    if (!start.start(bundle + QStringLiteral("/bin/velmora"), rest)) {
        std::fprintf(stderr, "velmora: the new version could not be started: %s\n", qPrintable(start.errorString()));
        return 1;
    }
    // Nobody waits for a relaunch's end: once the new version is up, it runs on without this
    // process (and without the old version's program, which the confirmation removed).
    if (!toWatch)
        return 0;
    return watch(start, watching, bundle, rest, bound, false);
}

} // namespace velmora::updates
