// Velmora's composition root: one window that shows the backend's page once the backend
// answers, or the reason it could not be started.

#include "app/StartupTrace.h"
#include "app/TerminationSignals.h"
#include "backend/BackendController.h"
#include "platform/Async.h"
#include "workspace/Coordinator.h"
#include "workspace/WorkspaceView.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QStackedLayout>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <functional>

using namespace velmora;

namespace {

// Exit codes of a --screenshot run.
enum ScreenshotResult { PageShown = 0, NotSaved = 1, StartFailed = 2, PageNotLoaded = 3 };

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

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
                                              QStringLiteral("Write a picture of the window to <file> once the page "
                                                             "has loaded (or the start failed), then quit."),
                                              QStringLiteral("file"));
    parser.addOption(screenshotOption);
    parser.process(app);
    const QString screenshotPath = parser.value(screenshotOption);

    app::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &app::TerminationSignals::received, &app, &QCoreApplication::quit);

    auto &backend = backend::BackendController::shared();
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &backend, &backend::BackendController::stop);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Velmora"));
    window.resize(1480, 900);
    app::StartupTrace::watch(window, backend);
    auto *screens = new QStackedLayout(&window);
    screens->addWidget(new QWidget); // shown until the backend answers or fails

    QPointer<workspace::WorkspaceView> workspaceView;
    auto showWorkspace = [&] {
        if (workspaceView || backend.url().isEmpty())
            return;
        workspaceView = new workspace::WorkspaceView(backend.url());
        screens->addWidget(workspaceView);
        screens->setCurrentWidget(workspaceView);
        if (!screenshotPath.isEmpty()) {
            QObject::connect(workspaceView->coordinator(), &QWebEnginePage::loadFinished, &window,
                             [&window, screenshotPath](bool ok) {
                                 saveScreenshotAndQuit(&window, screenshotPath, ok ? PageShown : PageNotLoaded);
                             });
        }
    };
    QPointer<QLabel> errorLabel;
    auto showError = [&] {
        if (backend.error().isEmpty() || !backend.url().isEmpty())
            return;
        if (!errorLabel) {
            errorLabel = new QLabel;
            errorLabel->setAlignment(Qt::AlignCenter);
            errorLabel->setWordWrap(true);
            screens->addWidget(errorLabel);
        }
        errorLabel->setText(backend.error());
        screens->setCurrentWidget(errorLabel);
        if (!screenshotPath.isEmpty())
            saveScreenshotAndQuit(&window, screenshotPath, StartFailed, 0);
    };
    QObject::connect(&backend, &backend::BackendController::urlChanged, &window, showWorkspace);
    QObject::connect(&backend, &backend::BackendController::errorChanged, &window, showError);

    window.show();
    // Started from the event loop: a start that fails at once must find the loop running to
    // show its error (and, with --screenshot, to quit).
    QTimer::singleShot(0, &backend, [&backend] { platform::detach(backend.start()); });
    return app.exec();
}
