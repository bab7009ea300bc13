#include "platform/ScreenLayout.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

namespace velmora::platform {

ScreenLayout ScreenLayout::current()
{
    ScreenLayout layout;
    const QList<QScreen *> screens = QGuiApplication::screens();
    QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary || screens.isEmpty())
        return layout;
    layout.mirrorLine = QRectF(primary->geometry()).bottom();

    // Primary first, then the others in the platform's order.
    QList<QScreen *> ordered{primary};
    for (QScreen *screen : screens) {
        if (screen != primary)
            ordered.append(screen);
    }
    for (QScreen *screen : ordered) {
        layout.frames.append(layout.fromTopLeft(QRectF(screen->geometry())));
        layout.visibleFrames.append(layout.fromTopLeft(QRectF(screen->availableGeometry())));
    }

    QScreen *main = primary;
    if (QWidget *active = QApplication::activeWindow()) {
        if (QScreen *screen = active->screen())
            main = screen;
    }
    layout.mainVisibleFrame = layout.fromTopLeft(QRectF(main->availableGeometry()));
    return layout;
}

} // namespace velmora::platform
