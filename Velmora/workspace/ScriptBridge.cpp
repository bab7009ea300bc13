#include "workspace/ScriptBridge.h"

#include "access/FullDiskAccessAssistant.h"
#include "platform/ApplicationLauncher.h"
#include "platform/Bundle.h"
#include "platform/FileRevealer.h"
#include "platform/FileSystem.h"
#include "platform/FolderPanel.h"
#include "platform/SettingsOpener.h"
#include "updates/UpdateController.h"
#include "workspace/BridgeEndpoint.h"
#include "workspace/BridgeRules.h"
#include "workspace/SettingsKeys.h"
#include "workspace/Texts.h"
#include "workspace/WorkspaceResources.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QStandardPaths>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <memory>
#include <utility>

namespace velmora::workspace {

namespace {

const QString endpointName = QStringLiteral("velmoraBridge");
// The page-world function behind asyncFunctionCall(); the page cannot replace it.
const QString runAsyncName = QStringLiteral("__velmoraRunAsync");

QString resourceText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("workspace: bridge resource %s missing", qPrintable(path));
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

} // namespace

const quint32 ScriptBridge::worldId = QWebEngineScript::UserWorld;

// One message's answer, given exactly once: a second answer is ignored, and a message whose
// every handle is dropped unanswered (a handler that forgot, a panel destroyed with the
// application) is answered with no value.
class ScriptBridge::Reply
{
public:
    using Send = std::function<void(const BridgeReply &)>;

    explicit Reply(Send send) : m_state(std::make_shared<State>(std::move(send))) {}
    void operator()(const BridgeReply &reply) const { m_state->answer(reply); }

private:
    struct State
    {
        explicit State(Send s) : send(std::move(s)) {}
        ~State() { answer(BridgeReply::noValue()); }
        void answer(const BridgeReply &reply)
        {
            if (!std::exchange(answered, true))
                send(reply);
        }
        Send send;
        bool answered = false;
    };
    std::shared_ptr<State> m_state;
};

ScriptBridge::ScriptBridge(QWebEnginePage *page, const QUrl &origin, Dependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_page(page)
    , m_origin(origin)
    , m_folderPanel(dependencies.folderPanel ? *dependencies.folderPanel : platform::FolderPanel::system())
    , m_fileRevealer(dependencies.fileRevealer ? *dependencies.fileRevealer : platform::FileRevealer::system())
    , m_applicationLauncher(dependencies.applicationLauncher ? *dependencies.applicationLauncher
                                                             : platform::ApplicationLauncher::system())
    , m_bundle(dependencies.bundle ? *dependencies.bundle : platform::Bundle::main())
    , m_updates(dependencies.updates)
    , m_assistant(dependencies.assistant)
    , m_settingsOpener(dependencies.settingsOpener)
    , m_recordingPlaces(std::move(dependencies.recordingPlaces))
    , m_endpoint(new BridgeEndpoint(*this))
{
    if (m_page)
        installScripts();
}

ScriptBridge::~ScriptBridge() = default;

void ScriptBridge::installScripts()
{
    initWorkspaceResources();
    const QString channel = resourceText(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    const QString world = resourceText(QStringLiteral(":/velmora/workspace/bridge-world.js"));
    QString pageHalf = resourceText(QStringLiteral(":/velmora/workspace/bridge-page.js"));
    QString frameStandIn = resourceText(QStringLiteral(":/velmora/workspace/bridge-frame.js"));
    if (channel.isEmpty() || world.isEmpty() || pageHalf.isEmpty() || frameStandIn.isEmpty())
        return;
    // The refusal is a plain sentence: no quote or backslash to escape.
    frameStandIn.replace(QStringLiteral("@VELMORA_REFUSAL@"), bridgeRefusedMessage);
    pageHalf.replace(QStringLiteral("@VELMORA_RUN_ASYNC@"), runAsyncName)
        .replace(QStringLiteral("@VELMORA_BODY_LIMIT@"), QString::number(bodyLimit));

    const auto insert = [this](const QString &name, const QString &source, quint32 world, bool subFrames) {
        QWebEngineScript script;
        script.setName(name);
        script.setSourceCode(source);
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(world);
        script.setRunsOnSubFrames(subFrames);
        m_page->scripts().insert(script);
    };
    // The bridge's own half goes in first: when both are created with the document, it is
    // listening by the time the page half offers its end.
    insert(QStringLiteral("velmora-bridge-world"), channel + QLatin1Char('\n') + world, worldId, false);
    insert(QStringLiteral("velmora-bridge-page"), pageHalf, QWebEngineScript::MainWorld, false);
    insert(QStringLiteral("velmora-bridge-frame"), frameStandIn, QWebEngineScript::MainWorld, true);

    auto *webChannel = new QWebChannel(this);
    webChannel->registerObject(endpointName, m_endpoint);
    m_page->setWebChannel(webChannel, worldId);
}

QString ScriptBridge::textSaveDirectory()
{
    const QString folder = workspace::textSaveDirectory(
        QSettings().value(textSaveDirectoryKey),
        QStandardPaths::standardLocations(QStandardPaths::DownloadLocation).value(0), QDir::homePath());
    return presentFolder(folder, QFileInfo(folder).isDir(), QDir::homePath());
}

QString ScriptBridge::modelFolderStart()
{
    const QString folder = QSettings().value(modelFolderKey).toString();
    return presentFolder(folder, QFileInfo(folder).isDir(), QDir::homePath());
}

QString ScriptBridge::asyncFunctionCall(const QString &token, const QString &body)
{
    // The body stands on lines of its own, so a comment on its last line ends there.
    return QStringLiteral("(function () {\n"
                          "  const run = window['%1'];\n"
                          "  if (typeof run !== 'function')\n"
                          "    return false;\n"
                          "  run('%2', async function () {\n%3\n});\n"
                          "  return true;\n"
                          "})()")
        .arg(runAsyncName, token, body);
}

QVariantMap ScriptBridge::receive(const QString &id, const QString &name, const QString &body, bool fromAnotherFrame)
{
    // A reply given while the message is being received is the call's result; a later one
    // travels on its own.
    struct Route
    {
        bool receiving = true;
        std::optional<QVariantMap> immediate;
    };
    auto route = std::make_shared<Route>();
    {
        QPointer<ScriptBridge> self(this);
        QPointer<BridgeEndpoint> endpoint = m_endpoint;
        const Reply reply([route, self, endpoint, id, name](const BridgeReply &answer) {
            const QVariantMap message = answer.toMessage();
            if (route->receiving)
                route->immediate = message;
            else if (endpoint)
                emit endpoint->replied(id, message);
            if (self)
                emit self->messageAnswered(name, message);
        });
        const QUrl frameUrl = m_page ? m_page->url() : QUrl();
        if (gateAdmits(m_origin, name, !fromAnotherFrame, frameUrl))
            handle(name, body, reply);
        else
            reply(BridgeReply::failure(bridgeRefusedMessage));
    }
    route->receiving = false;
    if (route->immediate)
        return *route->immediate;
    return {{QStringLiteral("pending"), true}};
}

void ScriptBridge::receiveSettlement(const QString &token, bool ok, const QString &value)
{
    QVariant settledValue;
    if (ok) {
        const QJsonValue parsed = parseBody(value);
        if (!parsed.isUndefined())
            settledValue = parsed.toVariant();
    }
    emit settled(token, ok, settledValue);
}

void ScriptBridge::handle(const QString &name, const QString &body, const Reply &reply)
{
    if (name == QLatin1String("chooseModelFolder")) {
        chooseFolder(false, reply);
    } else if (name == QLatin1String("chooseSaveLocation")) {
        chooseFolder(true, reply);
    } else if (name == QLatin1String("getSaveLocation")) {
        reply(BridgeReply::withValue(folderReply(textSaveDirectory())));
    } else if (name == QLatin1String("revealTextFile")) {
        revealTextFile(body, reply);
    } else if (name == QLatin1String("getAppInfo")) {
        const QVariant version = m_bundle.infoValue(platform::bundleKey::shortVersion);
        reply(BridgeReply::withValue(appInfoReply(version, updateController().canCheckForUpdates())));
    } else if (name == QLatin1String("checkForUpdates")) {
        updates::UpdateController &controller = updateController();
        controller.start();
        controller.showUpdateWindow();
        controller.refreshUpdateInformation();
        reply(BridgeReply::withValue(true));
    } else if (name == QLatin1String("openVoiceMemos")) {
        for (const QString &id : soundRecorderApplicationIds) {
            if (m_applicationLauncher.openApplication(id)) {
                reply(BridgeReply::withValue(true));
                return;
            }
        }
        reply(BridgeReply::failure(voiceMemosMissingMessage));
    } else if (name == QLatin1String("requestVoiceMemosAccess")) {
        probeVoiceMemoAccess(m_recordingPlaces.value_or(RecordingPlaces::current()), this,
                             [reply](bool readable) { reply(BridgeReply::withValue(readable)); });
    } else if (name == QLatin1String("openVoiceMemoPrivacy")) {
        openVoiceMemoPrivacy(reply);
    }
}

void ScriptBridge::chooseFolder(bool saveMode, const Reply &reply)
{
    platform::FolderPanelRequest request;
    request.title = saveMode ? saveFolderPanelTitle : modelFolderPanelTitle;
    request.message = saveMode ? saveFolderPanelMessage : modelFolderPanelMessage;
    request.prompt = folderPanelPrompt;
    request.startFolder = saveMode ? textSaveDirectory() : modelFolderStart();
    request.canCreateFolders = saveMode;
    // A panel that ends after its page has gone changes nothing and answers no one.
    QPointer<ScriptBridge> self(this);
    m_folderPanel.chooseFolder(request, [self, reply, saveMode](std::optional<QString> folder) {
        if (!self)
            return;
        if (!folder) {
            reply(BridgeReply::noValue());
        } else if (!saveMode) {
            QSettings().setValue(modelFolderKey, *folder);
            reply(BridgeReply::withValue(*folder));
        } else if (!platform::isWritable(*folder)) {
            reply(BridgeReply::failure(saveFolderNotWritableMessage));
        } else {
            const QVariantMap chosen = folderReply(*folder);
            QSettings().setValue(textSaveDirectoryKey, chosen.value(QStringLiteral("path")));
            reply(BridgeReply::withValue(chosen));
        }
    });
}

void ScriptBridge::revealTextFile(const QString &body, const Reply &reply)
{
    const QString path = revealTextFilePath(parseBody(body));
    if (path.isEmpty()) {
        reply(BridgeReply::failure(revealPathInvalidMessage));
        return;
    }
    const QFileInfo file(path);
    if (!file.exists() || file.isDir()) {
        reply(BridgeReply::failure(revealFileMissingMessage));
        return;
    }
    // The page hears true only once something shows the file (or its folder).
    QPointer<ScriptBridge> self(this);
    m_fileRevealer.reveal(path, [self, reply](bool shown) {
        if (!self)
            return;
        reply(shown ? BridgeReply::withValue(true) : BridgeReply::failure(revealFailedMessage));
    });
}

namespace {

// Tells a page of the user's return from the desktop's settings: the first time its window
// becomes active again after it lost that to the settings. Only the latest request waits.
class SettingsReturnWatch : public QObject
{
public:
    SettingsReturnWatch(QWidget *window, QWebEnginePage *page) : QObject(window), m_page(page)
    {
        window->installEventFilter(this);
        m_left = !window->isActiveWindow();
    }

    static void replaceWith(SettingsReturnWatch *watch)
    {
        static QPointer<SettingsReturnWatch> latest;
        delete latest.data();
        latest = watch;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowDeactivate) {
            m_left = true;
        } else if (event->type() == QEvent::WindowActivate && m_left) {
            if (m_page)
                m_page->runJavaScript(permissionReturnScript);
            deleteLater();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWebEnginePage> m_page;
    bool m_left = false;
};

} // namespace

void ScriptBridge::openVoiceMemoPrivacy(const Reply &reply)
{
    QWebEngineView *postingView = m_page ? QWebEngineView::forPage(m_page) : nullptr;
    if (!recordingsNeedPermission) {
        // Nothing to grant here, so no guide: the desktop's application-permission settings
        // where it has them, and an error where it has none.
        if (!settingsOpener().openPrivacySettings()) {
            reply(BridgeReply::failure(privacySettingsUnavailableMessage));
            return;
        }
        SettingsReturnWatch::replaceWith(postingView ? new SettingsReturnWatch(postingView->window(), m_page) : nullptr);
        reply(BridgeReply::withValue(true));
        return;
    }

    access::FullDiskAccessAssistant &guide = accessAssistant();
    // Only the latest request's page hears of the return, and only while it exists.
    QPointer<QWebEnginePage> page = m_page;
    guide.onComplete = [page] {
        if (page)
            page->runJavaScript(permissionReturnScript);
    };
    guide.parentWindow = postingView ? postingView->window() : nullptr;
    reply(BridgeReply::withValue(guide.openSettingsAndPositionGuide()));
}

updates::UpdateController &ScriptBridge::updateController() const
{
    return m_updates ? *m_updates : updates::UpdateController::shared();
}

platform::SettingsOpener &ScriptBridge::settingsOpener() const
{
    return m_settingsOpener ? *m_settingsOpener : platform::SettingsOpener::system();
}

access::FullDiskAccessAssistant &ScriptBridge::accessAssistant() const
{
    return m_assistant ? *m_assistant : access::FullDiskAccessAssistant::shared();
}

} // namespace velmora::workspace
