#include "app/ScreenChoice.h"

namespace velmora::app {

StartupScreen chooseScreen(bool isReady, bool hasChecked, const QUrl &url, const QString &error)
{
    if (isReady) {
        if (!url.isEmpty())
            return StartupScreen::Workspace;
        if (!error.isEmpty())
            return StartupScreen::Failure;
        return StartupScreen::StartupProgress;
    }
    return hasChecked ? StartupScreen::Access : StartupScreen::AccessCheck;
}

const char *screenName(StartupScreen screen)
{
    switch (screen) {
    case StartupScreen::Workspace:
        return "workspace";
    case StartupScreen::Failure:
        return "failure";
    case StartupScreen::StartupProgress:
        return "startup-progress";
    case StartupScreen::Access:
        return "access";
    case StartupScreen::AccessCheck:
        return "access-check";
    }
    return "?";
}

} // namespace velmora::app
