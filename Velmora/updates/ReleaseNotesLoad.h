#pragma once

// Loading one release-notes document and reading it as plain text: the update window's notes
// and the engine's window load the same way, each through its own ReleaseNotesLoader.

#include "platform/Async.h"
#include "platform/LiteralUrl.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

namespace velmora::platform {
class HttpClient;
}

namespace velmora::updates {

inline constexpr std::chrono::milliseconds releaseNotesRequestTimeout{15000};
inline constexpr qint64 releaseNotesMaxBodyBytes = 262144;

// The notes at address as plain text (ReleaseNotesText::decode). nullopt when the load
// failed: no answer, a status other than 200, more than releaseNotesMaxBodyBytes, text that is
// not UTF-8, or nothing left after decoding. Redirects are followed to the allowed hosts only,
// over https. The caller checks the address itself before, and its token after: a cancelled
// load also ends with nullopt.
QCoro::Task<std::optional<QString>> fetchReleaseNotes(platform::HttpClient &http, QUrl address, QStringList hosts,
                                                      platform::CancelToken token);

// The notes of one found update and the load that fetches them: the notes as plain text, whether
// the load runs and whether it failed. One load at a time: a newer one cancels the running one,
// and a cancelled load writes nothing, whatever stage it reached. Each field announces its
// change once it has its new value; a load that ends writes its outcome before it stops loading.
class ReleaseNotesLoader : public QObject
{
    Q_OBJECT
public:
    // Loads over http from the hosts only (compared letter for letter); http must outlive the
    // loader.
    ReleaseNotesLoader(platform::HttpClient &http, QStringList hosts, QObject *parent = nullptr);
    ~ReleaseNotesLoader() override;

    QString notes() const { return m_notes; }
    bool isLoading() const { return m_loading; }
    bool failed() const { return m_failed; }
    // The running load (or the last one), kept so a newer one can cancel it.
    const platform::TaskHandle &task() const { return m_task; }

    // Cancels the running load and loads the notes at address. An address that is not https
    // on one of the hosts, as the feed wrote it, fails at once without a request.
    void load(const std::optional<platform::LiteralUrl> &address);
    // Cancels the running load and forgets what the last one brought.
    void clear();

signals:
    void notesChanged();
    void loadingChanged();
    void failedChanged();

private:
    QCoro::Task<> run(QUrl address, platform::CancelToken token);
    void set(const QString &notes, bool failed, bool loading);

    platform::HttpClient &m_http;
    QStringList m_hosts;
    QString m_notes;
    bool m_loading = false;
    bool m_failed = false;
    platform::TaskHandle m_task;
};

} // namespace velmora::updates
