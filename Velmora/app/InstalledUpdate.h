#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace velmora::backend {
class BackendController;
}

namespace velmora::app {

// At launch, before the backend starts: finishes or undoes what an earlier run left of an
// update installation (UpdateInstaller::recoverAtLaunch). When the old version is back at the
// bundle's path, this process (the new version) calls letGo (to give up what the old version
// will claim again, such as the single instance) and gives way to it: it does not return.
// Returns the Korean sentence to show the user (after a rollback), empty when there is none. A
// development build has no bundle of its own and does nothing.
QString recoverInstalledUpdate(const std::function<void()> &letGo = {});
// The same for the bundle at the given folder.
QString recoverInstalledUpdate(const std::function<void()> &letGo, const QString &bundle);

// First thing in main(), before the application object: a newly installed version's first
// start is watched by a process of its own (updates::watchFirstStart), and a relaunch's
// watching process runs (updates::runWatchedRelaunch). nullopt in the process that goes on as
// Velmora; the status to end with in the watching one.
std::optional<int> watchInstalledFirstStart(int argc, char **argv);

// Confirms the running version's installation once its window is shown and its backend is
// ready; the backup of the old version goes then.
void confirmInstalledUpdateWhenUp(QWidget &window, backend::BackendController &backend);

// Whether this run is an update's start check (updates::startCheckArgument): the only
// argument after the program.
bool isStartCheck(const QStringList &arguments);
// Answers the start check on standard output with the bundle's version and returns the exit
// status: 0 when the platform plugin is loaded and the bundle's Info.json names a version.
// Claims nothing, starts nothing, touches no settings.
int answerStartCheck();

// Shows what recoverInstalledUpdate() returned, over window.
void showInstalledUpdateMessage(QWidget &window, const QString &message);

} // namespace velmora::app
