// QT_QPA_PLATFORMTHEME and XDG_CURRENT_DESKTOP come from the user's session.

#include "FuzzSupport.h"

#include "app/DesktopDefaults.h"

#include <QList>

using namespace velmora;

// Input: the user's theme, a line feed, the desktop list.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\n');
    const QByteArray userTheme = split < 0 ? QByteArray() : input.left(split);
    const QByteArray desktop = split < 0 ? input : input.mid(split + 1);

    const std::optional<QByteArray> theme = app::preferredPlatformTheme(userTheme, desktop);
    if (!userTheme.isEmpty())
        fuzz::check(!theme, "a user's own theme is never replaced");
    if (theme) {
        fuzz::check(*theme == "xdgdesktopportal", "the only theme asked for is the portal");
        bool named = false;
        for (const QByteArray &entry : desktop.split(':')) {
            const QByteArray name = entry.trimmed().toLower();
            named = named || name == "kde" || name == "lxqt";
        }
        fuzz::check(named, "the portal only for a desktop that names KDE or LXQt");
    }
    return 0;
}
