#include "platform/WindowList.h"

#include <QFile>
#include <QGuiApplication>
#include <QStringList>

#ifdef VELMORA_HAVE_XCB
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#endif

#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace velmora::platform {

std::optional<QList<WindowDescription>> WindowList::windows()
{
    return std::nullopt;
}

bool isDesktopSettingsProcess(const QString &processName)
{
    static const QStringList names{
        QStringLiteral("gnome-control-center"),  QStringLiteral("systemsettings"),
        QStringLiteral("systemsettings5"),       QStringLiteral("xfce4-settings-manager"),
        QStringLiteral("cinnamon-settings"),     QStringLiteral("mate-control-center"),
        QStringLiteral("budgie-control-center"), QStringLiteral("unity-control-center"),
    };
    if (processName.isEmpty())
        return false;
    // The kernel keeps the first 15 characters of a process name.
    constexpr qsizetype kernelNameLength = 15;
    for (const QString &name : names) {
        if (processName == name || (processName.size() == kernelNameLength && name.startsWith(processName)))
            return true;
    }
    return false;
}

#ifdef VELMORA_HAVE_XCB
namespace {

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(comm.readAll()).trimmed();
}

template<typename T>
struct Freed
{
    T *p;
    ~Freed() { std::free(p); }
    T *operator->() const { return p; }
    explicit operator bool() const { return p; }
};

class X11WindowList final : public WindowList
{
public:
    explicit X11WindowList(xcb_connection_t *connection, int screenNumber)
        : m_connection(connection)
        , m_screenNumber(screenNumber)
    {
        xcb_intern_atom_cookie_t *cookies = xcb_ewmh_init_atoms(m_connection, &m_ewmh);
        m_ready = xcb_ewmh_init_atoms_replies(&m_ewmh, cookies, nullptr);
        const xcb_intern_atom_cookie_t gtkCookie = xcb_intern_atom(m_connection, 0, strlen("_GTK_FRAME_EXTENTS"),
                                                                   "_GTK_FRAME_EXTENTS");
        Freed<xcb_intern_atom_reply_t> gtk{xcb_intern_atom_reply(m_connection, gtkCookie, nullptr)};
        if (gtk)
            m_gtkFrameExtents = gtk->atom;
        // X11 measures in device pixels, Qt in device-independent ones.
        if (QScreen *primary = QGuiApplication::primaryScreen(); primary && primary->devicePixelRatio() > 0)
            m_scale = primary->devicePixelRatio();
    }

    ~X11WindowList() override
    {
        if (m_ready)
            xcb_ewmh_connection_wipe(&m_ewmh);
        xcb_disconnect(m_connection);
    }

    std::optional<QList<WindowDescription>> windows() override
    {
        if (!m_ready || xcb_connection_has_error(m_connection))
            return std::nullopt;

        // Bottom to top in stacking order; the plain client list (in mapping order) when the
        // window manager keeps no stacking list.
        xcb_ewmh_get_windows_reply_t clients;
        bool stacked = xcb_ewmh_get_client_list_stacking_reply(
            &m_ewmh, xcb_ewmh_get_client_list_stacking(&m_ewmh, m_screenNumber), &clients, nullptr);
        if (!stacked
            && !xcb_ewmh_get_client_list_reply(&m_ewmh, xcb_ewmh_get_client_list(&m_ewmh, m_screenNumber), &clients,
                                               nullptr))
            return std::nullopt;
        QList<xcb_window_t> order(clients.windows, clients.windows + clients.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&clients);

        QList<WindowDescription> result;
        result.reserve(order.size());
        for (auto it = order.crbegin(); it != order.crend(); ++it) {
            if (auto description = describe(*it))
                result.append(*description);
        }
        return result;
    }

private:
    std::optional<WindowDescription> describe(xcb_window_t window)
    {
        const xcb_window_t root = m_ewmh.screens[m_screenNumber]->root;
        // Ask for everything first, then collect the answers: one round trip per window.
        const auto pidCookie = xcb_ewmh_get_wm_pid(&m_ewmh, window);
        const auto typeCookie = xcb_ewmh_get_wm_window_type(&m_ewmh, window);
        const auto stateCookie = xcb_ewmh_get_wm_state(&m_ewmh, window);
        const auto frameCookie = xcb_ewmh_get_frame_extents(&m_ewmh, window);
        const auto gtkCookie = m_gtkFrameExtents
                                   ? xcb_get_property(m_connection, 0, window, m_gtkFrameExtents, XCB_ATOM_CARDINAL, 0, 4)
                                   : xcb_get_property_cookie_t{0};
        const auto attributesCookie = xcb_get_window_attributes(m_connection, window);
        const auto geometryCookie = xcb_get_geometry(m_connection, window);
        const auto positionCookie = xcb_translate_coordinates(m_connection, window, root, 0, 0);

        WindowDescription description;
        uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(&m_ewmh, pidCookie, &pid, nullptr) && pid > 0) {
            description.ownerPid = pid;
            description.ownerName = processName(pid);
        }

        xcb_ewmh_get_atoms_reply_t types;
        if (xcb_ewmh_get_wm_window_type_reply(&m_ewmh, typeCookie, &types, nullptr)) {
            // The first type is the one the window prefers; no type at all means normal.
            description.normal = types.atoms_len == 0 || types.atoms[0] == m_ewmh._NET_WM_WINDOW_TYPE_NORMAL;
            xcb_ewmh_get_atoms_reply_wipe(&types);
        }

        bool hidden = false;
        xcb_ewmh_get_atoms_reply_t states;
        if (xcb_ewmh_get_wm_state_reply(&m_ewmh, stateCookie, &states, nullptr)) {
            for (uint32_t i = 0; i < states.atoms_len; ++i)
                hidden = hidden || states.atoms[i] == m_ewmh._NET_WM_STATE_HIDDEN;
            xcb_ewmh_get_atoms_reply_wipe(&states);
        }
        Freed<xcb_get_window_attributes_reply_t> attributes{
            xcb_get_window_attributes_reply(m_connection, attributesCookie, nullptr)};
        description.visible = !hidden && attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;

        xcb_ewmh_get_extents_reply_t frame{};
        const bool framed = xcb_ewmh_get_frame_extents_reply(&m_ewmh, frameCookie, &frame, nullptr);
        uint32_t shadow[4] = {0, 0, 0, 0}; // left, right, top, bottom
        if (m_gtkFrameExtents) {
            Freed<xcb_get_property_reply_t> reply{xcb_get_property_reply(m_connection, gtkCookie, nullptr)};
            if (reply && reply->format == 32 && xcb_get_property_value_length(reply.p) == 16)
                std::copy_n(static_cast<const uint32_t *>(xcb_get_property_value(reply.p)), 4, shadow);
        }

        Freed<xcb_get_geometry_reply_t> geometry{xcb_get_geometry_reply(m_connection, geometryCookie, nullptr)};
        Freed<xcb_translate_coordinates_reply_t> position{
            xcb_translate_coordinates_reply(m_connection, positionCookie, nullptr)};
        if (!geometry || !position)
            return std::nullopt;

        // The window as the user sees it: with the window manager's frame around it, without
        // the invisible shadow a client-side decorated window draws around itself.
        QRect bounds(position->dst_x, position->dst_y, geometry->width, geometry->height);
        if (framed)
            bounds.adjust(-int(frame.left), -int(frame.top), int(frame.right), int(frame.bottom));
        bounds.adjust(int(shadow[0]), int(shadow[2]), -int(shadow[1]), -int(shadow[3]));
        description.bounds = m_scale == 1 ? bounds
                                          : QRect(QPoint(int(std::lround(bounds.x() / m_scale)),
                                                         int(std::lround(bounds.y() / m_scale))),
                                                  QSize(int(std::lround(bounds.width() / m_scale)),
                                                        int(std::lround(bounds.height() / m_scale))));
        return description;
    }

    xcb_connection_t *m_connection;
    int m_screenNumber;
    xcb_ewmh_connection_t m_ewmh{};
    bool m_ready = false;
    xcb_atom_t m_gtkFrameExtents = XCB_ATOM_NONE;
    qreal m_scale = 1;
};

} // namespace
#endif

std::unique_ptr<WindowList> WindowList::x11(const QByteArray &displayName)
{
#ifdef VELMORA_HAVE_XCB
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection)
            xcb_disconnect(connection);
        return nullptr;
    }
    return std::make_unique<X11WindowList>(connection, screenNumber);
#else
    Q_UNUSED(displayName);
    return nullptr;
#endif
}

WindowList &WindowList::system()
{
    // Chosen once: the session does not change while Velmora runs.
    static std::unique_ptr<WindowList> session = [] {
        std::unique_ptr<WindowList> list;
        if (QGuiApplication::platformName() == QLatin1String("xcb"))
            list = x11();
        return list ? std::move(list) : std::make_unique<WindowList>();
    }();
    return *session;
}

} // namespace velmora::platform
