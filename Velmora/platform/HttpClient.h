#pragma once

#include "platform/Async.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
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

    // Any host is allowed: for downloads whose content is checked by other means (a
    // signature), which may be served from wherever the publisher's mirrors send them.
    bool anyHost = false;

    // Nothing is followed: the answer, redirect or not, is the response.
    static RedirectPolicy none() { return {}; }
    // Up to maxRedirects redirects, each from https to https on one of hosts.
    static RedirectPolicy httpsWithin(QStringList hosts, int maxRedirects = 5)
    {
        return RedirectPolicy{maxRedirects, std::move(hosts), false};
    }
    // Up to maxRedirects redirects, each from https to https, on any host.
    static RedirectPolicy httpsAnyHost(int maxRedirects = 5) { return RedirectPolicy{maxRedirects, {}, true}; }

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

struct DownloadOptions
{
    // The body may hold at most this many bytes; the transfer stops at the first byte more.
    qint64 maxBytes = 0;
    // The transfer fails when no byte arrives for this long (a large body takes as long as it
    // takes, a stalled one does not).
    std::chrono::milliseconds stallTimeout{60000};
    // Called as the body arrives: bytes received so far, and the length the server announced
    // (-1 when it announced none).
    std::function<void(qint64 received, qint64 announced)> progress;
};

struct DownloadResult
{
    // False when no HTTP response arrived: refused, stalled, cancelled, TLS failure, or a
    // redirect that the policy does not follow.
    bool received = false;
    // The HTTP status when a response arrived. Only the body of a 200 answer reaches the sink.
    int status = 0;
    qint64 bytes = 0;        // bytes handed to the sink
    bool tooLong = false;    // the body (or its announced length) went past maxBytes: cut off
    bool sinkFailed = false; // the sink refused a piece (it could not write it)
    bool cancelled = false;
    QString errorString;
    QUrl url; // the address that answered, after the redirects followed
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
                                          CancelToken token = {}, qint64 maxBodyBytes = 64 * 1024 * 1024);

    // Streams the body of a 200 answer into sink, piece by piece, instead of keeping it: for
    // large files. Follows redirects as redirects allows; the body of any other answer is
    // dropped. sink answers false when it cannot take a piece, which ends the transfer.
    virtual QCoro::Task<DownloadResult> download(QUrl url, RedirectPolicy redirects, DownloadOptions options,
                                                 std::function<bool(QByteArrayView piece)> sink, CancelToken token = {});

    // Extra TLS settings (for example a test's own certificate authority).
    void setSslConfiguration(const QSslConfiguration &configuration) { m_ssl = configuration; }

    // The client of the main thread, shared by the whole application.
    static HttpClient &shared();

private:
    struct Answer;
    QCoro::Task<Answer> fetch(QUrl url, std::chrono::milliseconds timeout, CancelToken token, qint64 maxBodyBytes);
    struct StreamAnswer;
    QCoro::Task<StreamAnswer> stream(QUrl url, const DownloadOptions &options,
                                     const std::function<bool(QByteArrayView)> &sink, CancelToken token);

    std::optional<QSslConfiguration> m_ssl;
};

} // namespace velmora::platform
