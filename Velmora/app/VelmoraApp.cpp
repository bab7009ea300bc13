#include "app/VelmoraApp.h"

#include "access/FullDiskAccessAssistant.h"
#include "access/FullDiskAccessGate.h"
#include "app/AboutBox.h"
#include "app/AppDelegate.h"
#include "app/BackendActivity.h"
#include "app/EarlyStart.h"
#include "app/InstalledUpdate.h"
#include "app/MainWindow.h"
#include "app/Screenshot.h"
#include "app/StartupTrace.h"
#include "app/Texts.h"
#include "backend/BackendController.h"
#include "platform/ApplicationIcon.h"
#include "platform/BuildInfo.h"
#include "platform/Bundle.h"
#include "platform/ProcessInfo.h"
#include "platform/SingleInstance.h"
#include "platform/TrayIcon.h"
#include "platform/UrlOpener.h"
#include "updates/UpdateController.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QLocale>
#include <QScopeGuard>
#include <QTimer>
#include <QTranslator>
#include <QWidget>

#include <chrono>
#include <cstdio>

namespace velmora::app {

namespace {

// Where a running Velmora can be found by the next launch: files named after the application
// in the user's runtime folder.
const QString &instanceName()
{
    return platform::applicationId;
}

} // namespace

VelmoraApp::VelmoraApp(Dependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_backend(dependencies.backend ? dependencies.backend : &backend::BackendController::shared())
    , m_updates(dependencies.updates ? dependencies.updates : &updates::UpdateController::shared())
    , m_fileAccess(dependencies.fileAccess ? std::move(dependencies.fileAccess)
                                           : std::make_unique<access::FullDiskAccessGate>())
    , m_assistant(dependencies.assistant)
    , m_sharedAssistant(dependencies.assistant == nullptr)
    , m_activeWork(std::move(dependencies.activeWork))
    , m_quit(dependencies.quit ? std::move(dependencies.quit) : std::function<void()>([] { QCoreApplication::quit(); }))
    , m_opener(dependencies.opener ? dependencies.opener : &platform::UrlOpener::system())
    , m_makeWorkspace(std::move(dependencies.makeWorkspace))
{
    // The application's objects meet here; the window's are wired in openWindow().
    if (!m_activeWork)
        m_activeWork = [backend = m_backend] { return activeWork(*backend); };
    // An installed update relaunches the application only once the backend and its page have
    // wound down.
    m_updates->setPrepareForUpdate(
        [backend = m_backend](platform::CancelToken token) { return backend->prepareForUpdate(token); });
}

namespace {

VelmoraAppDependencies withShellObjects(backend::BackendController &backend,
                                        std::unique_ptr<access::FullDiskAccessGate> fileAccess,
                                        access::FullDiskAccessAssistant *assistant)
{
    VelmoraAppDependencies dependencies;
    dependencies.backend = &backend;
    dependencies.fileAccess = std::move(fileAccess);
    dependencies.assistant = assistant;
    return dependencies;
}

} // namespace

VelmoraApp::VelmoraApp(backend::BackendController &backend, std::unique_ptr<access::FullDiskAccessGate> fileAccess,
                       access::FullDiskAccessAssistant *assistant, QObject *parent)
    : VelmoraApp(withShellObjects(backend, std::move(fileAccess), assistant), parent)
{}

VelmoraApp::VelmoraApp() : VelmoraApp(Dependencies{}) {}

VelmoraApp::~VelmoraApp()
{
    // The window's views use the gate and the controllers: they go first.
    delete m_aboutBox.data();
    m_window.reset();
}

void VelmoraApp::describeApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Velmora"));
    // The organisation in the reverse-domain form of the desktop entry's name. Velmora's own
    // files go to Qt's places for it: settings to ~/.config/app.velmora/Velmora.conf, the web
    // view's storage and cache to ~/.local/share/app.velmora/Velmora and
    // ~/.cache/app.velmora/Velmora, all apart from the backend's runtime folder
    // (~/.local/share/Velmora).
    QCoreApplication::setOrganizationName(QStringLiteral("app.velmora"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("velmora.app"));
    QCoreApplication::setApplicationVersion(platform::buildSettings().version);
    // Velmora speaks Korean whatever the system's language: the desktop panels and message
    // boxes that Qt draws take Qt's Korean translations, and the web engine, which reads the
    // default locale when it starts, labels its own controls (file inputs, form validation)
    // and asks the backend for Korean pages.
    QLocale::setDefault(QLocale(QLocale::Korean, QLocale::SouthKorea));
    auto *qtTexts = new QTranslator(QCoreApplication::instance());
    if (qtTexts->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    // Wayland desktops match windows to the desktop entry by this name (X11 ones by the window
    // class, "Velmora", which the entry names as StartupWMClass).
    QGuiApplication::setDesktopFileName(platform::applicationId);
    QApplication::setWindowIcon(platform::applicationIcon(platform::Bundle::main().bundleDirectory().value_or(QString())));
}

void VelmoraApp::takeEarlyStart(EarlyStart early)
{
    m_instance = std::move(early.instance);
    if (m_backend)
        m_backend->takeOverLaunch(std::move(early.launch));
}

int VelmoraApp::run()
{
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
                                              QStringLiteral("Write a picture of the window to <file> once the page "
                                                             "has loaded (or the start failed, or access is missing), "
                                                             "then quit."),
                                              QStringLiteral("file"));
    parser.addOption(screenshotOption);
    parser.process(*QCoreApplication::instance());
    const QString screenshotPath = parser.value(screenshotOption);
    // A run for a picture is a tool's run: it takes no part in the single instance, starts no
    // update check and keeps no window placement, so that each picture is made the same way.
    const bool forPicture = !screenshotPath.isEmpty();

    if (!forPicture) {
        // One Velmora per user. An instance relaunched by its predecessor (the access screen's
        // restart, an installed update) waits for it to go rather than handing it anything.
        // The early start may hold its lock already; claiming it then only listens.
        if (!m_instance)
            m_instance = std::make_unique<platform::SingleInstance>(platform::SingleInstance::runtimeFolder(),
                                                                    instanceName());
        switch (m_instance->claim(platform::relaunchedFrom(platform::ProcessInfo::current().environment()))) {
        case platform::SingleInstance::Claim::Running:
            break;
        case platform::SingleInstance::Claim::HandedOver:
            return 0;
        case platform::SingleInstance::Claim::NotAnswered:
            std::fprintf(stderr, "velmora: Velmora is already running but does not answer (%s)\n",
                         qPrintable(m_instance->errorString()));
            return 1;
        case platform::SingleInstance::Claim::Unavailable:
            std::fprintf(stderr, "velmora: cannot tell whether Velmora is already running (%s); starting anyway\n",
                         qPrintable(m_instance->errorString()));
            m_instance.reset();
            break;
        }
    }

    // Before the backend, once this process is the one instance: an update an earlier run
    // installed is counted, finished or undone. (A second launch that handed over must not
    // count as a start of the new version.)
    QString updateMessage;
    if (!forPicture)
        updateMessage = recoverInstalledUpdate([this] { m_instance.reset(); });

    // Before anything can launch the backend: from here on every end of Velmora stops it.
    m_delegate = std::make_unique<AppDelegate>(*QCoreApplication::instance(), *m_backend, *m_updates, m_quit);
    if (m_instance)
        connect(m_instance.get(), &platform::SingleInstance::reopenRequested, m_delegate.get(), &AppDelegate::reopen);

    MainWindow &window = openWindow(!forPicture);
    if (forPicture) {
        takeScreenshotWhenSettled(window, *m_rootView, screenshotPath);
    } else {
        m_tray = std::make_unique<platform::TrayIcon>(QGuiApplication::windowIcon(), productName, openTitle, quitTitle);
        m_delegate->showTrayWhileHidden(m_tray.get(), &window);
        connect(qApp, &QCoreApplication::aboutToQuit, &window, &MainWindow::savePlacement);
        QTimer::singleShot(0, m_delegate.get(), &AppDelegate::applicationDidFinishLaunching);
        // A newly installed version stays once its window and its backend are up.
        confirmInstalledUpdateWhenUp(window, *m_backend);
    }

    // Showing the root view runs the startup sequence; it opens on the access check.
    window.show();
    showInstalledUpdateMessage(window, updateMessage);
    const int status = QCoreApplication::exec();
    settleCancelledStart();
    return status;
}

void VelmoraApp::settleCancelledStart()
{
    m_ended = true;
    // Each cancelled wait resumes within a few turns of the loop, and the access check is a
    // file look-up; the bound only keeps a misbehaving step from holding up the end of the
    // process.
    constexpr auto patience = std::chrono::seconds(2);
    if (startSettled())
        return;
    QEventLoop loop;
    m_settling = &loop;
    if (m_backend)
        connect(m_backend, &backend::BackendController::startingChanged, &loop, [this] { quitSettlingWhenSettled(); });
    QTimer::singleShot(patience, &loop, &QEventLoop::quit);
    loop.exec();
}

bool VelmoraApp::startSettled() const
{
    return m_startsInFlight == 0 && (!m_backend || !m_backend->starting());
}

void VelmoraApp::quitSettlingWhenSettled()
{
    if (m_settling && startSettled())
        m_settling->quit();
}

MainWindow &VelmoraApp::openWindow(bool keepPlacement)
{
    if (m_window)
        return *m_window;
    m_window = std::make_unique<MainWindow>();
    // Before the root view connects to the backend, so url-set is marked before the web view
    // is made.
    StartupTrace::watch(*m_window, *m_backend);
    m_rootView = new RootView(*this, *m_opener, m_makeWorkspace);
    m_window->setContent(m_rootView, new window::WindowLifecycleView(m_activeWork, m_quit));
    if (keepPlacement)
        m_window->restorePlacement();

    connect(m_window->aboutAction(), &QAction::triggered, this, &VelmoraApp::showAbout);
    connect(m_window->checkForUpdatesAction(), &QAction::triggered, this, &VelmoraApp::checkForUpdates);
    connect(m_window->quitAction(), &QAction::triggered, this, &VelmoraApp::quit);
    return *m_window;
}

void VelmoraApp::showAbout()
{
    if (!m_aboutBox)
        m_aboutBox = new AboutBox(platform::applicationIcon(platform::Bundle::main().bundleDirectory().value_or(QString())),
                                  platform::buildSettings().version, m_window.get());
    m_aboutBox->show();
    m_aboutBox->raise();
    m_aboutBox->activateWindow();
}

void VelmoraApp::checkForUpdates()
{
    if (!m_updates)
        return;
    m_updates->start();
    m_updates->showUpdateWindow();
    m_updates->refreshUpdateInformation();
}

void VelmoraApp::quit()
{
    m_quit();
}

access::FullDiskAccessAssistant &VelmoraApp::assistant() const
{
    // The shared assistant is made on its first use, not with the application.
    if (m_sharedAssistant || !m_assistant)
        return access::FullDiskAccessAssistant::shared();
    return *m_assistant;
}

QCoro::Task<> VelmoraApp::startAfterPermission(platform::CancelToken token)
{
    QPointer<VelmoraApp> self(this);
    ++m_startsInFlight;
    // Counted until this run's frame ends, however it ends.
    const auto counted = qScopeGuard([self] {
        if (!self)
            return;
        --self->m_startsInFlight;
        self->quitSettlingWhenSettled();
    });
    const bool granted = co_await m_fileAccess->check();
    // Without access the access screen stays; the next activation or recheck comes back here.
    // Once Velmora has quit, nothing more starts.
    if (!self || !granted || token.isCancelled() || m_ended)
        co_return;

    // Access came while the assistant was up: closing it runs its completion (the recheck),
    // whose second run of this sequence finds the backend already starting.
    auto &guide = assistant();
    if (QWidget *panel = guide.window(); panel && panel->isVisible())
        guide.close();

    if (!self || !m_backend)
        co_return;
    co_await m_backend->start(token);
}

void VelmoraApp::runStartupSequence()
{
    platform::detach(startAfterPermission());
}

void VelmoraApp::applicationBecameActive()
{
    // A check in flight belongs to a run that will act on its answer, which a second run would
    // only share. Showing the window at launch makes the application active during the
    // appearance task's check, and a second run would then retry a start that failed at once.
    if (m_fileAccess->isReady() || m_fileAccess->isChecking())
        return;
    runStartupSequence();
}

void VelmoraApp::retryBackendStart()
{
    if (m_backend)
        platform::detach(m_backend->start());
}

void VelmoraApp::startBackendOnAnotherPort()
{
    if (m_backend)
        platform::detach(m_backend->startOnAnotherPort());
}

} // namespace velmora::app
