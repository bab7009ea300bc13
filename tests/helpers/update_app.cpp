// A start of an installed Velmora as far as its updates go, with the update engine's own windows
// and the application's way of ending: it claims the single instance (waiting for the
// predecessor that relaunched it, as Velmora does), finishes or undoes what an earlier run left
// of an installation, confirms the running version once its window is up, and then installs
// the update the feed offers the way a user does: the controller's launch check, the engine's
// window, "지금 설치", "설치 후 다시 시작". The relaunch ends this process with the engine's own
// quit, while the engine's window, the update window and a main window are all shown.
//
//   update_app --bundle DIR [--check-start]
//
// With --check-start it answers an installation's start check, as Velmora does, and ends.
// Otherwise it first watches a new version's first start from a process of its own, as
// Velmora's main() does; its relaunch starts its own program as the new version's watching
// process (update_app --watch-first-start DIR), as Velmora's does.
//
// Environment (inherited by the relaunched start):
//   VELMORA_TEST_FEED  the feed's address       VELMORA_TEST_CA   PEM file the feed's host is trusted with
//   VELMORA_TEST_KEY   the update public key    VELMORA_TEST_LOG  file each start appends its lines to
//
// Lines written to the log, each with this process id first:
//   PID start PREDECESSOR VERSION   PID claim-failed CLAIM   PID recovered ACTION
//   PID confirmed VERSION           PID no-update            PID relaunching VERSION
//   PID failed MESSAGE              PID ended STATUS        PID watched STATUS (the watching process)
#include "platform/Bundle.h"
#include "platform/HttpClient.h"
#include "platform/PackageOwnership.h"
#include "platform/ProcessInfo.h"
#include "platform/Relauncher.h"
#include "platform/SingleInstance.h"
#include "platform/UrlOpener.h"
#include "updates/BundleInfo.h"
#include "updates/FirstStartWatch.h"
#include "updates/InstallWindow.h"
#include "updates/UpdateController.h"
#include "updates/UpdateEngineWindow.h"
#include "updates/UpdateInstaller.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QPushButton>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QWidget>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

using namespace velmora;

namespace {

void log(const QString &line)
{
    // Appended in one write, so that the lines of two processes never mix.
    const QByteArray text = QByteArray::number(qint64(::getpid())) + ' ' + line.toUtf8() + '\n';
    const int fd = ::open(qgetenv("VELMORA_TEST_LOG").constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t written = ::write(fd, text.constData(), size_t(text.size()));
    ::close(fd);
}

QString bundleVersion(const QString &bundle)
{
    QFile info(bundle + QStringLiteral("/Info.json"));
    if (!info.open(QIODevice::ReadOnly))
        return {};
    return updates::parseBundleInfo(info.readAll()).version;
}

} // namespace

int main(int argc, char **argv)
{
    // First, as Velmora does: a new version's first start is watched by a process of its own.
    // The restored version starts as the bundle's program, which names its own arguments.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const auto watched = updates::runWatchedRelaunch(arguments)) {
        log(QStringLiteral("watched %1").arg(*watched));
        return *watched;
    }
    QString watchedBundle;
    bool checkStart = false;
    for (int i = 1; i < argc; ++i) {
        if (QLatin1String(argv[i]) == QLatin1String("--check-start"))
            checkStart = true;
        else if (QLatin1String(argv[i]) == QLatin1String("--bundle") && i + 1 < argc)
            watchedBundle = QString::fromLocal8Bit(argv[++i]);
    }
    if (!checkStart) {
        if (const auto watched = updates::watchFirstStart(watchedBundle, {})) {
            log(QStringLiteral("watched %1").arg(*watched));
            return *watched;
        }
    }
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("app.velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("Velmora"));
    QCommandLineParser args;
    args.addOption(QCommandLineOption(QStringLiteral("bundle"), QString(), QStringLiteral("folder")));
    args.addOption(QCommandLineOption(QStringLiteral("check-start")));
    args.process(app);
    const QString bundle = args.value(QStringLiteral("bundle"));
    const QString version = bundleVersion(bundle);
    if (args.isSet(QStringLiteral("check-start"))) {
        std::printf("%s%s\n", updates::startCheckAnswer, qPrintable(version));
        return 0;
    }

    const qint64 predecessor = platform::relaunchedFrom(platform::ProcessInfo::current().environment());
    log(QStringLiteral("start %1 %2").arg(predecessor).arg(version));
    platform::SingleInstance instance(platform::SingleInstance::runtimeFolder(), QStringLiteral("velmora-update-app"));
    if (const auto claim = instance.claim(predecessor); claim != platform::SingleInstance::Claim::Running) {
        log(QStringLiteral("claim-failed %1").arg(int(claim)));
        return 1;
    }
    const auto recovery = updates::UpdateInstaller::recoverAtLaunch(bundle);
    log(QStringLiteral("recovered %1").arg(int(recovery.action)));

    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("Velmora"));
    mainWindow.resize(600, 400);
    mainWindow.show();
    if (updates::UpdateInstaller::confirm(bundle))
        log(QStringLiteral("confirmed %1").arg(version));

    platform::HttpClient http;
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    for (const QSslCertificate &certificate : QSslCertificate::fromPath(qEnvironmentVariable("VELMORA_TEST_CA")))
        ssl.addCaCertificate(certificate);
    http.setSslConfiguration(ssl);
    // An empty package database: the bundle is nobody's package.
    platform::PackageOwnership noPackages(bundle + QStringLiteral("/no-dpkg-info"));
    platform::FixedBundle info;
    info.info.insert(platform::bundleKey::shortVersion, version);
    info.bundle = bundle;

    updates::UpdateController::Dependencies deps;
    deps.bundle = &info;
    deps.http = &http;
    deps.controllerFactory = [&](updates::UpdaterDelegate &updaterDelegate,
                                 updates::UserDriverDelegate &userDriverDelegate) {
        updates::UpdateEngineConfiguration configuration;
        configuration.feedUrl = qEnvironmentVariable("VELMORA_TEST_FEED");
        configuration.runningVersion = version;
        configuration.http = &http;
        configuration.installer.bundle = bundle;
        configuration.installer.publicKeys = QStringList{qEnvironmentVariable("VELMORA_TEST_KEY")};
        configuration.installer.packages = &noPackages;
        // The engine's own quit: what is under test.
        auto engine = std::make_unique<updates::UpdateEngine>(updaterDelegate, userDriverDelegate, configuration);
        new updates::UpdateEngineWindow(*engine, platform::UrlOpener::system());
        return engine;
    };
    updates::UpdateController controller(deps);
    auto *engine = dynamic_cast<updates::UpdateEngine *>(&controller.controller());

    // The user's clicks, each once its button is there.
    QObject::connect(engine, &updates::UpdateEngine::phaseChanged, &app, [engine](updates::InstallPhase phase) {
        QMetaObject::invokeMethod(
            engine,
            [engine, phase] {
                updates::InstallWindow *window = updates::installWindow(*engine);
                switch (phase) {
                case updates::InstallPhase::Found:
                    window->installButton()->click();
                    break;
                case updates::InstallPhase::Ready:
                    log(QStringLiteral("relaunching %1").arg(window->state().newVersion));
                    window->relaunchButton()->click();
                    break;
                case updates::InstallPhase::NoUpdate:
                    log(QStringLiteral("no-update"));
                    break;
                case updates::InstallPhase::Failed:
                case updates::InstallPhase::CheckFailed:
                case updates::InstallPhase::Refused:
                    log(QStringLiteral("failed %1").arg(window->state().message));
                    break;
                default:
                    break;
                }
            },
            Qt::QueuedConnection);
    });
    // The launch check shows the update window; its "install" hands over to the engine once the
    // check has ended, as the window's button does.
    QObject::connect(&controller, &updates::UpdateController::canCheckForUpdatesChanged, &app, [&controller] {
        if (controller.canCheckForUpdates() && controller.updateWindow() && controller.updateWindow()->isVisible()
            && controller.phase() == updates::UpdateController::Phase::Idle)
            controller.controller().checkForUpdates();
    });
    controller.start();

    const int status = QApplication::exec();
    log(QStringLiteral("ended %1").arg(status));
    return status;
}
