#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>

#include <memory>
#include <optional>

namespace velmora::platform {

// One top-level window of any application, as the desktop's window list describes it.
struct WindowDescription
{
    qint64 ownerPid = 0;
    // The owning process's name (on Linux /proc/<pid>/comm: at most 15 characters).
    QString ownerName;
    // An ordinary application window, not a dock, menu, dialog or splash screen.
    bool normal = true;
    // Shown on screen: mapped and not minimised.
    bool visible = true;
    // The window with its frame, in Qt's global coordinates (origin at the top-left corner of
    // the virtual desktop, y growing downwards).
    QRect bounds;
};

// The desktop's list of top-level windows. On X11 it is the window manager's EWMH client
// list; Wayland offers no such list.
class WindowList
{
public:
    virtual ~WindowList() = default;

    // The windows, front to back; none when the platform gives no window list.
    virtual std::optional<QList<WindowDescription>> windows();

    // The list of the session Velmora runs in: X11 when Qt runs on xcb, otherwise none.
    static WindowList &system();
    // The X11 list of the given display ("" = $DISPLAY); nullptr when this build has no X11
    // support or the display cannot be opened.
    static std::unique_ptr<WindowList> x11(const QByteArray &displayName = {});
};

// Whether a process name is that of a desktop's settings application (GNOME, KDE Plasma,
// Xfce, Cinnamon, MATE, Budgie, Unity), also in the 15-character form the kernel keeps.
bool isDesktopSettingsProcess(const QString &processName);

} // namespace velmora::platform
