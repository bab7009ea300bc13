#include "workspace/WorkspaceViewCoordinator.h"

#include "platform/RandomToken.h"
#include "workspace/FileInputPanel.h"
#include "workspace/NavigationPolicy.h"
#include "workspace/WorkspaceResources.h"

#include <QFile>
#include <QWebEngineDownloadRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace velmora::workspace {

WorkspaceView::Coordinator::Coordinator(const QUrl &origin, platform::UrlOpener &opener, QWebEngineProfile *profile,
                                        QObject *parent)
    : Coordinator(origin, opener, profile, ScriptBridge::Dependencies{}, DownloadSaver::Dependencies{}, nullptr, parent)
{}

WorkspaceView::Coordinator::Coordinator(const QUrl &origin, platform::UrlOpener &opener, QWebEngineProfile *profile,
                                        ScriptBridge::Dependencies bridge, DownloadSaver::Dependencies downloads,
                                        platform::FilePanel *filePanel, QObject *parent)
    : QWebEnginePage(profile, parent)
    , m_origin(origin)
    , m_opener(opener)
    , m_activations(PageActivations::Kind::LinkClick, platform::randomToken())
{
    installActivationScript();
    m_bridge = new ScriptBridge(this, m_origin, std::move(bridge), this);
    m_downloads = new DownloadSaver(this, std::move(downloads), this);
    m_fileInputs = new FileInputPanel(this, m_origin, m_activations.token(), filePanel, this);
    connect(this, &QWebEnginePage::newWindowRequested, this, &Coordinator::answerNewWindowRequest);
    connect(this, &QWebEnginePage::featurePermissionRequested, this, &Coordinator::answerPermission);
    // Downloads are announced by the profile, which other pages may share.
    connect(profile, &QWebEngineProfile::downloadRequested, this, [this](QWebEngineDownloadRequest *download) {
        if (download->page() == this)
            answerDownload(download);
    });
}

WorkspaceView::Coordinator::~Coordinator() = default;

bool WorkspaceView::Coordinator::matchesOrigin(const QUrl &u) const
{
    return workspace::matchesOrigin(m_origin, u);
}

void WorkspaceView::Coordinator::installActivationScript()
{
    initWorkspaceResources();
    QFile file(QStringLiteral(":/velmora/workspace/link-activation.js"));
    if (!file.open(QIODevice::ReadOnly)) {
        // Without it no link counts as clicked: links to other sites then open nothing.
        qWarning("workspace: link activation script missing");
        return;
    }
    QWebEngineScript script;
    script.setName(QStringLiteral("velmora-link-activation"));
    script.setSourceCode(PageActivations::scriptSource(QString::fromUtf8(file.readAll()), m_activations.token()));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(true);
    scripts().insert(script);
}

bool WorkspaceView::Coordinator::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    Q_UNUSED(isMainFrame); // every frame is held to the same origin
    const bool linkActivated = type == NavigationTypeLinkClicked
                               && m_activations.consume(url, PageActivations::Clock::now());
    const NavigationDecision decision = decideNavigation(m_origin, {url, linkActivated, false});
    const bool opened = decision.openExternally && m_opener.openUrl(url);
    // The engine turns a download-attribute link into a download before asking here, so an
    // allowed navigation is simply let through.
    const bool allowed = decision.policy != NavigationActionPolicy::Cancel;
    emit navigationDecided(url, allowed, opened);
    return allowed;
}

QWebEnginePage *WorkspaceView::Coordinator::createWindow(WebWindowType type)
{
    Q_UNUSED(type);
    return nullptr;
}

void WorkspaceView::Coordinator::answerNewWindowRequest(QWebEngineNewWindowRequest &request)
{
    // target=_blank and window.open: the same rule as any navigation, and never a second
    // window. The request is left unanswered, so the engine drops the new page.
    const QUrl url = request.requestedUrl();
    const bool linkActivated = request.isUserInitiated() && m_activations.consume(url, PageActivations::Clock::now());
    const NavigationDecision decision = decideNavigation(m_origin, {url, linkActivated, false});
    const bool opened = decision.openExternally && m_opener.openUrl(url);
    emit navigationDecided(url, false, opened);
}

void WorkspaceView::Coordinator::answerDownload(QWebEngineDownloadRequest *download)
{
    const QUrl url = download->url();
    const NavigationDecision decision = decideNavigation(m_origin, {url, false, true});
    if (decision.policy != NavigationActionPolicy::Download) {
        // Not accepting here would cancel it too; saying so keeps the request's state plain.
        download->cancel();
        return;
    }
    emit downloadRecognised(url, download->suggestedFileName());
    m_downloads->take(download);
}

QStringList WorkspaceView::Coordinator::chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                                                    const QStringList &acceptedMimeTypes)
{
    // The input's own accepted types are not consulted: it gets audio and video files only.
    Q_UNUSED(oldFiles);
    Q_UNUSED(acceptedMimeTypes);
    return m_fileInputs->chooseFiles(mode == FileSelectOpenMultiple,
                                     mode == FileSelectOpen || mode == FileSelectOpenMultiple);
}

void WorkspaceView::Coordinator::answerPermission(const QUrl &securityOrigin, Feature feature)
{
    // Camera and microphone are refused at once, for every origin and frame. The engine has no
    // answer of its own for the other features (the page would wait forever), so they are
    // refused the same way.
    setFeaturePermission(securityOrigin, feature, PermissionDeniedByUser);
}

void WorkspaceView::Coordinator::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                                          int lineNumber, const QString &sourceID)
{
    if (m_activations.takeMessage(message, PageActivations::Clock::now()) || m_fileInputs->takeMessage(message))
        return;
    QWebEnginePage::javaScriptConsoleMessage(level, message, lineNumber, sourceID);
}

} // namespace velmora::workspace
