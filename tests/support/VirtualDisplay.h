#pragma once

// An X server of the test's own (Xvfb), for what only a real X11 display shows: the window
// manager's close request, mapping, input focus. Start it before the QApplication, which then
// connects to it through the xcb platform plugin. The functions below talk to the server the
// way a window manager does.

#include <QByteArray>
#include <QString>

#include <optional>

namespace velmora::test {

class VirtualDisplay
{
public:
    // Starts Xvfb on a free display with one screen of the given geometry; with makeDefault,
    // points DISPLAY at it and makes xcb the platform of a QApplication made afterwards. The
    // server ends with this object, or with the test program however it ends.
    explicit VirtualDisplay(bool makeDefault = true, const char *screen = "1920x1200x24");
    ~VirtualDisplay();
    Q_DISABLE_COPY_MOVE(VirtualDisplay)

    bool isRunning() const { return !m_name.isEmpty(); }
    // ":N"
    QByteArray name() const { return m_name; }

private:
    QByteArray m_name;
    qint64 m_pid = 0;
};

#ifdef VELMORA_HAVE_XCB
// The window manager's close request (WM_DELETE_WINDOW), as a click on the close button sends it.
bool sendCloseRequest(const QByteArray &display, quint32 window);
// True while window is mapped (shown) on display.
bool isMapped(const QByteArray &display, quint32 window);
// The window that has the input focus on display (0 when none).
quint32 focusedWindow(const QByteArray &display);
// The first top-level window on display whose title (_NET_WM_NAME or WM_NAME) is title and
// whose process (_NET_WM_PID) is pid, when pid is not 0, and whose WM_CLASS names
// instanceName, when that is given (Qt's helper windows of a program carry its title but no class).
std::optional<quint32> findWindow(const QByteArray &display, const QString &title, qint64 pid = 0,
                                  const QByteArray &instanceName = {});
#endif

} // namespace velmora::test
