#pragma once

#include "platform/Async.h"

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

class QNetworkAccessManager;

namespace velmora::platform {

// Which redirects (301, 302, 303, 307, 308) a request follows; every caller states its own.
struct RedirectPolicy
{
    // Redirects followed at most. With 0 a redirect answer is the response itself; otherwise a
    // redirect beyond the limit, or one the policy refuses, ends the request without a response.
    int maxRedirects = 0;
    // The hosts a redirect may lead to, compared letter for letter with the host as the
    // Location header writes it.
    QStringList allowedHosts;

    // Nothing is followed: the answer, redirect or not, is the response.
    static RedirectPolicy none() { return {}; }
    // Up to maxRedirects redirects, each from https to https on one of hosts.
    static RedirectPolicy httpsWithin(QStringList hosts, int maxRedirects = 5)
    {
        return RedirectPolicy{maxRedirects, std::move(hosts)};
    }

    // Where a redirect from the https address from with the given Location header leads, or
    // nullopt when this policy does not follow it: not from https, no location, a scheme other
    // than "https" as written, a host not on the list as written. A relative location stays
    // on from's host, which must be on the list too.
    std::optional<QUrl> target(const QUrl &from, const QString &location) const;
};

struct HttpResponse
{
    // False when no HTTP response arrived: refused, timed out, cancelled, TLS failure.
    bool received = false;
    // The HTTP status when a response arrived.
    int status = 0;
    QByteArray body;
    // The body was longer than the caller's limit; body then holds only its beginning.
    bool bodyTooLarge = false;
    // The transport error's own description when nothing arrived.
    QString errorString;
    bool cancelled = false;
    // The address that gave the response, after the redirects followed.
    QUrl url;
    int redirects = 0;
};

// HTTP GET with a whole-request time-out (redirects included), bypassing every cache, on the
// calling thread's network access manager.
class HttpClient
{
public:
    virtual ~HttpClient() = default;

    // Follows redirects as redirects allows. A body longer than maxBodyBytes ends the transfer
    // early and sets bodyTooLarge.
    virtual QCoro::Task<HttpResponse> get(QUrl url, RedirectPolicy redirects, std::chrono::milliseconds timeout,
                                          CancelToken token = {},
                                          qint64 maxBodyBytes = 64 * 1024 * 1024);

    // Extra TLS settings (for example a test's own certificate authority).
    void setSslConfiguration(const QSslConfiguration &configuration) { m_ssl = configuration; }

    // The client of the main thread, shared by the whole application.
    static HttpClient &shared();

private:
    struct Answer;
    QCoro::Task<Answer> fetch(QUrl url, std::chrono::milliseconds timeout, CancelToken token, qint64 maxBodyBytes);

    std::optional<QSslConfiguration> m_ssl;
};

} // namespace velmora::platform
