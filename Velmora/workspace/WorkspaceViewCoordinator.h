#pragma once

#include "platform/UrlOpener.h"
#include "workspace/DownloadSaver.h"
#include "workspace/PageActivations.h"
#include "workspace/ScriptBridge.h"
#include "workspace/SettingsKeys.h"
#include "workspace/WorkspaceView.h"

#include <QWebEnginePage>

class QWebEngineDownloadRequest;
class QWebEngineNewWindowRequest;
class QWebEngineProfile;

namespace velmora::platform {
class FilePanel;
}

namespace velmora::workspace {

class FileInputPanel;

// The workspace page: keeps navigation on the page's own origin, sends clicked links to other
// sites to the default browser, never opens a second window, saves the page's downloads where
// the user chooses, gives the main frame's file inputs audio and video files, and refuses
// camera and microphone without asking.
class WorkspaceView::Coordinator : public QWebEnginePage
{
    Q_OBJECT
public:
    // origin: the page URL whose scheme, host and port every navigation and every bridge
    // message must match. bridge: the services of the page's script bridge; downloads and
    // filePanel: what saving downloads and serving file inputs use (nullptr: the real panel).
    Coordinator(const QUrl &origin, platform::UrlOpener &opener, QWebEngineProfile *profile, QObject *parent = nullptr);
    Coordinator(const QUrl &origin, platform::UrlOpener &opener, QWebEngineProfile *profile,
                ScriptBridge::Dependencies bridge, DownloadSaver::Dependencies downloads = {},
                platform::FilePanel *filePanel = nullptr, QObject *parent = nullptr);
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
    // Saves the page's downloads.
    DownloadSaver *downloadSaver() const { return m_downloads; }
    // Serves the page's file inputs.
    FileInputPanel *fileInputPanel() const { return m_fileInputs; }

signals:
    // A download of this page that the policy lets through, handed to the download saver.
    void downloadRecognised(const QUrl &url, const QString &suggestedFileName);
    // Every navigation and new-window request, once answered.
    void navigationDecided(const QUrl &url, bool allowed, bool openedExternally);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                            const QStringList &acceptedMimeTypes) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;

private:
    void answerNewWindowRequest(QWebEngineNewWindowRequest &request);
    void answerDownload(QWebEngineDownloadRequest *download);
    void answerPermission(const QUrl &securityOrigin, Feature feature);
    void installActivationScript();

    QUrl m_origin;
    platform::UrlOpener &m_opener;
    PageActivations m_activations;
    ScriptBridge *m_bridge = nullptr;
    DownloadSaver *m_downloads = nullptr;
    FileInputPanel *m_fileInputs = nullptr;
};

} // namespace velmora::workspace
