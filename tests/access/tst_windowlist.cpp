// The X11 window list read from a real X server (Xvfb), with this test acting as the window
// manager that publishes the EWMH client list.
#include "TestSupport.h"
#include "VirtualDisplay.h"

#include "platform/WindowList.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#ifdef VELMORA_HAVE_XCB
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#endif

#include <sys/prctl.h>

using velmora::platform::WindowDescription;
using velmora::platform::WindowList;

class TestWindowList : public QObject
{
    Q_OBJECT
private slots:
    void settingsProcessNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("settings");
        QTest::newRow("GNOME, as the kernel keeps it") << "gnome-control-c" << true;
        QTest::newRow("GNOME, full") << "gnome-control-center" << true;
        QTest::newRow("Plasma") << "systemsettings" << true;
        QTest::newRow("Xfce, cut") << "xfce4-settings-" << true;
        QTest::newRow("short prefix is not enough") << "gnome" << false;
        QTest::newRow("other application") << "nautilus" << false;
        QTest::newRow("no name") << "" << false;
    }

    void settingsProcessNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, settings);
        QCOMPARE(velmora::platform::isDesktopSettingsProcess(name), settings);
    }

    void noWindowListWithoutX11()
    {
        // The tests run offscreen: the session's list is the empty default.
        QVERIFY(!WindowList::system().windows());
    }

    void readsTheClientListOfAnXServer()
    {
#ifndef VELMORA_HAVE_XCB
        QSKIP("built without X11 support");
#else
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            QSKIP("Xvfb is not installed");
        const velmora::test::VirtualDisplay server(false, "1280x800x24");
        QVERIFY2(server.isRunning(), "Xvfb could not be started");
        const QByteArray display = server.name();

        int screenNumber = 0;
        xcb_connection_t *c = xcb_connect(display.constData(), &screenNumber);
        QVERIFY(c && !xcb_connection_has_error(c));
        auto disconnect = qScopeGuard([c] { xcb_disconnect(c); });
        xcb_ewmh_connection_t ewmh;
        QVERIFY(xcb_ewmh_init_atoms_replies(&ewmh, xcb_ewmh_init_atoms(c, &ewmh), nullptr));
        auto wipe = qScopeGuard([&ewmh] { xcb_ewmh_connection_wipe(&ewmh); });
        const xcb_window_t root = ewmh.screens[screenNumber]->root;

        // This process poses as the settings application.
        char ownName[16] = {};
        prctl(PR_GET_NAME, ownName);
        prctl(PR_SET_NAME, "gnome-control-center");
        auto restoreName = qScopeGuard([&ownName] { prctl(PR_SET_NAME, ownName); });
        const uint32_t pid = uint32_t(QCoreApplication::applicationPid());

        auto makeWindow = [&](int x, int y, int w, int h, bool map) {
            const xcb_window_t window = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, x, y, w, h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                              XCB_COPY_FROM_PARENT, 0, nullptr);
            xcb_ewmh_set_wm_pid(&ewmh, window, pid);
            if (map)
                xcb_map_window(c, window);
            return window;
        };
        // Bottom to top: a framed normal window, a dialog, a minimised window, and on top a
        // client-side decorated window with a 10-point shadow and no window type.
        const xcb_window_t framed = makeWindow(100, 130, 800, 570, true);
        xcb_ewmh_set_frame_extents(&ewmh, framed, 2, 2, 30, 2);
        xcb_atom_t normalType = ewmh._NET_WM_WINDOW_TYPE_NORMAL;
        xcb_ewmh_set_wm_window_type(&ewmh, framed, 1, &normalType);

        const xcb_window_t dialog = makeWindow(50, 50, 500, 400, true);
        xcb_atom_t dialogType = ewmh._NET_WM_WINDOW_TYPE_DIALOG;
        xcb_ewmh_set_wm_window_type(&ewmh, dialog, 1, &dialogType);

        const xcb_window_t minimised = makeWindow(0, 0, 600, 400, false);
        xcb_atom_t hidden = ewmh._NET_WM_STATE_HIDDEN;
        xcb_ewmh_set_wm_state(&ewmh, minimised, 1, &hidden);

        const xcb_window_t shadowed = makeWindow(300, 200, 520, 420, true);
        const char gtkExtents[] = "_GTK_FRAME_EXTENTS";
        xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof gtkExtents - 1, gtkExtents),
                                                              nullptr);
        QVERIFY(atom);
        const uint32_t shadow[4] = {10, 10, 10, 10};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, shadowed, atom->atom, XCB_ATOM_CARDINAL, 32, 4, shadow);
        free(atom);

        xcb_window_t stacking[] = {framed, dialog, minimised, shadowed};
        xcb_ewmh_set_client_list_stacking(&ewmh, screenNumber, 4, stacking);
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // all requests done

        std::unique_ptr<WindowList> list = WindowList::x11(display);
        QVERIFY(list);
        const auto windows = list->windows();
        QVERIFY(windows);
        QCOMPARE(windows->size(), 4);

        const WindowDescription &top = windows->at(0);
        QCOMPARE(top.ownerPid, qint64(pid));
        QCOMPARE(top.ownerName, QStringLiteral("gnome-control-c"));
        QVERIFY(velmora::platform::isDesktopSettingsProcess(top.ownerName));
        QVERIFY(top.normal);
        QVERIFY(top.visible);
        QCOMPARE(top.bounds, QRect(310, 210, 500, 400));

        QVERIFY(!windows->at(1).visible);
        QVERIFY(!windows->at(2).normal);
        QVERIFY(windows->at(2).visible);

        const WindowDescription &bottom = windows->at(3);
        QVERIFY(bottom.normal && bottom.visible);
        QCOMPARE(bottom.bounds, QRect(98, 100, 804, 602));
#endif
    }
};

QTEST_GUILESS_MAIN(TestWindowList)
#include "tst_windowlist.moc"
