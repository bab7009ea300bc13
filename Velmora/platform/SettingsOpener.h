#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace velmora::platform {

// Opens the desktop's settings where the user grants applications access to their files:
// the application-permission page where the desktop has one.
class SettingsOpener
{
public:
    virtual ~SettingsOpener() = default;

    // True when a settings page could be opened.
    virtual bool openPrivacySettings();

    static SettingsOpener &system();

    struct Command
    {
        QString program;
        QStringList arguments;
        friend bool operator==(const Command &, const Command &) = default;
    };
    // The commands to try for a session, best first, from its XDG_CURRENT_DESKTOP value
    // (a colon-separated list such as "ubuntu:GNOME") and, on Plasma, its KDE_SESSION_VERSION.
    // Empty for desktops without such a page.
    static QList<Command> privacySettingsCommands(const QString &currentDesktop, int plasmaVersion = 0);
};

} // namespace velmora::platform
