// Startup screens of the main window, each at the window's default size.
#include "Gallery.h"

#include "access/FullDiskAccessGate.h"
#include "access/Ink.h"
#include "access/StartupAccessView.h"
#include "app/AccessCheckProgressView.h"
#include "app/StartupFailureView.h"
#include "app/RootView.h"
#include "app/StartupProgressView.h"
#include "backend/BackendController.h"
#include "app/VelmoraApp.h"
#include "platform/Relauncher.h"

#include <QCoro/QCoroTask>
#include <QSemaphore>
#include <QUrl>

#include <memory>

using namespace velmora;
using namespace velmora::app;

namespace {
constexpr QSize windowSize(1480, 900);

// Holds the relaunch's report until the page lets it through.
class HeldRelauncher : public platform::Relauncher
{
public:
    void relaunch(std::function<void(platform::RelaunchResult)> completion) override
    {
        held = std::move(completion);
    }
    std::function<void(platform::RelaunchResult)> held;
};

// A gate whose probe answers "missing" only when the page lets it.
struct HeldGate
{
    HeldGate()
    {
        access::FullDiskAccessGate::Dependencies deps;
        deps.relauncher = &relauncher;
        deps.terminate = [] {};
        gate = std::make_unique<access::FullDiskAccessGate>(
            [this] {
                mayAnswer.acquire();
                return false;
            },
            deps);
    }
    ~HeldGate() { mayAnswer.release(100); }

    void answerMissing()
    {
        mayAnswer.release();
        QCoro::waitFor(gate->check());
    }

    QSemaphore mayAnswer;
    HeldRelauncher relauncher;
    std::unique_ptr<access::FullDiskAccessGate> gate;
};

} // namespace

VELMORA_GALLERY_PAGE("startup-access-check")
{
    AccessCheckProgressView view;
    view.resize(windowSize);
    gallery.save(view, QStringLiteral("startup-access-check"));
}

VELMORA_GALLERY_PAGE("startup-progress")
{
    StartupProgressView view(RootView::openingStatus());
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
}

VELMORA_GALLERY_PAGE("startup-access")
{
    const auto show = [&gallery](access::FullDiskAccessGate &gate, const QString &name) {
        access::StartupAccessView view(gate, [] {}, VelmoraApp::applicationBundleURL(), access::inkColor);
        view.resize(windowSize);
        gallery.save(view, name);
    };

    {
        HeldGate idle;
        idle.answerMissing();
        show(*idle.gate, QStringLiteral("startup-access-idle"));
    }
    {
        HeldGate checking;
        checking.answerMissing();
        auto check = checking.gate->check();
        while (!checking.gate->isChecking())
            QCoreApplication::processEvents();
        show(*checking.gate, QStringLiteral("startup-access-checking"));
        checking.mayAnswer.release();
        QCoro::waitFor(std::move(check));
    }
    {
        HeldGate restarting;
        restarting.answerMissing();
        restarting.gate->restart();
        show(*restarting.gate, QStringLiteral("startup-access-restarting"));
        restarting.relauncher.held(platform::RelaunchResult{0, QStringLiteral("no instance")});
        while (restarting.gate->isRestarting())
            QCoreApplication::processEvents();
        show(*restarting.gate, QStringLiteral("startup-access-relaunch-failed"));
    }
}
