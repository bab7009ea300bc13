#pragma once

#include "workspace/DownloadRules.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

class QWebEngineDownloadRequest;
class QWebEnginePage;

namespace velmora::platform {
class Alert;
class SavePanel;
} // namespace velmora::platform

namespace velmora::workspace {

// What saving downloads uses; nullptr or an empty folder means the real one.
struct DownloadSaverDependencies
{
    platform::SavePanel *savePanel = nullptr;
    platform::Alert *alert = nullptr;
    // Where downloads are written until they are complete, each in a folder of its own;
    // empty: "downloads" in the application's cache folder.
    QString stagingFolder;
};

// Saves the page's downloads where the user chooses. Each download asks for its place in a
// save panel of its own, which starts in the text save directory for text files. The engine
// fixes a download's file when it is accepted, before the panel can be shown, so the transfer
// goes to a staging folder under a name of its own, paused until the user has chosen; the
// complete file is then moved into place in one step, so a part of it never stands at the
// chosen name. A cancelled panel ends the download without a word; every other failure shows
// one alert, once the panel has ended with a place (a transfer that broke while the user was
// still choosing is reported then). Nothing but the chosen file is ever renamed or removed,
// besides the download's own staging folder.
class DownloadSaver : public QObject
{
    Q_OBJECT
public:
    using Dependencies = DownloadSaverDependencies;

    // page: whose downloads these are (its window holds the alert).
    DownloadSaver(QWebEnginePage *page, Dependencies dependencies = {}, QObject *parent = nullptr);
    ~DownloadSaver() override;

    // Takes a download of the page that the navigation policy lets through. Must be called
    // from the profile's downloadRequested handler: the engine drops a request that has not
    // been accepted when the handler returns.
    void take(QWebEngineDownloadRequest *download);

signals:
    // A download stands complete at destination.
    void saved(const QString &destination);
    // A download failed, and the alert with description has been shown.
    void failed(const QString &description);
    // The user cancelled a download's panel; nothing was saved or shown.
    void cancelled();

private:
    struct Transfer;

    void panelEnded(const std::shared_ptr<Transfer> &transfer, std::optional<QString> destination);
    void stateChanged(const std::shared_ptr<Transfer> &transfer);
    void place(const std::shared_ptr<Transfer> &transfer);
    void fail(const std::shared_ptr<Transfer> &transfer, const DownloadFailure &failure);
    void report(const DownloadFailure &failure);
    void end(const std::shared_ptr<Transfer> &transfer);
    void removeEndedFolders();

    QPointer<QWebEnginePage> m_page;
    platform::SavePanel &m_savePanel;
    platform::Alert &m_alert;
    QString m_stagingFolder;
    // Transfers whose panel or file is still to be dealt with, by the engine's download id.
    QHash<quint32, std::shared_ptr<Transfer>> m_transfers;
    // Downloads that have ended: the engine may still start one of them over.
    QSet<quint32> m_ended;
    // Staging folders of ended downloads, removed once more when the next download starts and
    // when the page goes.
    QSet<QString> m_endedFolders;
};

} // namespace velmora::workspace
