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

// Why a request gave no usable answer.
enum class HttpFailure {
    None,             // an answer arrived: status holds its code (for get(), whatever the code)
    TimedOut,         // the whole request (redirects included) took longer than its time-out
    Cancelled,        // the caller's token was cancelled
    Stalled,          // no byte of a download arrived for its stall time-out
    RedirectRefused,  // a redirect the policy does not follow (scheme, host, no location)
    TooManyRedirects, // one redirect more than the policy follows
    Transport,        // refused, reset, a TLS failure, a body cut short by the server
    Status,           // a download answered with a status other than 200: its body is not the file
};

// What requests and downloads have in common.
struct HttpOutcome
{
    HttpFailure failure = HttpFailure::None;
    // An HTTP answer arrived (failure None or Status): status holds its code.
    bool received = false;
    int status = 0;
    // The transport's own description, or why a redirect was not followed; empty for an answer.
    QString errorString;
    // The address that gave the answer (or the last one asked), after the redirects followed.
    QUrl url;
    int redirects = 0;
};

struct HttpResponse : HttpOutcome
{
    QByteArray body;
    // The body was longer than the caller's limit; body then holds only its beginning.
    bool bodyTooLarge = false;
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

// Only the body of a 200 answer reaches the sink; any other answer is the failure Status.
struct DownloadResult : HttpOutcome
{
    qint64 bytes = 0;        // bytes handed to the sink
    bool tooLong = false;    // the body (or its announced length) went past maxBytes: cut off
    bool sinkFailed = false; // the sink refused a piece (it could not write it)
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
    template<typename Result>
    struct Hop;
    template<typename Result>
    static QCoro::Task<Result> follow(QUrl url, RedirectPolicy redirects,
                                      std::function<QCoro::Task<Hop<Result>>(const QUrl &)> hop);
    QCoro::Task<Hop<HttpResponse>> fetch(QUrl url, std::chrono::milliseconds timeout, CancelToken token,
                                         qint64 maxBodyBytes);
    QCoro::Task<Hop<DownloadResult>> stream(QUrl url, const DownloadOptions &options,
                                            const std::function<bool(QByteArrayView)> &sink, CancelToken token);

    std::optional<QSslConfiguration> m_ssl;
};

} // namespace velmora::platform
