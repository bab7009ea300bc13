#pragma once

#include <QString>
#include <QUrl>

namespace velmora::app {

// The five things the main window can show before and after the backend is up.
enum class StartupScreen {
    Workspace,       // the backend's page
    Failure,         // the last start failed
    StartupProgress, // the backend is starting
    Access,          // access is missing and the user has to act
    AccessCheck,     // the first access check has not answered yet
};

// The screen for the current state of the access gate and of the backend. Access comes first:
// the backend's screens show only once access is ready; url wins over error.
StartupScreen chooseScreen(bool isReady, bool hasChecked, const QUrl &url, const QString &error);

const char *screenName(StartupScreen screen);

} // namespace velmora::app
