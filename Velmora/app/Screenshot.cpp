#include "app/Screenshot.h"

#include "app/RootView.h"
#include "workspace/WorkspaceView.h"

#include <QCoreApplication>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace velmora::app {

namespace {

// A page may finish loading a moment before its first frame reaches the window; wait for a
// picture that is not one flat colour, but not for ever.
constexpr int frameChecks = 50;
constexpr int frameCheckIntervalMs = 100;

bool isFlat(const QImage &image)
{
    if (image.isNull())
        return true;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            if (image.pixel(x, y) != first)
                return false;
        }
    }
    return true;
}

// Grabs window to path once its content shows something (the menu bar always does), then
// quits with code.
void saveScreenshotAndQuit(QWidget *window, QWidget *content, const QString &path, int code, int checksLeft = frameChecks)
{
    if (isFlat(content->grab().toImage()) && checksLeft > 0) {
        QTimer::singleShot(frameCheckIntervalMs, window,
                           [=] { saveScreenshotAndQuit(window, content, path, code, checksLeft - 1); });
        return;
    }
    const QImage image = window->grab().toImage();
    if (!image.save(path)) {
        std::fprintf(stderr, "velmora: could not write the screenshot to %s\n", qPrintable(path));
        QCoreApplication::exit(NotSaved);
        return;
    }
    QCoreApplication::exit(code);
}

} // namespace

void takeScreenshotWhenSettled(QWidget &window, RootView &root, const QString &path)
{
    QWidget *target = &window;
    QObject::connect(&root, &RootView::screenChanged, target, [target, view = &root, path](StartupScreen screen) {
        switch (screen) {
        case StartupScreen::Workspace:
            // The workspace is shown once its page has loaded (or failed to).
            if (auto *workspace = qobject_cast<workspace::WorkspaceView *>(view->screenWidget())) {
                const int code = workspace->pageLoaded() ? PageShown : PageNotLoaded;
                QTimer::singleShot(0, target,
                                   [target, view, path, code] { saveScreenshotAndQuit(target, view, path, code); });
            }
            break;
        // Once the new screen has been laid out.
        case StartupScreen::Failure:
            QTimer::singleShot(0, target,
                               [target, view, path] { saveScreenshotAndQuit(target, view, path, StartFailed, 0); });
            break;
        case StartupScreen::Access:
            QTimer::singleShot(0, target,
                               [target, view, path] { saveScreenshotAndQuit(target, view, path, AccessMissing, 0); });
            break;
        case StartupScreen::StartupProgress:
        case StartupScreen::AccessCheck:
            break;
        }
    });
}

} // namespace velmora::app
