#pragma once

// What the update engine's tests share: delegates that write down every call, feeds, and the
// stage of the install path.

#include "updates/Appcast.h"
#include "updates/UpdateEngine.h"
#include "updates/Updater.h"

#include "TestSupport.h"
#include "TlsTestServer.h"
#include "TreeSnapshot.h"
#include "platform/HttpClient.h"
#include "platform/PackageOwnership.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <optional>

namespace velmora::test {

using updates::RelaunchContinuation;
using updates::UpdateCheckKind;
using updates::UpdateItem;
using updates::Updater;
using updates::UpdaterDelegate;
using updates::UpdaterError;
using updates::UserDriverDelegate;

// Answers both delegates and writes down every call, in order.
class RecordingDelegates
    : public UpdaterDelegate
    , public UserDriverDelegate
{
public:
    struct Finish
    {
        UpdateCheckKind kind;
        std::optional<UpdaterError> error;
    };

    void didFindValidUpdate(Updater &, const UpdateItem &item) override
    {
        found << item;
        events << QStringLiteral("found ") + item.versionString;
    }
    void didFinishUpdateCycle(Updater &, UpdateCheckKind kind, const std::optional<UpdaterError> &error) override
    {
        finished << Finish{kind, error};
        events << QStringLiteral("finish");
    }
    bool shouldPostponeRelaunch(Updater &, const UpdateItem &item, RelaunchContinuation continuation) override
    {
        events << QStringLiteral("postpone ") + item.versionString;
        continuations << continuation;
        return postponeRelaunch;
    }
    void relaunchWithdrawn(Updater &) override { events << QStringLiteral("withdrawn"); }
    bool shouldHandleShowingScheduledUpdate(const UpdateItem &item, bool immediateFocus) override
    {
        events << QStringLiteral("should show %1 focus=%2").arg(item.versionString).arg(immediateFocus);
        return engineShowsScheduled;
    }
    void willHandleShowingUpdate(bool handleShowingUpdate, const UpdateItem &item) override
    {
        events << QStringLiteral("will show %1 %2").arg(item.versionString).arg(handleShowingUpdate);
    }

    // Error code of the only cycle end, 0 when it ended without an error.
    int onlyErrorCode() const
    {
        if (finished.size() != 1)
            return -1;
        const auto &error = finished.first().error;
        if (!error)
            return 0;
        return error->domain == QLatin1String(updates::updaterErrorDomain) ? error->code : -2;
    }

    bool engineShowsScheduled = false;
    bool postponeRelaunch = true;
    QList<RelaunchContinuation> continuations;
    QList<UpdateItem> found;
    QList<Finish> finished;
    QStringList events;
};

inline QByteArray feed(const QByteArray &items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
           "<channel><title>Velmora</title>"
           + items + "</channel></rss>";
}

// The enclosure attribute that names this build's architecture.
inline QByteArray ownArchitecture()
{
    return " xmlns:velmora=\"" + QByteArray(updates::velmoraFeedNamespace) + "\" velmora:arch=\""
           + updates::buildArchitecture().toLatin1() + "\"";
}

inline QByteArray item(const QByteArray &version, const QByteArray &os = "linux",
                       const QByteArray &architecture = ownArchitecture())
{
    const QByteArray osAttribute = (os.isEmpty() ? QByteArray() : " sparkle:os=\"" + os + "\"") + architecture;
    return "<item><title>Velmora " + version + "</title><sparkle:version>" + version
           + "</sparkle:version><sparkle:shortVersionString>v" + version
           + "</sparkle:shortVersionString>"
             "<sparkle:releaseNotesLink>https://velmora.app/notes/"
           + version
           + ".md</sparkle:releaseNotesLink>"
             "<enclosure url=\"https://updates.velmora.app/Velmora-"
           + version + ".tar.gz\" length=\"100\"" + osAttribute + "/></item>";
}

inline QList<bool> boolValues(const QSignalSpy &spy)
{
    QList<bool> values;
    for (const QList<QVariant> &arguments : spy)
        values << arguments.at(0).toBool();
    return values;
}

// The base of the engine's test cases: the delegates, a loopback HTTPS server that serves the
// feed, settings of the test's own, and the install path's stage.
class EngineTestCase : public QObject
{
protected:
    // Called by initTestCase(), init() and cleanup().
    void setUpTestCase();
    void setUpCase();
    void tearDownCase();

    // What a test adds to each engine it makes (the window test: its window).
    virtual void equip(updates::UpdateEngine &) {}

    std::unique_ptr<updates::UpdateEngine> makeEngine(const QString &feedUrl,
                                                      std::chrono::milliseconds timeout = updates::feedRequestTimeout);
    QString feedUrl() const { return m_server->url(QStringLiteral("/appcast.xml")).toString(); }

    // The install path's stage: a bundle of version 1.0 in a temporary folder; archive (the
    // 1.1 release unless given), signed with the test key, served with its feed and notes.
    void stageInstall(const QByteArray &archive = {}, const QByteArray &itemVersion = "1.1");
    QByteArray linuxItem(const QByteArray &version, const QByteArray &url, qint64 length, const QByteArray &signature) const;
    updates::UpdateEngineConfiguration installConfiguration();
    std::unique_ptr<updates::UpdateEngine> makeInstallEngine(updates::UpdateEngineConfiguration configuration);
    QString bundleVersion() const;

    std::optional<TemporarySettings> m_settings;
    std::unique_ptr<LoopbackHttpsServer> m_server;
    platform::HttpClient m_http;
    RecordingDelegates m_delegates;

    std::unique_ptr<QTemporaryDir> m_install;
    QString m_bundle;
    QMap<QString, TreeEntry> m_oldTree;
    QByteArray m_archive;
    QByteArray m_served;
    QByteArray m_feedBody;
    QByteArray m_archiveRedirect; // where the archive's address redirects to; empty: no redirect
    // Set: the archive's transfer stops after its first half and stays open until the client
    // closes it or the test finishes it.
    bool m_archiveHeldHalfway = false;
    std::unique_ptr<platform::PackageOwnership> m_packages;
    QStringList m_relaunched;
    int m_quits = 0;
};

} // namespace velmora::test
