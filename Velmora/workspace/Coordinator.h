#pragma once

#include "platform/UrlOpener.h"
#include "workspace/ScriptBridge.h"
#include "workspace/SettingsKeys.h"
#include "workspace/LinkActivations.h"
#include "workspace/WorkspaceView.h"

#include <QWebEnginePage>

class QWebEngineDownloadRequest;
class QWebEngineNewWindowRequest;
class QWebEngineProfile;

namespace velmora::workspace {

// The workspace page: keeps navigation on the page's own origin, sends clicked links to other
// sites to the default browser, never opens a second window, recognises downloads and refuses
// camera and microphone without asking.
class WorkspaceView::Coordinator : public QWebEnginePage
{
    Q_OBJECT
public:
    // origin: the page URL whose scheme, host and port every navigation and every bridge
    // message must match. bridge: the services of the page's script bridge.
    Coordinator(const QUrl &origin, platform::UrlOpener &opener, QWebEngineProfile *profile,
                QObject *parent = nullptr);
    Coordinator(const QUrl &origin, platform::UrlOpener &opener, QWebEngineProfile *profile,
                ScriptBridge::Dependencies bridge, QObject *parent = nullptr);
    ~Coordinator() override;

    // The reference of the origin test: the page URL as the view was made with it.
    QUrl origin() const { return m_origin; }
    // The user-defaults key of the text save directory.
    QString saveDirectoryKey() const { return textSaveDirectoryKey; }
    // True when u has the page's scheme, host and port.
    bool matchesOrigin(const QUrl &u) const;
    // The folder text files are saved in unless the user picks another one.
    QString textSaveDirectory() const { return ScriptBridge::textSaveDirectory(); }
    // Answers the page's script messages.
    ScriptBridge *scriptBridge() const { return m_bridge; }

signals:
    // A download of this page that the policy lets through. The request itself has been
    // cancelled; saving it is up to whoever listens.
    void downloadRecognised(const QUrl &url, const QString &suggestedFileName);
    // Every navigation and new-window request, once answered.
    void navigationDecided(const QUrl &url, bool allowed, bool openedExternally);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;

private:
    void answerNewWindowRequest(QWebEngineNewWindowRequest &request);
    void answerDownload(QWebEngineDownloadRequest *download);
    void answerPermission(const QUrl &securityOrigin, Feature feature);
    void installActivationScript();

    QUrl m_origin;
    platform::UrlOpener &m_opener;
    LinkActivations m_activations;
    ScriptBridge *m_bridge = nullptr;
};

} // namespace velmora::workspace
