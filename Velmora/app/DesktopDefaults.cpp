#include "app/DesktopDefaults.h"

#include <QList>
#include <QLoggingCategory>

#include <utility>

namespace velmora::app {

namespace {
bool themeWasChosen = false;
}

void applyLoggingDefaults()
{
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
}

std::optional<QByteArray> preferredPlatformTheme(const QByteArray &userTheme, const QByteArray &currentDesktop)
{
    if (!userTheme.isEmpty())
        return std::nullopt;
    // A colon-separated list, most specific first ("ubuntu:GNOME", "KDE").
    for (const QByteArray &desktop : currentDesktop.split(':')) {
        const QByteArray name = desktop.trimmed().toLower();
        if (name == "kde" || name == "lxqt")
            return QByteArray("xdgdesktopportal");
    }
    return std::nullopt;
}

void choosePlatformTheme()
{
    const std::optional<QByteArray> theme = preferredPlatformTheme(qgetenv("QT_QPA_PLATFORMTHEME"),
                                                                   qgetenv("XDG_CURRENT_DESKTOP"));
    if (!theme)
        return;
    qputenv("QT_QPA_PLATFORMTHEME", *theme);
    themeWasChosen = true;
}

void restoreEnvironment()
{
    if (std::exchange(themeWasChosen, false))
        qunsetenv("QT_QPA_PLATFORMTHEME");
}

} // namespace velmora::app
