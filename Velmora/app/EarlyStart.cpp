#include "app/EarlyStart.h"

#include "access/AccessProbe.h"
#include "app/StartupTrace.h"
#include "app/TerminationSignals.h"
#include "backend/LaunchPlan.h"
#include "platform/BuildInfo.h"
#include "platform/Bundle.h"
#include "platform/ListeningPorts.h"
#include "platform/ProcessInfo.h"
#include "platform/SingleInstance.h"
#include "updates/UpdateInstaller.h"

#include <QFileInfo>

namespace velmora::app {

namespace {

// An installed bundle with an update's work folder beside it: the launch recovery decides
// first, and may hand over to another version.
bool updateRecoveryWaits(const platform::Bundle &bundle)
{
    if (bundle.isDevelopmentBuild())
        return false;
    const std::optional<QString> directory = bundle.bundleDirectory();
    return directory && QFileInfo(updates::InstallPaths::forBundle(*directory).work).exists();
}

} // namespace

EarlyStart::EarlyStart() = default;
EarlyStart::EarlyStart(EarlyStart &&) noexcept = default;
EarlyStart &EarlyStart::operator=(EarlyStart &&) noexcept = default;
EarlyStart::~EarlyStart() = default;

EarlyLaunch earlyLaunchFor(const QStringList &arguments, bool relaunched)
{
    if (relaunched)
        return EarlyLaunch::None;
    if (arguments.isEmpty())
        return EarlyLaunch::AsInstance;
    const QString screenshot = QStringLiteral("--screenshot");
    if (arguments.size() == 2 && arguments.at(0) == screenshot && !arguments.at(1).isEmpty()
        && !arguments.at(1).startsWith(QLatin1Char('-')))
        return EarlyLaunch::ForPicture;
    const QString withValue = screenshot + QLatin1Char('=');
    if (arguments.size() == 1 && arguments.at(0).startsWith(withValue) && arguments.at(0).size() > withValue.size())
        return EarlyLaunch::ForPicture;
    return EarlyLaunch::None;
}

EarlyStart startBackendEarly(int argc, char **argv)
{
    // What comes before this (exec, loading Qt's and the engine's libraries, their static
    // initialisers) is the floor of the launch's timing.
    StartupTrace::mark("main-entered");
    EarlyStart early;
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    platform::ProcessInfo &self = platform::ProcessInfo::current();
    const EarlyLaunch mode = earlyLaunchFor(arguments, platform::relaunchedFrom(self.environment()) > 0);
    if (mode == EarlyLaunch::None)
        return early;

    if (mode == EarlyLaunch::AsInstance) {
        early.instance = std::make_unique<platform::SingleInstance>(platform::SingleInstance::runtimeFolder(),
                                                                    platform::applicationId);
        // Another Velmora runs (or is starting): this launch hands over to it and starts
        // nothing. The application claims the instance again and finds out.
        if (!early.instance->lock()) {
            early.instance.reset();
            return early;
        }
    }

    platform::Bundle &bundle = platform::Bundle::main();
    if (updateRecoveryWaits(bundle) || !access::probeAuthorization())
        return early;
    const backend::PortResolution port = backend::resolvePort(self);
    if (!port.ok() || !platform::loopbackRefuses(quint16(port.port)))
        return early;
    const backend::LaunchPlanResolution plan = backend::resolveLaunchPlan(bundle);
    if (!plan.ok())
        return early;
    // From the launch on a termination signal must reach the backend through Velmora's own
    // end, as it does once the application runs.
    TerminationSignals::catchEarly();
    early.launch = backend::launchBackend(plan.plan, port, bundle, self, platform::ProcessLauncher::system());
    if (early.launch.ok())
        StartupTrace::mark("backend-launched");
    return early;
}

} // namespace velmora::app
