// Velmora: one window that follows the startup sequence, from the access check through the
// backend start to the backend's page (or the failure screen); VelmoraApp is all of it.

#include "app/DesktopDefaults.h"
#include "app/VelmoraApp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    velmora::app::applyLoggingDefaults();
    velmora::app::choosePlatformTheme();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    velmora::app::restoreEnvironment();
    velmora::app::VelmoraApp::describeApplication();
    velmora::app::VelmoraApp velmora;
    return velmora.run();
}
