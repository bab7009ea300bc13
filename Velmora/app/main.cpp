// Velmora: one window that follows the startup sequence, from the access check through the
// backend start to the backend's page (or the failure screen); VelmoraApp is all of it.

#include "app/DesktopDefaults.h"
#include "app/Drawing.h"
#include "app/EarlyStart.h"
#include "app/InstalledUpdate.h"
#include "app/VelmoraApp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Before anything that could fail: the first start of a newly installed version is watched
    // by a process of its own, which rolls the version back if it fails.
    if (const std::optional<int> watched = velmora::app::watchInstalledFirstStart(argc, argv))
        return *watched;
    // The backend takes longest to start and needs nothing of what follows: it goes first.
    velmora::app::EarlyStart early = velmora::app::startBackendEarly(argc, argv);
    velmora::app::applyLoggingDefaults();
    velmora::app::choosePlatformTheme();
    velmora::app::prepareDrawing(argc, argv);
    QApplication application(argc, argv);
    // An update being installed asks this version, before it is exchanged in, whether it can
    // start here at all: by now its libraries and the platform plugin have loaded.
    if (velmora::app::isStartCheck(QCoreApplication::arguments()))
        return velmora::app::answerStartCheck();
    velmora::app::restoreEnvironment();
    velmora::app::VelmoraApp::describeApplication();
    velmora::app::VelmoraApp velmora;
    velmora.takeEarlyStart(std::move(early));
    return velmora.run();
}
