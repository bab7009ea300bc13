// Startup screens of the main window, each at the window's default size.
#include "Gallery.h"

#include "AccessDoubles.h"

#include "access/FullDiskAccessGate.h"
#include "access/Ink.h"
#include "access/StartupAccessView.h"
#include "app/AccessCheckProgressView.h"
#include "app/RootView.h"
#include "app/StartupFailureView.h"
#include "app/StartupProgressView.h"
#include "app/Texts.h"
#include "app/VelmoraApp.h"
#include "backend/BackendController.h"
#include "platform/Bundle.h"

#include <QCoro/QCoroTask>
#include <QUrl>

using namespace velmora;
using namespace velmora::app;

namespace {
constexpr QSize windowSize(1480, 900);
} // namespace

VELMORA_GALLERY_PAGE("startup-access-check")
{
    AccessCheckProgressView view;
    view.resize(windowSize);
    gallery.save(view, QStringLiteral("startup-access-check"));
}

VELMORA_GALLERY_PAGE("startup-progress")
{
    StartupProgressView view(app::openingStatus);
    view.resize(windowSize);
    gallery.save(view, QStringLiteral("startup-progress"));
}

VELMORA_GALLERY_PAGE("startup-failure")
{
    const QString error = backend::backendNotReadyMessage;
    StartupFailureView withoutLog;
    withoutLog.resize(windowSize);
    withoutLog.setError(error);
    gallery.save(withoutLog, QStringLiteral("startup-failure-without-log"));

    StartupFailureView withLog;
    withLog.resize(windowSize);
    withLog.setError(error);
    withLog.setLogURL(QUrl::fromLocalFile(QStringLiteral("/tmp/desktop.log")));
    gallery.save(withLog, QStringLiteral("startup-failure-with-log"));

    // A long platform error at the smallest window size wraps, each line centred.
    StartupFailureView longError;
    longError.resize(1100, 720);
    longError.setError(QStringList(8, backend::backendExitedMessage).join(QLatin1Char(' ')));
    longError.setLogURL(QUrl::fromLocalFile(QStringLiteral("/tmp/desktop.log")));
    gallery.save(longError, QStringLiteral("startup-failure-long-error"));

    // The backend went away after its page was shown.
    StartupFailureView lost;
    lost.resize(windowSize);
    lost.setTitle(app::backendLostTitle);
    lost.setError(backend::backendLostMessage(platform::ExitStatus{true, 9}));
    lost.setLogURL(QUrl::fromLocalFile(QStringLiteral("/tmp/desktop.log")));
    gallery.save(lost, QStringLiteral("startup-failure-backend-lost"));

    // The page's render process ended twice in a short time.
    StartupFailureView page;
    page.resize(windowSize);
    page.setTitle(app::pageFailedTitle);
    page.setError(app::pageFailedMessage);
    gallery.save(page, QStringLiteral("startup-failure-page"));
}

VELMORA_GALLERY_PAGE("startup-access")
{
    const auto show = [&gallery](access::FullDiskAccessGate &gate, const QString &name) {
        access::StartupAccessView view(
            gate, [] {}, platform::Bundle::main().bundleURL(), access::inkColor);
        view.resize(windowSize);
        gallery.save(view, name);
    };

    {
        test::HeldGate idle;
        idle.answerMissing();
        show(*idle.gate, QStringLiteral("startup-access-idle"));
    }
    {
        test::HeldGate checking;
        checking.answerMissing();
        auto check = checking.gate->check();
        while (!checking.gate->isChecking())
            QCoreApplication::processEvents();
        show(*checking.gate, QStringLiteral("startup-access-checking"));
        checking.mayAnswer.release();
        QCoro::waitFor(std::move(check));
    }
    {
        test::HeldGate restarting;
        restarting.answerMissing();
        restarting.gate->restart();
        show(*restarting.gate, QStringLiteral("startup-access-restarting"));
        restarting.relauncher.held(platform::RelaunchResult{0, QStringLiteral("no instance")});
        while (restarting.gate->isRestarting())
            QCoreApplication::processEvents();
        show(*restarting.gate, QStringLiteral("startup-access-relaunch-failed"));
    }
}
