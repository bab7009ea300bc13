#include "updates/ReleaseNotesLoad.h"

#include "platform/HttpClient.h"
#include "updates/ReleaseNotesText.h"

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

} // namespace velmora::updates
