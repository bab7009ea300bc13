#include "workspace/DownloadSaver.h"

#include "platform/Alert.h"
#include "platform/FileSystem.h"
#include "platform/SavePanel.h"
#include "workspace/ScriptBridge.h"
#include "workspace/Texts.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <utility>

namespace velmora::workspace {

namespace {

// The name a download is written under in its own staging folder.
const QString stagedFileName = QStringLiteral("download");

QString defaultStagingFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/downloads");
}

#define VELMORA_SAME_REASON(name) \
    static_assert(int(DownloadInterruptReason::name) == int(QWebEngineDownloadRequest::name), \
                  "the engine's reason " #name " has another value")
VELMORA_SAME_REASON(NoReason);
VELMORA_SAME_REASON(FileFailed);
VELMORA_SAME_REASON(FileAccessDenied);
VELMORA_SAME_REASON(FileNoSpace);
VELMORA_SAME_REASON(FileNameTooLong);
VELMORA_SAME_REASON(FileTooLarge);
VELMORA_SAME_REASON(FileVirusInfected);
VELMORA_SAME_REASON(FileTransientError);
VELMORA_SAME_REASON(FileBlocked);
VELMORA_SAME_REASON(FileSecurityCheckFailed);
VELMORA_SAME_REASON(FileTooShort);
VELMORA_SAME_REASON(FileHashMismatch);
VELMORA_SAME_REASON(NetworkFailed);
VELMORA_SAME_REASON(NetworkTimeout);
VELMORA_SAME_REASON(NetworkDisconnected);
VELMORA_SAME_REASON(NetworkServerDown);
VELMORA_SAME_REASON(NetworkInvalidRequest);
VELMORA_SAME_REASON(ServerFailed);
VELMORA_SAME_REASON(ServerBadContent);
VELMORA_SAME_REASON(ServerUnauthorized);
VELMORA_SAME_REASON(ServerCertProblem);
VELMORA_SAME_REASON(ServerForbidden);
VELMORA_SAME_REASON(ServerUnreachable);
VELMORA_SAME_REASON(UserCanceled);
#undef VELMORA_SAME_REASON

} // namespace

struct DownloadSaver::Transfer
{
    quint32 id = 0;
    QPointer<QWebEngineDownloadRequest> request;
    QString stagingFolder;
    // Where the user wants the file, once the panel has ended with a place.
    std::optional<QString> destination;
    // A failure that came while the panel was open, reported when it ends with a place.
    std::optional<DownloadFailure> failure;
    bool panelOpen = true;
    // This saver cancelled the engine's transfer (the cancellation is not a failure).
    bool stopping = false;
    // The file is in place or the failure is known: nothing else happens to this download.
    bool settled = false;
};

DownloadSaver::DownloadSaver(QWebEnginePage *page, Dependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_page(page)
    , m_savePanel(dependencies.savePanel ? *dependencies.savePanel : platform::SavePanel::system())
    , m_alert(dependencies.alert ? *dependencies.alert : platform::Alert::system())
    , m_stagingFolder(dependencies.stagingFolder.isEmpty() ? defaultStagingFolder() : dependencies.stagingFolder)
{}

DownloadSaver::~DownloadSaver()
{
    // The page is going: its unfinished downloads go with it, panels answer no one.
    for (const std::shared_ptr<Transfer> &transfer : std::as_const(m_transfers)) {
        if (transfer->request && !transfer->request->isFinished()) {
            transfer->stopping = true;
            transfer->request->cancel();
        }
        m_endedFolders.insert(transfer->stagingFolder);
    }
    removeEndedFolders();
}

void DownloadSaver::removeEndedFolders()
{
    for (const QString &folder : std::exchange(m_endedFolders, {}))
        QDir(folder).removeRecursively();
}

void DownloadSaver::take(QWebEngineDownloadRequest *download)
{
    const quint32 id = download->id();
    if (const std::shared_ptr<Transfer> transfer = m_transfers.value(id)) {
        // A transfer that breaks is started over by the engine under the same id, from the
        // beginning and without a word about the break. That is this download's failure.
        download->cancel();
        fail(transfer, {DownloadFailure::Kind::ConnectionBroken, {}, {}});
        return;
    }
    if (m_ended.contains(id)) {
        download->cancel();
        return;
    }

    auto transfer = std::make_shared<Transfer>();
    transfer->id = id;
    transfer->request = download;
    QString error = platform::makeFolder(m_stagingFolder);
    if (error.isEmpty()) {
        QTemporaryDir folder(m_stagingFolder + QStringLiteral("/download-XXXXXX"));
        folder.setAutoRemove(false);
        if (folder.isValid())
            transfer->stagingFolder = folder.path();
        else
            error = folder.errorString();
    }
    if (transfer->stagingFolder.isEmpty()) {
        download->cancel();
        m_ended.insert(id);
        report({DownloadFailure::Kind::NotStaged, {}, error});
        return;
    }

    removeEndedFolders();
    m_transfers.insert(id, transfer);
    download->setDownloadDirectory(transfer->stagingFolder);
    download->setDownloadFileName(stagedFileName);
    connect(download, &QWebEngineDownloadRequest::stateChanged, this, [this, transfer] { stateChanged(transfer); });
    download->accept();
    // Nothing more is fetched until the user has chosen; a small file may be complete anyway.
    download->pause();

    platform::SavePanelRequest request;
    request.title = savePanelTitle;
    request.prompt = savePanelPrompt;
    request.suggestedName = download->suggestedFileName();
    request.startFolder = saveStartFolder(request.suggestedName, ScriptBridge::textSaveDirectory());
    QPointer<DownloadSaver> self(this);
    m_savePanel.chooseDestination(request, [self, transfer](std::optional<QString> destination) {
        if (self)
            self->panelEnded(transfer, std::move(destination));
    });
}

void DownloadSaver::panelEnded(const std::shared_ptr<Transfer> &transfer, std::optional<QString> destination)
{
    transfer->panelOpen = false;
    if (transfer->failure) {
        if (destination)
            report(*transfer->failure);
        end(transfer);
        return;
    }
    if (!destination) {
        if (transfer->request && !transfer->request->isFinished()) {
            transfer->stopping = true;
            transfer->request->cancel();
        }
        transfer->settled = true;
        end(transfer);
        emit cancelled();
        return;
    }
    transfer->destination = std::move(destination);
    QWebEngineDownloadRequest *request = transfer->request;
    if (!request)
        fail(transfer, {DownloadFailure::Kind::Stopped, {}, {}});
    else if (request->state() == QWebEngineDownloadRequest::DownloadCompleted)
        place(transfer);
    else
        request->resume();
}

void DownloadSaver::stateChanged(const std::shared_ptr<Transfer> &transfer)
{
    QWebEngineDownloadRequest *request = transfer->request;
    if (!request)
        return;
    if (transfer->settled)
        return;
    switch (request->state()) {
    case QWebEngineDownloadRequest::DownloadCompleted:
        // Before the panel has ended, the file waits in its staging folder.
        if (transfer->destination)
            place(transfer);
        break;
    case QWebEngineDownloadRequest::DownloadCancelled:
        // A staging folder that cannot be written looks like this too.
        if (!transfer->stopping)
            fail(transfer, {DownloadFailure::Kind::Stopped, {}, {}});
        break;
    case QWebEngineDownloadRequest::DownloadInterrupted:
        fail(transfer, {DownloadFailure::Kind::Interrupted, DownloadInterruptReason(request->interruptReason()), {}});
        break;
    case QWebEngineDownloadRequest::DownloadRequested:
    case QWebEngineDownloadRequest::DownloadInProgress:
        break;
    }
}

void DownloadSaver::place(const std::shared_ptr<Transfer> &transfer)
{
    QWebEngineDownloadRequest *request = transfer->request;
    const QString staged = QDir(request->downloadDirectory()).filePath(request->downloadFileName());
    const QString destination = *transfer->destination;
    const QString error = platform::moveFileIntoPlace(staged, destination);
    if (!error.isEmpty()) {
        fail(transfer, {DownloadFailure::Kind::NotPlaced, {}, error});
        return;
    }
    transfer->settled = true;
    end(transfer);
    emit saved(destination);
}

void DownloadSaver::fail(const std::shared_ptr<Transfer> &transfer, const DownloadFailure &failure)
{
    if (transfer->settled)
        return;
    transfer->settled = true;
    if (transfer->request && !transfer->request->isFinished()) {
        transfer->stopping = true;
        transfer->request->cancel();
    }
    if (transfer->panelOpen) {
        // Said when the panel ends with a place; a cancelled panel keeps quiet as ever.
        transfer->failure = failure;
        QDir(transfer->stagingFolder).removeRecursively();
        return;
    }
    end(transfer);
    report(failure);
}

void DownloadSaver::report(const DownloadFailure &failure)
{
    const QString description = downloadFailureDescription(failure);
    QWebEngineView *view = m_page ? QWebEngineView::forPage(m_page) : nullptr;
    m_alert.show(downloadFailedMessage, description, view ? view->window() : nullptr);
    emit failed(description);
}

void DownloadSaver::end(const std::shared_ptr<Transfer> &transfer)
{
    QDir(transfer->stagingFolder).removeRecursively();
    // The engine works on a cancelled transfer's file on a thread of its own, after it has said
    // that the transfer is cancelled: it may make the folder once more.
    m_endedFolders.insert(transfer->stagingFolder);
    m_transfers.remove(transfer->id);
    m_ended.insert(transfer->id);
}

} // namespace velmora::workspace
