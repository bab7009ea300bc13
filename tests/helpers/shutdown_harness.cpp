// The application's shutdown wiring (ShutdownGuard) over a real BackendController, ended the
// way its second argument names once the backend is ready:
//   quit    QCoreApplication::quit()
//   exit    exit() from the middle of the event loop, as Qt's X11 plugin does when the display
//           connection breaks
//   abort   abort()
//   qfatal  qFatal()
//   segv    a write through a null pointer
//   wait    nothing: a signal from outside, or the loss of the display, ends it
// The backend is the project's scripts/run-app.sh under PROJECT_ROOT, launched from the main
// thread as the application launches it, with its watch: every request it gets is counted,
// whoever sends it. Prints "shutdown_harness: ready" once the backend answers as this
// program's own.
#include "app/ShutdownGuard.h"
#include "backend/BackendController.h"
#include "platform/Bundle.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

void end(const QByteArray &way)
{
    if (way == "quit") {
        QCoreApplication::quit();
    } else if (way == "exit") {
        std::exit(3);
    } else if (way == "abort") {
        std::abort();
    } else if (way == "qfatal") {
        qFatal("shutdown_harness: fatal error");
    } else if (way == "segv") {
        volatile int *nowhere = nullptr;
        *nowhere = 1;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fputs("usage: shutdown_harness PROJECT_ROOT quit|exit|abort|qfatal|segv|wait\n", stderr);
        return 2;
    }
    const QByteArray way = argv[2];

    platform::FixedBundle bundle;
    bundle.info.insert(platform::bundleKey::projectRoot, QString::fromLocal8Bit(argv[1]));
    backend::BackendController::Dependencies deps;
    deps.bundle = &bundle;
    deps.timing.pause = 50ms;
    deps.timing.readinessCycles = 400;
    backend::BackendController controller(deps);
    app::ShutdownGuard guard(app, controller);

    // A window of its own, as the application has: on X11 a broken display shows through it.
    QWidget window;
    window.show();

    QObject::connect(&controller, &backend::BackendController::urlChanged, &app, [way] {
        std::puts("shutdown_harness: ready");
        std::fflush(stdout);
        QTimer::singleShot(0, [way] { end(way); });
    });
    QObject::connect(&controller, &backend::BackendController::errorChanged, &app, [&controller] {
        if (!controller.error().isEmpty()) {
            std::fprintf(stderr, "shutdown_harness: %s\n", qPrintable(controller.error()));
            std::exit(2);
        }
    });
    platform::detach(controller.start());
    return app.exec();
}
