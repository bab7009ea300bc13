#include "app/DesktopDefaults.h"

#include <QList>
#include <QLoggingCategory>

#include <utility>

namespace velmora::app {

namespace {

// The variables set for the application object only, in the order they were set.
QList<QByteArray> &setForApplication()
{
    static QList<QByteArray> names;
    return names;
}

// Mesa's reading of a yes-or-no variable.
bool meansYes(const QByteArray &value)
{
    const QByteArray word = value.trimmed().toLower();
    return word == "1" || word == "true" || word == "y" || word == "yes";
}

} // namespace

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
    setForApplicationObject("QT_QPA_PLATFORMTHEME", *theme);
}

DrawingChoice preferredDrawing(const DrawingSettings &settings)
{
    if (!settings.quickBackend.isEmpty() || !settings.rhiBackend.isEmpty())
        return {};
    static const QByteArray disableGpu("--disable-gpu");
    const bool gpuTurnedOff = settings.engineFlags.simplified().split(' ').contains(disableGpu)
                              || settings.arguments.contains(disableGpu);
    if (!gpuTurnedOff && !meansYes(settings.alwaysSoftware) && settings.graphicsDevice)
        return {};
    DrawingChoice choice;
    choice.softwareSceneGraph = true;
    choice.withoutGl = settings.xcbGlIntegration.isEmpty();
    return choice;
}

void setForApplicationObject(const char *name, const QByteArray &value)
{
    qputenv(name, value);
    if (!setForApplication().contains(name))
        setForApplication().append(name);
}

void restoreEnvironment()
{
    for (const QByteArray &name : std::exchange(setForApplication(), {}))
        qunsetenv(name.constData());
}

} // namespace velmora::app
