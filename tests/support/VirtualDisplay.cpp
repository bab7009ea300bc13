#include "VirtualDisplay.h"

#include <QList>

#ifdef VELMORA_HAVE_XCB
#include <xcb/xcb.h>

#include <cstring>
#include <memory>
#endif

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {

namespace {

// How long Xvfb may take to name its display on a busy machine.
constexpr int startPatienceMs = 20000;

} // namespace

VirtualDisplay::VirtualDisplay(bool makeDefault, const char *screen)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return;
    }
    if (child == 0) {
        // The server goes with the test program, however that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(pipeFds[1], 3);
        // -noreset: by default the server resets when its last client leaves, and drops
        // whatever connection is still being set up at that moment. A test that looks at
        // the screen while the program under test is connecting would otherwise take the
        // program's display away ("could not connect to display").
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-noreset", "-nolisten", "tcp", "-screen", "0", screen,
                 static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    m_pid = child;
    QByteArray number;
    pollfd watch = {pipeFds[0], POLLIN, 0};
    while (!number.endsWith('\n') && ::poll(&watch, 1, startPatienceMs) > 0) {
        char buffer[16];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        number.append(buffer, n);
    }
    ::close(pipeFds[0]);
    if (!number.endsWith('\n'))
        return;
    m_name = ':' + number.trimmed();
    if (makeDefault) {
        ::setenv("DISPLAY", m_name.constData(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
}

VirtualDisplay::~VirtualDisplay()
{
    if (m_pid > 0) {
        ::kill(pid_t(m_pid), SIGTERM);
        ::waitpid(pid_t(m_pid), nullptr, 0);
    }
}

#ifdef VELMORA_HAVE_XCB

namespace {

struct Connection
{
    explicit Connection(const QByteArray &display) : c(xcb_connect(display.constData(), &screen)) {}
    ~Connection()
    {
        if (c)
            xcb_disconnect(c);
    }
    bool ok() const { return c && !xcb_connection_has_error(c); }
    xcb_window_t root() const
    {
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screen && it.rem; ++i)
            xcb_screen_next(&it);
        return it.data->root;
    }
    xcb_atom_t atom(const char *name) const
    {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr), &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    QByteArray property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const
    {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 1024), nullptr), &std::free);
        if (!reply)
            return {};
        return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                          xcb_get_property_value_length(reply.get()));
    }

    int screen = 0;
    xcb_connection_t *c;
};

} // namespace

bool sendCloseRequest(const QByteArray &display, quint32 window)
{
    Connection x(display);
    if (!x.ok())
        return false;
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = x.atom("WM_PROTOCOLS");
    event.data.data32[0] = x.atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(x.c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    // A round trip: the request has reached the server when this returns.
    std::free(xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr));
    return true;
}

bool isMapped(const QByteArray &display, quint32 window)
{
    Connection x(display);
    if (!x.ok())
        return false;
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(x.c, xcb_get_window_attributes(x.c, window), nullptr), &std::free);
    return attributes && attributes->map_state != XCB_MAP_STATE_UNMAPPED;
}

quint32 focusedWindow(const QByteArray &display)
{
    Connection x(display);
    if (!x.ok())
        return 0;
    std::unique_ptr<xcb_get_input_focus_reply_t, decltype(&std::free)> focus(
        xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr), &std::free);
    return focus ? focus->focus : 0;
}

std::optional<quint32> findWindow(const QByteArray &display, const QString &title, qint64 pid,
                                  const QByteArray &instanceName)
{
    Connection x(display);
    if (!x.ok())
        return std::nullopt;
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(x.c, xcb_query_tree(x.c, x.root()), nullptr), &std::free);
    if (!tree)
        return std::nullopt;
    const xcb_atom_t netName = x.atom("_NET_WM_NAME");
    const xcb_atom_t utf8 = x.atom("UTF8_STRING");
    const xcb_atom_t netPid = x.atom("_NET_WM_PID");
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        QByteArray name = x.property(children[i], netName, utf8);
        if (name.isEmpty())
            name = x.property(children[i], XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
        if (QString::fromUtf8(name) != title)
            continue;
        if (pid != 0) {
            const QByteArray value = x.property(children[i], netPid, XCB_ATOM_CARDINAL);
            quint32 owner = 0;
            if (value.size() != sizeof owner)
                continue;
            std::memcpy(&owner, value.constData(), sizeof owner);
            if (owner != quint32(pid))
                continue;
        }
        // WM_CLASS: the instance name, a zero byte, the class name.
        if (!instanceName.isEmpty()
            && x.property(children[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0').value(0) != instanceName)
            continue;
        return children[i];
    }
    return std::nullopt;
}

#endif // VELMORA_HAVE_XCB

} // namespace velmora::test
