#pragma once

#include "workspace/VoiceMemoRecordings.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <optional>

class QWebEnginePage;

namespace velmora::platform {
class ApplicationLauncher;
class Bundle;
class FileRevealer;
class FolderPanel;
class SettingsOpener;
} // namespace velmora::platform

namespace velmora::access {
class FullDiskAccessAssistant;
}

namespace velmora::updates {
class UpdateController;
}

namespace velmora::workspace {

class BridgeEndpoint;

// The services the bridge's messages use; nullptr or nullopt means the real one. The update
// controller and the assistant are looked up when a message needs them, not before.
struct ScriptBridgeDependencies
{
    platform::FolderPanel *folderPanel = nullptr;
    platform::FileRevealer *fileRevealer = nullptr;
    platform::ApplicationLauncher *applicationLauncher = nullptr;
    platform::Bundle *bundle = nullptr;
    updates::UpdateController *updates = nullptr;
    access::FullDiskAccessAssistant *assistant = nullptr;
    // The desktop's settings, where recordings need no permission (Linux).
    platform::SettingsOpener *settingsOpener = nullptr;
    std::optional<RecordingPlaces> recordingPlaces;
};

// The page's only way to native features. The page's main frame gets
// window.webkit.messageHandlers.<name>.postMessage(body), which returns a promise settled by
// exactly one reply: the value, no value (a cancelled panel) or an Error with a Korean text.
//
// Transport: a page-world script, installed when each document of the main frame is created,
// gives the page that API and hands each message to the bridge's script in a world of its own;
// that script alone holds the web channel on which one narrow object (BridgeEndpoint) is
// published. Every message passes the gate first, against the page's URL as the engine
// reports it at that moment. The bridge also carries the settled values of scripts the
// application runs in the page (PageScripts).
class ScriptBridge : public QObject
{
    Q_OBJECT
public:
    using Dependencies = ScriptBridgeDependencies;

    // The script world of the bridge's own half; page scripts cannot reach it.
    static const quint32 worldId;
    // "revealTextFile" bodies and settled values are read up to this much JSON text.
    static constexpr int bodyLimit = 1 << 20;

    // page: the page whose main frame gets the bridge (its next document on); origin: the page
    // URL whose scheme, host and port a posting frame must have.
    ScriptBridge(QWebEnginePage *page, const QUrl &origin, Dependencies dependencies = {}, QObject *parent = nullptr);
    ~ScriptBridge() override;

    QUrl origin() const { return m_origin; }

    // The text save directory as the settings say now (see textSaveDirectory in BridgeRules),
    // or the home folder while that folder does not exist.
    static QString textSaveDirectory();
    // Where the model folder panel starts: the model folder chosen last, or the home folder.
    static QString modelFolderStart();

    // A script for the page's own world that runs body as the body of an asynchronous function
    // and reports the value it settles to through settled() under token. It evaluates to false
    // when the page has no bridge to report through.
    static QString asyncFunctionCall(const QString &token, const QString &body);

signals:
    // A script started with asyncFunctionCall() settled: ok false when it threw or was
    // rejected; value is what it resolved with (invalid for undefined or a value that has no
    // JSON form).
    void settled(const QString &token, bool ok, const QVariant &value);
    // A message's one reply, as the page receives it, when it is given.
    void messageAnswered(const QString &name, const QVariantMap &reply);

private:
    friend class BridgeEndpoint;
    class Reply;

    QVariantMap receive(const QString &id, const QString &name, const QString &body, bool fromAnotherFrame);
    void receiveSettlement(const QString &token, bool ok, const QString &value);
    void installScripts();

    void handle(const QString &name, const QString &body, const Reply &reply);
    void chooseFolder(bool saveMode, const Reply &reply);
    void revealTextFile(const QString &body, const Reply &reply);
    void openVoiceMemoPrivacy(const Reply &reply);

    updates::UpdateController &updateController() const;
    access::FullDiskAccessAssistant &accessAssistant() const;
    platform::SettingsOpener &settingsOpener() const;

    QPointer<QWebEnginePage> m_page;
    QUrl m_origin;
    platform::FolderPanel &m_folderPanel;
    platform::FileRevealer &m_fileRevealer;
    platform::ApplicationLauncher &m_applicationLauncher;
    platform::Bundle &m_bundle;
    updates::UpdateController *m_updates;
    access::FullDiskAccessAssistant *m_assistant;
    platform::SettingsOpener *m_settingsOpener;
    std::optional<RecordingPlaces> m_recordingPlaces;
    BridgeEndpoint *m_endpoint = nullptr;
};

} // namespace velmora::workspace
