#include "workspace/WorkspaceView.h"

#include "backend/BackendController.h"
#include "workspace/PageRecovery.h"
#include "workspace/PageScripts.h"
#include "workspace/WorkspaceContextMenu.h"
#include "workspace/WorkspaceViewCoordinator.h"

#include <QCoreApplication>
#include <QPointer>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace velmora::workspace {

namespace {

// The page's storage (local storage, cookies, cache) persists across launches under the
// application's data folder, as a browser's default profile does. One profile for the whole
// process: the engine allows one profile per storage folder. It belongs to the application
// object, which outlives every view and so every page.
QWebEngineProfile *workspaceProfile()
{
    static QPointer<QWebEngineProfile> profile;
    if (!profile)
        profile = new QWebEngineProfile(QStringLiteral("Workspace"), QCoreApplication::instance());
    return profile;
}

} // namespace

WorkspaceView::WorkspaceView(const QUrl &url, platform::UrlOpener &opener, QWidget *parent)
    : WorkspaceView(url, opener, defaultLoadTimeout, parent)
{}

namespace {

WorkspaceViewDependencies withOpener(platform::UrlOpener &opener, std::chrono::milliseconds loadTimeout)
{
    WorkspaceViewDependencies dependencies;
    dependencies.opener = &opener;
    dependencies.loadTimeout = loadTimeout;
    return dependencies;
}

} // namespace

WorkspaceView::WorkspaceView(const QUrl &url, platform::UrlOpener &opener, std::chrono::milliseconds loadTimeout,
                             QWidget *parent)
    : WorkspaceView(url, withOpener(opener, loadTimeout), parent)
{}

WorkspaceView::WorkspaceView(const QUrl &url, WorkspaceViewDependencies dependencies, QWidget *parent)
    : QWidget(parent)
    , m_url(url)
{
    platform::UrlOpener &opener = dependencies.opener ? *dependencies.opener : platform::UrlOpener::system();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_webView = new QWebEngineView(this);
    // The page is the web view's child, so it goes before the profile does.
    m_coordinator = new Coordinator(m_url, opener, workspaceProfile(), std::move(dependencies.bridge),
                                    std::move(dependencies.downloads), dependencies.filePanel, m_webView);
    m_webView->setPage(m_coordinator);
    new WorkspaceContextMenu(m_webView);
    layout->addWidget(m_webView);

    m_loadTimer.setSingleShot(true);
    m_loadTimer.setInterval(dependencies.loadTimeout);
    connect(&m_loadTimer, &QTimer::timeout, m_webView, &QWebEngineView::stop);
    connect(m_coordinator, &QWebEnginePage::loadFinished, &m_loadTimer, &QTimer::stop);
    connect(m_coordinator, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        m_pageLoaded = ok;
        emit loadFinished(ok);
    });
    m_pageScripts = new PageScripts(m_coordinator, m_coordinator->scriptBridge(), dependencies.pageScriptTimeout, this);
    connect(m_coordinator, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                renderProcessEnded(status != QWebEnginePage::NormalTerminationStatus);
            });
    if (dependencies.loadAtOnce)
        load();
}

void WorkspaceView::prepareEngine()
{
    workspaceProfile();
}

WorkspaceView *WorkspaceView::prepare(const QUrl &url, platform::UrlOpener &opener, QWidget *parent)
{
    WorkspaceViewDependencies dependencies;
    dependencies.opener = &opener;
    dependencies.loadAtOnce = false;
    auto *view = new WorkspaceView(url, std::move(dependencies), parent);
    // The engine makes the page's contents and starts its render process on the first thing
    // that needs them; an empty script in the initial blank document is such a thing, and
    // later serves the page, whose site that process has not been given yet.
    view->m_coordinator->runJavaScript(QStringLiteral("undefined"));
    return view;
}

void WorkspaceView::load()
{
    if (m_loadRequested)
        return;
    m_loadRequested = true;
    m_loadTimer.start();
    m_coordinator->load(m_url);
    // Held weakly there: it reads as empty once this view is gone.
    backend::BackendController::shared().setWebView(m_pageScripts);
}

void WorkspaceView::reload()
{
    m_lastRecovery = std::chrono::steady_clock::now();
    m_loadRequested = true;
    m_loadTimer.start();
    m_coordinator->load(m_url);
}

void WorkspaceView::renderProcessEnded(bool abnormal)
{
    switch (
        decidePageRecovery(abnormal, QCoreApplication::closingDown(), m_lastRecovery, std::chrono::steady_clock::now())) {
    case PageRecovery::Nothing:
        return;
    case PageRecovery::Reload:
        // The engine starts a new render process for the load.
        reload();
        return;
    case PageRecovery::ShowFailure:
        emit pageFailed();
        return;
    }
}

WorkspaceView::~WorkspaceView() = default;

} // namespace velmora::workspace
