// Runs Velmora's update installation in a process of its own, so that tests can kill it at a
// named moment (SIGKILL, as kill -9 would) and see what the next start finds, or start a
// bundle's "velmora" that does what a start of Velmora does about an installation.
//
//   update_harness install --bundle DIR --url URL --length N --signature SIG --key KEY
//                          --version V --running R --ca PEM [--stop-at POINT] [--confirm]
//       prepares the update, swaps it in and, with --confirm, confirms it; with --stop-at it
//       kills itself when the installation reaches POINT (an InstallPoint name).
//   update_harness launch --bundle DIR [--stop-at POINT] [--check-start]
//       a start of the bundle: the first-start watch and the recovery, as Velmora makes them at
//       launch. With --check-start it only answers an installation's start check, as Velmora
//       does, and ends. When the old version is back it replaces itself with DIR/bin/velmora,
//       as Velmora does. Then it does what the bundle's Info.json names under
//       "VelmoraTestBehaviour" (a new version that fails after its start check, before it is
//       up): "crash" aborts, "segv" dies of SIGSEGV, "exit" ends at once with status 3, "hang"
//       waits until it is killed, "quit" ends with status 0 unconfirmed, "confirm" confirms
//       the installation; anything else ends.
//       It prints "action ACTION" and, when there is one, "message TEXT"; with VELMORA_TEST_LOG
//       set it also appends each line, after its process id, to that file. The watch's bound
//       is VELMORA_TEST_WATCH_BOUND milliseconds when that is set; with --stop-at nothing is
//       watched.
//   update_harness --watch-first-start DIR
//       the watching process of a relaunch, as the old version's Velmora runs it: starts
//       DIR/bin/velmora and watches its first start; says "watched STATUS" when it ends without
//       a rollback.
//   update_harness refusal --bundle DIR --key KEY [--as-nobody]
//       prints whether installing into DIR is refused, as the user nobody when asked to.
#include "platform/FolderLock.h"
#include "platform/HttpClient.h"
#include "platform/PackageOwnership.h"
#include "platform/Relauncher.h"
#include "updates/BundleInfo.h"
#include "updates/FirstStartWatch.h"
#include "updates/UpdateInstaller.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <QCoro/QCoroTask>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

using namespace velmora;
using updates::InstallPoint;

namespace {

// A line on standard output, and in the log when there is one (a relaunched start's output
// goes nowhere a test can read).
void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    const QByteArray log = qgetenv("VELMORA_TEST_LOG");
    if (log.isEmpty())
        return;
    // Appended in one write, so that the lines of two processes never mix.
    const QByteArray text = QByteArray::number(qint64(::getpid())) + ' ' + line.toUtf8() + '\n';
    const int fd = ::open(log.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t written = ::write(fd, text.constData(), size_t(text.size()));
    ::close(fd);
}

const char *const pointNames[] = {"Downloading", "Downloaded", "Unpacking",  "Unpacked",    "Ready",        "Swapping",
                                  "Exchanged",   "Swapped",    "Confirming", "RollingBack", "ExchangedBack"};

std::function<void(InstallPoint)> stopAt(const QString &name)
{
    if (name.isEmpty())
        return {};
    return [name](InstallPoint point) {
        if (name == QLatin1String(pointNames[int(point)])) {
            std::printf("stopping at %s\n", pointNames[int(point)]);
            std::fflush(stdout);
            ::raise(SIGKILL);
        }
    };
}

const char *actionName(updates::RecoveryAction action)
{
    switch (action) {
    case updates::RecoveryAction::Nothing:
        return "Nothing";
    case updates::RecoveryAction::LeaveAlone:
        return "LeaveAlone";
    case updates::RecoveryAction::DiscardWork:
        return "DiscardWork";
    case updates::RecoveryAction::CountStart:
        return "CountStart";
    case updates::RecoveryAction::RollBack:
        return "RollBack";
    case updates::RecoveryAction::ReportRolledBack:
        return "ReportRolledBack";
    case updates::RecoveryAction::FinishConfirmation:
        return "FinishConfirmation";
    }
    return "?";
}

// An empty package database: the test's bundles are nobody's package.
platform::PackageOwnership &noPackages()
{
    static platform::PackageOwnership packages(QStringLiteral("/nonexistent-dpkg-info"));
    return packages;
}

QCoro::Task<int> install(const QCommandLineParser &args)
{
    platform::HttpClient http;
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    for (const QSslCertificate &certificate : QSslCertificate::fromPath(args.value(QStringLiteral("ca"))))
        ssl.addCaCertificate(certificate);
    http.setSslConfiguration(ssl);

    updates::InstallerConfiguration configuration;
    configuration.bundle = args.value(QStringLiteral("bundle"));
    configuration.runningVersion = args.value(QStringLiteral("running"));
    configuration.publicKeys = QStringList(args.value(QStringLiteral("key")));
    configuration.http = &http;
    configuration.packages = &noPackages();
    configuration.reached = stopAt(args.value(QStringLiteral("stop-at")));
    auto installer = std::make_unique<updates::UpdateInstaller>(configuration);

    updates::UpdateItem item;
    item.versionString = args.value(QStringLiteral("version"));
    item.displayVersionString = item.versionString;
    item.downloadURL = QUrl(args.value(QStringLiteral("url")));
    item.contentLength = args.value(QStringLiteral("length")).toLongLong();
    item.edSignature = args.value(QStringLiteral("signature"));

    if (const auto failure = co_await installer->prepare(item)) {
        std::printf("failed %s\n", qPrintable(failure->detail));
        co_return 1;
    }
    if (const auto failure = installer->swap()) {
        std::printf("failed %s\n", qPrintable(failure->detail));
        co_return 1;
    }
    // The installing process lets go of the work folder as it ends; the confirmation comes
    // from another start.
    installer.reset();
    if (args.isSet(QStringLiteral("confirm")))
        updates::UpdateInstaller::confirm(configuration.bundle, configuration.reached);
    std::printf("installed\n");
    co_return 0;
}

// A free coroutine: a lambda's captures would be gone once the call that started it returns.
QCoro::Task<> runInstall(const QCommandLineParser *args)
{
    const int code = co_await install(*args);
    QCoreApplication::exit(code);
}

std::chrono::milliseconds watchBound()
{
    bool given = false;
    const int bound = qEnvironmentVariableIntValue("VELMORA_TEST_WATCH_BOUND", &given);
    return given ? std::chrono::milliseconds(bound) : updates::firstStartBound;
}

int launch(const QCommandLineParser &args)
{
    const QString bundle = args.value(QStringLiteral("bundle"));
    if (args.isSet(QStringLiteral("check-start"))) {
        QFile info(bundle + QStringLiteral("/Info.json"));
        info.open(QIODevice::ReadOnly);
        std::printf("%s%s\n", updates::startCheckAnswer, qPrintable(updates::parseBundleInfo(info.readAll()).version));
        return 0;
    }
    // A start the test kills at a moment of its recovery goes unwatched: a watching process
    // would finish what the killed one left before the test could look. The restored version
    // starts as the bundle's program, which names its own arguments.
    if (const auto watched = args.isSet(QStringLiteral("stop-at")) ? std::nullopt
                                                                   : updates::watchFirstStart(bundle, {}, watchBound())) {
        say(QStringLiteral("watched %1").arg(*watched));
        return *watched;
    }
    const auto recovery = updates::UpdateInstaller::recoverAtLaunch(bundle, stopAt(args.value(QStringLiteral("stop-at"))));
    say(QStringLiteral("action %1").arg(QLatin1String(actionName(recovery.action))));
    if (!recovery.message.isEmpty())
        say(QStringLiteral("message ") + recovery.message);
    if (!recovery.error.isEmpty())
        say(QStringLiteral("error ") + recovery.error);
    if (recovery.restartBundle) {
        const QString error = platform::Relauncher::replaceProcess(bundle + QStringLiteral("/bin/velmora"), {});
        say(QStringLiteral("exec failed ") + error);
        return 1;
    }

    QFile infoFile(bundle + QStringLiteral("/Info.json"));
    infoFile.open(QIODevice::ReadOnly);
    const QByteArray info = infoFile.readAll();
    const QString behaviour = QJsonDocument::fromJson(info).object().value(QLatin1String("VelmoraTestBehaviour")).toString();
    say(QStringLiteral("runs %1").arg(updates::parseBundleInfo(info).version));
    if (behaviour == QLatin1String("crash"))
        std::abort();
    if (behaviour == QLatin1String("segv"))
        ::raise(SIGSEGV);
    if (behaviour == QLatin1String("exit"))
        return 3;
    if (behaviour == QLatin1String("hang")) {
        // Until the watch ends it; should it not, the alarm does, long after any test's patience.
        ::alarm(600);
        for (;;)
            ::pause();
    }
    if (behaviour == QLatin1String("confirm"))
        say(QStringLiteral("confirmed %1").arg(int(updates::UpdateInstaller::confirm(bundle))));
    return 0;
}

int refusal(const QCommandLineParser &args)
{
    if (args.isSet(QStringLiteral("as-nobody")) && ::geteuid() == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            std::printf("cannot become nobody\n");
            return 1;
        }
    }
    updates::InstallerConfiguration configuration;
    configuration.bundle = args.value(QStringLiteral("bundle"));
    configuration.publicKeys = QStringList(args.value(QStringLiteral("key")));
    configuration.packages = &noPackages();
    updates::UpdateInstaller installer(configuration);
    std::printf("refusal %d\n", int(installer.refusal()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // First, as Velmora's main() does.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const auto watched = updates::runWatchedRelaunch(arguments, watchBound())) {
        say(QStringLiteral("watched %1").arg(*watched));
        return *watched;
    }
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    args.addPositionalArgument(QStringLiteral("mode"), QStringLiteral("install, launch or refusal"));
    for (const char *option : {"bundle", "url", "length", "signature", "key", "version", "running", "ca", "stop-at"})
        args.addOption(QCommandLineOption(QLatin1String(option), QString(), QStringLiteral("value")));
    args.addOption(QCommandLineOption(QStringLiteral("confirm")));
    args.addOption(QCommandLineOption(QStringLiteral("as-nobody")));
    args.addOption(QCommandLineOption(QStringLiteral("check-start")));
    args.process(app);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const QString mode = args.positionalArguments().value(0);
    if (mode == QLatin1String("launch"))
        return launch(args);
    if (mode == QLatin1String("refusal"))
        return refusal(args);
    if (mode != QLatin1String("install")) {
        std::fputs("usage: update_harness install|launch|refusal OPTIONS\n", stderr);
        return 2;
    }
    // Once the loop runs, so that an installation that ends at once still ends the loop.
    QMetaObject::invokeMethod(
        &app, [&args] { runInstall(&args); }, Qt::QueuedConnection);
    return app.exec();
}
