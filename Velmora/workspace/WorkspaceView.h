#pragma once

#include "platform/UrlOpener.h"
#include "workspace/DownloadSaver.h"
#include "workspace/PageScripts.h"
#include "workspace/ScriptBridge.h"

#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <chrono>
#include <optional>

class QWebEngineView;

namespace velmora::platform {
class FilePanel;
}

namespace velmora::workspace {

// How long the first load may take before it is stopped; the engine's own failed-load page
// then stays.
inline constexpr std::chrono::milliseconds workspaceLoadTimeout{60'000};

// What a workspace view is made with besides its URL; the defaults are the real ones.
struct WorkspaceViewDependencies
{
    // Where clicked links to other sites go; nullptr = the system's default handler.
    platform::UrlOpener *opener = nullptr;
    std::chrono::milliseconds loadTimeout = workspaceLoadTimeout;
    // How long a script the backend runs in the page may take to settle.
    std::chrono::milliseconds pageScriptTimeout = PageScripts::defaultSettleTimeout;
    ScriptBridge::Dependencies bridge;
    DownloadSaver::Dependencies downloads;
    // The panel of the page's file inputs; nullptr = the real one.
    platform::FilePanel *filePanel = nullptr;
    // False: the view is made without requesting the page, which load() then does.
    bool loadAtOnce = true;
};

// Fills the main window with the backend's page: one embedded web view whose page is the
// Coordinator, which answers every question the engine asks. The page is requested once,
// when the view is made; a later change never reloads it.
class WorkspaceView : public QWidget
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds defaultLoadTimeout = workspaceLoadTimeout;

    // url: the page URL, and the origin every navigation is held to. opener: where clicked
    // links to other sites go.
    explicit WorkspaceView(const QUrl &url, platform::UrlOpener &opener = platform::UrlOpener::system(),
                           QWidget *parent = nullptr);
    WorkspaceView(const QUrl &url, platform::UrlOpener &opener, std::chrono::milliseconds loadTimeout,
                  QWidget *parent = nullptr);
    WorkspaceView(const QUrl &url, WorkspaceViewDependencies dependencies, QWidget *parent = nullptr);
    ~WorkspaceView() override;

    /// Starts the web engine and the workspace's profile, the longest step of making the
    /// first view, so that it can run before the view is needed. Later calls do nothing.
    static void prepareEngine();
    /// Makes a view for url ahead of time, without requesting the page: its page and render
    /// process are started, and load() requests the page when it is wanted.
    static WorkspaceView *prepare(const QUrl &url, platform::UrlOpener &opener = platform::UrlOpener::system(),
                                  QWidget *parent = nullptr);

    /// Requests the page, once; a view made to load at once has already done so.
    void load();
    /// Loads the page again after its render process ended (the user's retry).
    void reload();
    /// Whether the page has been requested.
    bool loadRequested() const { return m_loadRequested; }
    /// Whether the last load of the page finished, and finished ok.
    bool pageLoaded() const { return m_pageLoaded; }

    // The page URL the view was made with.
    QUrl url() const { return m_url; }
    QWebEngineView *webView() const { return m_webView; }

    class Coordinator; // the QWebEnginePage subclass, in WorkspaceViewCoordinator.h
    Coordinator *coordinator() const { return m_coordinator; }
    // The page as the backend supervisor reaches it.
    PageScripts *pageScripts() const { return m_pageScripts; }

signals:
    /// The page's render process ended abnormally again soon after it was loaded anew: the
    /// view stays blank until reload().
    void pageFailed();
    /// A load of the page has finished (ok) or failed.
    void loadFinished(bool ok);

private:
    void renderProcessEnded(bool abnormal);

    QUrl m_url;
    QWebEngineView *m_webView = nullptr;
    Coordinator *m_coordinator = nullptr;
    PageScripts *m_pageScripts = nullptr;
    QTimer m_loadTimer;
    bool m_loadRequested = false;
    bool m_pageLoaded = false;
    // When the page was last loaded again after its render process ended.
    std::optional<std::chrono::steady_clock::time_point> m_lastRecovery;
};

} // namespace velmora::workspace
