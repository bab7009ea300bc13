#include "app/InstalledUpdate.h"

#include "backend/BackendController.h"
#include "platform/Bundle.h"
#include "platform/Relauncher.h"
#include "updates/BundleInfo.h"
#include "updates/FirstStartWatch.h"
#include "updates/Texts.h"
#include "updates/UpdateEngine.h"
#include "updates/UpdateInstaller.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <cstdio>

namespace velmora::app {
namespace {

// The bundle this Velmora runs from, when it is an installed one.
QString installedBundle()
{
    platform::Bundle &bundle = platform::Bundle::main();
    if (bundle.isDevelopmentBuild())
        return {};
    return bundle.bundleDirectory().value_or(QString());
}

} // namespace

QString recoverInstalledUpdate(const std::function<void()> &letGo)
{
    return recoverInstalledUpdate(letGo, installedBundle());
}

QString recoverInstalledUpdate(const std::function<void()> &letGo, const QString &bundle)
{
    if (bundle.isEmpty())
        return {};
    const updates::UpdateInstaller::LaunchRecovery recovery = updates::UpdateInstaller::recoverAtLaunch(bundle);
    if (recovery.restartBundle) {
        // The old version stands at the bundle's path again and reports the rollback itself.
        if (letGo)
            letGo();
        const QString error = platform::Relauncher::replaceProcess(bundle + QStringLiteral("/bin/velmora"),
                                                                   QCoreApplication::arguments().mid(1));
        std::fprintf(stderr, "velmora: the restored version could not be started: %s\n", qPrintable(error));
    }
    if (recovery.action == updates::RecoveryAction::ReportRolledBack)
        updates::UpdateEngine::passOverRolledBackVersion(recovery.journal.toVersion);
    return recovery.message;
}

std::optional<int> watchInstalledFirstStart(int argc, char **argv)
{
    if (argc == 2 && QLatin1String(argv[1]) == QLatin1String(updates::startCheckArgument))
        return std::nullopt;
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // The old version relaunching a new one watches it from here.
    if (const std::optional<int> status = updates::runWatchedRelaunch(arguments))
        return status;
    // No application object yet to ask: the program's own path, as the kernel knows it. A
    // development build's bundle (its build folder) never has an installation beside it.
    const QFileInfo program(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
    if (program.dir().dirName() != QLatin1String("bin"))
        return std::nullopt;
    return updates::watchFirstStart(QDir::cleanPath(program.absolutePath() + QStringLiteral("/..")), arguments);
}

void confirmInstalledUpdateWhenUp(QWidget &window, backend::BackendController &backend)
{
    const QString bundle = installedBundle();
    if (bundle.isEmpty())
        return;
    QPointer<QWidget> shown(&window);
    auto confirmOnce = std::make_shared<QMetaObject::Connection>();
    *confirmOnce = QObject::connect(&backend, &backend::BackendController::urlChanged, &window,
                                    [shown, &backend, bundle, confirmOnce] {
                                        if (!shown || !shown->isVisible() || backend.url().isEmpty())
                                            return;
                                        QObject::disconnect(*confirmOnce);
                                        updates::UpdateInstaller::confirm(bundle);
                                    });
}

bool isStartCheck(const QStringList &arguments)
{
    return arguments.size() == 2 && arguments.at(1) == QLatin1String(updates::startCheckArgument);
}

int answerStartCheck()
{
    // The bundle this program lies in, as it will find it once exchanged in.
    const std::optional<QString> bundle = platform::Bundle::main().bundleDirectory();
    QFile info(bundle.value_or(QString()) + QStringLiteral("/Info.json"));
    const QString version = bundle && info.open(QIODevice::ReadOnly) ? updates::parseBundleInfo(info.read(64 * 1024)).version
                                                                     : QString();
    if (QGuiApplication::platformName().isEmpty() || version.isEmpty()) {
        std::fprintf(stderr, "velmora: no platform plugin, or no version in the bundle's Info.json\n");
        return 1;
    }
    std::printf("%s%s\n", updates::startCheckAnswer, qPrintable(version));
    std::fflush(stdout);
    return 0;
}

void showInstalledUpdateMessage(QWidget &window, const QString &message)
{
    if (message.isEmpty())
        return;
    auto *box = new QMessageBox(QMessageBox::Information, updates::rolledBackTitle, message, QMessageBox::Ok, &window);
    box->setObjectName(QStringLiteral("velmora.rolledBackUpdate"));
    // The versions in the sentence came with the update.
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

} // namespace velmora::app
