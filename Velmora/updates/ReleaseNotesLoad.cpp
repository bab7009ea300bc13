#include "updates/ReleaseNotesLoad.h"

#include "platform/HttpClient.h"
#include "updates/ReleaseNotesText.h"

#include <QPointer>
#include <QStringDecoder>

namespace velmora::updates {

QCoro::Task<std::optional<QString>> fetchReleaseNotes(platform::HttpClient &http, QUrl address, QStringList hosts,
                                                      platform::CancelToken token)
{
    // A moved page is followed, but only to the release-notes hosts, over https. (Named first:
    // g++ 12 destroys some temporaries of a co_await expression twice.)
    const platform::RedirectPolicy redirects = platform::RedirectPolicy::httpsWithin(std::move(hosts));
    const platform::HttpResponse response = co_await http.get(address, redirects, releaseNotesRequestTimeout, token,
                                                              releaseNotesMaxBodyBytes);
    if (!response.received || token.isCancelled())
        co_return std::nullopt;
    if (response.status != 200 || response.bodyTooLarge || response.body.size() > releaseNotesMaxBodyBytes)
        co_return std::nullopt;
    // Strict: a stateless decoder reports a truncated sequence at the end as an error too.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString document = utf8(response.body);
    if (utf8.hasError())
        co_return std::nullopt;
    const QString notes = ReleaseNotesText::decode(document);
    if (notes.isEmpty())
        co_return std::nullopt;
    co_return notes;
}

ReleaseNotesLoader::ReleaseNotesLoader(platform::HttpClient &http, QStringList hosts, QObject *parent)
    : QObject(parent)
    , m_http(http)
    , m_hosts(std::move(hosts))
{}

ReleaseNotesLoader::~ReleaseNotesLoader()
{
    m_task.cancel();
}

void ReleaseNotesLoader::load(const std::optional<platform::LiteralUrl> &address)
{
    // The handle stays in the field; the cancelled load writes nothing.
    m_task.cancel();
    // Refused addresses never reach the network. Scheme and host are compared as the feed
    // wrote them: "HTTPS" or an allowed host in other letter case is refused too.
    if (!address || !address->isHttpsOn(m_hosts)) {
        set(QString(), true, false);
        return;
    }
    set(QString(), false, true);
    m_task = platform::TaskHandle::make();
    platform::detach(run(address->url(), m_task.token()));
}

void ReleaseNotesLoader::clear()
{
    m_task.cancel();
    set(QString(), false, false);
}

QCoro::Task<> ReleaseNotesLoader::run(QUrl address, platform::CancelToken token)
{
    QPointer<ReleaseNotesLoader> self(this);
    const QStringList hosts = m_hosts;
    const std::optional<QString> notes = co_await fetchReleaseNotes(m_http, std::move(address), hosts, token);
    // A load that a newer one cancelled writes nothing, whatever stage it reached.
    if (!self || token.isCancelled())
        co_return;
    set(notes.value_or(QString()), !notes, false);
}

void ReleaseNotesLoader::set(const QString &notes, bool failed, bool loading)
{
    // In this order, so that whoever sees the load end finds its outcome already written. A
    // receiver may drop the loader: look again after each announcement.
    QPointer<ReleaseNotesLoader> self(this);
    if (m_notes != notes) {
        m_notes = notes;
        emit notesChanged();
    }
    if (!self)
        return;
    if (m_failed != failed) {
        m_failed = failed;
        emit failedChanged();
    }
    if (!self)
        return;
    if (m_loading != loading) {
        m_loading = loading;
        emit loadingChanged();
    }
}

} // namespace velmora::updates
