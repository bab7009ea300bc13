// Velmora's composition root: one window whose root view follows the startup sequence, from
// the access check through the backend start to the backend's page (or the failure screen).

#include "app/RootView.h"
#include "app/ShutdownGuard.h"
#include "app/StartupTrace.h"
#include "app/VelmoraApp.h"
#include "backend/BackendController.h"
#include "platform/BuildInfo.h"
#include "updates/UpdateController.h"
#include "workspace/Coordinator.h"
#include "workspace/WorkspaceView.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QImage>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <functional>

using namespace velmora;

namespace {

// Exit codes of a --screenshot run.
enum ScreenshotResult { PageShown = 0, NotSaved = 1, StartFailed = 2, PageNotLoaded = 3, AccessMissing = 4 };

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

// Grabs window to path once it shows something, then quits with code.
void saveScreenshotAndQuit(QWidget *window, const QString &path, int code, int checksLeft = frameChecks)
{
    const QImage image = window->grab().toImage();
    if (isFlat(image) && checksLeft > 0) {
        QTimer::singleShot(frameCheckIntervalMs, window, [=] { saveScreenshotAndQuit(window, path, code, checksLeft - 1); });
        return;
    }
    if (!image.save(path)) {
        std::fprintf(stderr, "velmora: could not write the screenshot to %s\n", qPrintable(path));
        QCoreApplication::exit(NotSaved);
        return;
    }
    QCoreApplication::exit(code);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(platform::buildSettings().version);
    // Wayland desktops match windows to the desktop entry by this name (X11 ones by the window
    // class, "Velmora", which the entry names as StartupWMClass).
    QGuiApplication::setDesktopFileName(QStringLiteral("app.velmora.Velmora"));

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
                                              QStringLiteral("Write a picture of the window to <file> once the page "
                                                             "has loaded (or the start failed, or access is missing), "
                                                             "then quit."),
                                              QStringLiteral("file"));
    parser.addOption(screenshotOption);
    parser.process(app);
    const QString screenshotPath = parser.value(screenshotOption);

    app::VelmoraApp shell;
    auto &backend = shell.backend();
    // Before anything can launch the backend.
    app::ShutdownGuard shutdownGuard(app, backend);
    // An installed update relaunches the application only once the backend and its page have
    // wound down.
    updates::UpdateController::shared().setPrepareForUpdate([&backend] { return backend.prepareForUpdate(); });

    QWidget window;
    window.setWindowTitle(QStringLiteral("Velmora"));
    // Before the root view connects to the backend, so url-set is marked before the web view
    // is made.
    app::StartupTrace::watch(window, backend);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    // The root view demands 1100 x 720, so the window cannot be made smaller.
    auto *root = new app::RootView(shell);
    layout->addWidget(root);
    window.resize(1480, 900);

    if (!screenshotPath.isEmpty()) {
        // A run for a picture ends on the first screen that waits for something outside.
        QObject::connect(root, &app::RootView::screenChanged, &window, [&window, root, screenshotPath](app::StartupScreen screen) {
            switch (screen) {
            case app::StartupScreen::Workspace:
                if (auto *view = qobject_cast<workspace::WorkspaceView *>(root->screenWidget())) {
                    QObject::connect(view->coordinator(), &QWebEnginePage::loadFinished, &window,
                                     [&window, screenshotPath](bool ok) {
                                         saveScreenshotAndQuit(&window, screenshotPath, ok ? PageShown : PageNotLoaded);
                                     });
                }
                break;
            // Once the new screen has been laid out.
            case app::StartupScreen::Failure:
                QTimer::singleShot(0, &window, [&window, screenshotPath] {
                    saveScreenshotAndQuit(&window, screenshotPath, StartFailed, 0);
                });
                break;
            case app::StartupScreen::Access:
                QTimer::singleShot(0, &window, [&window, screenshotPath] {
                    saveScreenshotAndQuit(&window, screenshotPath, AccessMissing, 0);
                });
                break;
            case app::StartupScreen::StartupProgress:
            case app::StartupScreen::AccessCheck:
                break;
            }
        });
    }

    // Showing the root view runs the startup sequence; it opens on the access check.
    window.show();
    return app.exec();
}
