#include "platform/SettingsOpener.h"

#include "platform/DetachedStart.h"

#include <QStandardPaths>

namespace velmora::platform {

QList<SettingsOpener::Command> SettingsOpener::privacySettingsCommands(const QString &currentDesktop, int plasmaVersion)
{
    const QStringList desktops = currentDesktop.toLower().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    auto runs = [&desktops](std::initializer_list<const char *> names) {
        for (const char *name : names) {
            if (desktops.contains(QLatin1String(name)))
                return true;
        }
        return false;
    };

    // GNOME's "Apps" panel lists each application with its permissions; Budgie's settings are
    // a fork of GNOME's. Plasma gathers application permissions in its own module (Plasma 6)
    // or the Flatpak permissions module (Plasma 5).
    if (runs({"gnome", "unity", "pantheon"}))
        return {{QStringLiteral("gnome-control-center"), {QStringLiteral("applications")}},
                {QStringLiteral("gnome-control-center"), {QStringLiteral("privacy")}}};
    if (runs({"budgie"}))
        return {{QStringLiteral("budgie-control-center"), {QStringLiteral("applications")}},
                {QStringLiteral("gnome-control-center"), {QStringLiteral("applications")}}};
    if (runs({"kde"}) && plasmaVersion >= 6)
        return {{QStringLiteral("systemsettings"), {QStringLiteral("kcm_app-permissions")}}};
    if (runs({"kde"}))
        return {{QStringLiteral("systemsettings"), {QStringLiteral("kcm_flatpak")}},
                {QStringLiteral("systemsettings5"), {QStringLiteral("kcm_flatpak")}}};
    return {};
}

bool SettingsOpener::openPrivacySettings()
{
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    const int plasmaVersion = qEnvironmentVariableIntValue("KDE_SESSION_VERSION");
    for (const Command &command : privacySettingsCommands(desktop, plasmaVersion)) {
        const QString program = QStandardPaths::findExecutable(command.program);
        if (program.isEmpty())
            continue;
        if (startDetachedQuietly(program, command.arguments))
            return true;
    }
    return false;
}

SettingsOpener &SettingsOpener::system()
{
    static SettingsOpener opener;
    return opener;
}

} // namespace velmora::platform
