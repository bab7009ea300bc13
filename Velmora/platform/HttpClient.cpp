#include "platform/HttpClient.h"

#include "platform/LiteralUrl.h"

#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThreadStorage>
#include <QTimer>

#include <QCoro/QCoroNetworkReply>

namespace velmora::platform {
namespace {

QNetworkAccessManager &threadManager()
{
    static QThreadStorage<QNetworkAccessManager *> managers;
    if (!managers.hasLocalData())
        managers.setLocalData(new QNetworkAccessManager);
    return *managers.localData();
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

std::optional<QUrl> RedirectPolicy::target(const QUrl &from, const QString &location) const
{
    if (from.scheme() != QLatin1String("https"))
        return std::nullopt;
    const QString text = location.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    // "//host/path" keeps the scheme of from, https.
    const LiteralUrl written(text.startsWith(QLatin1String("//")) ? QStringLiteral("https:") + text : text);
    if (!written.scheme().isEmpty()) {
        if (anyHost) {
            // The same check as for listed hosts, with the host as written for its list.
            return !written.host().isEmpty() && written.isHttpsOn(QStringList(written.host()))
                       ? std::optional<QUrl>(written.url())
                       : std::nullopt;
        }
        return written.isHttpsOn(allowedHosts) ? std::optional<QUrl>(written.url()) : std::nullopt;
    }
    const QUrl relative(text, QUrl::StrictMode);
    if (!relative.isValid())
        return std::nullopt;
    const QUrl resolved = from.resolved(relative);
    if (resolved.scheme() != QLatin1String("https"))
        return std::nullopt;
    if (!anyHost && !allowedHosts.contains(resolved.host(), Qt::CaseSensitive))
        return std::nullopt;
    return resolved;
}

namespace {

QNetworkRequest uncachedRequest(const QUrl &url, const std::optional<QSslConfiguration> &ssl)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Each redirect is checked against the caller's policy before it is followed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (ssl)
        request.setSslConfiguration(*ssl);
    return request;
}

// Ends a reply early when its timer runs out or the caller cancels; abort() finishes the reply
// with OperationCanceledError, and expired() tells the two apart.
class ReplyWatch
{
public:
    ReplyWatch(QNetworkReply *reply, std::chrono::milliseconds limit, const CancelToken &token) : m_limit(limit)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, reply, [this, reply] {
            m_expired = true;
            reply->abort();
        });
        m_timer.start(m_limit);
        if (CancelState *state = token.state())
            QObject::connect(state, &CancelState::cancelled, reply, [reply] { reply->abort(); });
    }
    ReplyWatch(const ReplyWatch &) = delete;
    ReplyWatch &operator=(const ReplyWatch &) = delete;

    // Starts the limit anew (a download's stall limit counts from the last byte).
    void restart() { m_timer.start(m_limit); }
    void stop() { m_timer.stop(); }
    bool expired() const { return m_expired; }

private:
    std::chrono::milliseconds m_limit;
    QTimer m_timer;
    bool m_expired = false;
};

void fail(HttpOutcome &outcome, HttpFailure failure, QString description)
{
    outcome.failure = failure;
    outcome.received = false;
    outcome.errorString = std::move(description);
}

void answered(HttpOutcome &outcome, int status, HttpFailure failure = HttpFailure::None)
{
    outcome.failure = failure;
    outcome.received = true;
    outcome.status = status;
}

const QString cancelledText = QStringLiteral("cancelled");

} // namespace

// One answer on the way: the result as far as it goes, and where a redirect answer points.
template<typename Result>
struct HttpClient::Hop
{
    Result result;
    QString location; // the Location header, as sent
};

template<typename Result>
QCoro::Task<Result> HttpClient::follow(QUrl url, RedirectPolicy redirects,
                                       std::function<QCoro::Task<Hop<Result>>(const QUrl &)> hop)
{
    for (int followed = 0;; ++followed) {
        Hop<Result> answer = co_await hop(url);
        Result &result = answer.result;
        result.url = url;
        result.redirects = followed;
        if (!result.received || !isRedirect(result.status) || redirects.maxRedirects == 0)
            co_return result;

        // A redirect this request may not follow ends it without an answer.
        Result refused;
        refused.url = url;
        refused.redirects = followed;
        if (followed >= redirects.maxRedirects) {
            fail(refused, HttpFailure::TooManyRedirects,
                 QStringLiteral("More than %1 redirects.").arg(redirects.maxRedirects));
            co_return refused;
        }
        std::optional<QUrl> next = redirects.target(url, answer.location);
        if (!next) {
            fail(refused, HttpFailure::RedirectRefused, QStringLiteral("Redirect to \"%1\" refused.").arg(answer.location));
            co_return refused;
        }
        url = *next;
    }
}

QCoro::Task<HttpResponse> HttpClient::get(QUrl url, RedirectPolicy redirects, std::chrono::milliseconds timeout,
                                          CancelToken token, qint64 maxBodyBytes)
{
    // One deadline for the whole request, whatever the number of redirects.
    const QDeadlineTimer deadline(timeout, Qt::PreciseTimer);
    const std::function<QCoro::Task<Hop<HttpResponse>>(const QUrl &)> hop = [this, deadline, token,
                                                                             maxBodyBytes](const QUrl &next) {
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration());
        return fetch(next, remaining, token, maxBodyBytes);
    };
    // Named first: g++ 12 destroys some temporaries of a co_await expression twice.
    QCoro::Task<HttpResponse> followed = follow<HttpResponse>(std::move(url), std::move(redirects), hop);
    co_return co_await std::move(followed);
}

QCoro::Task<HttpClient::Hop<HttpResponse>> HttpClient::fetch(QUrl url, std::chrono::milliseconds timeout, CancelToken token,
                                                             qint64 maxBodyBytes)
{
    HttpResponse result;
    if (token.isCancelled()) {
        fail(result, HttpFailure::Cancelled, cancelledText);
        co_return Hop<HttpResponse>{result, {}};
    }
    if (timeout <= std::chrono::milliseconds(0)) {
        fail(result, HttpFailure::TimedOut, QStringLiteral("The request timed out."));
        co_return Hop<HttpResponse>{result, {}};
    }

    std::unique_ptr<QNetworkReply> reply(threadManager().get(uncachedRequest(url, m_ssl)));
    QNetworkReply *raw = reply.get();
    ReplyWatch watch(raw, timeout, token);
    // abort() closes the reply and drops what it buffered, so the beginning is taken first.
    std::optional<QByteArray> truncated;
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [raw, maxBodyBytes, &truncated] {
        if (raw->bytesAvailable() > maxBodyBytes + 1) {
            truncated = raw->read(maxBodyBytes + 1);
            raw->abort();
        }
    });

    co_await qCoro(raw).waitForFinished(std::chrono::milliseconds(-1));
    watch.stop();

    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (token.isCancelled()) {
        fail(result, HttpFailure::Cancelled, raw->errorString());
    } else if (watch.expired()) {
        fail(result, HttpFailure::TimedOut, QStringLiteral("The request timed out."));
    } else if (status.isValid() && raw->error() != QNetworkReply::OperationCanceledError) {
        answered(result, status.toInt());
        result.body = raw->read(maxBodyBytes + 1);
        result.bodyTooLarge = result.body.size() > maxBodyBytes;
    } else if (status.isValid() && truncated) {
        // Aborted because the body grew past the limit: report its beginning.
        answered(result, status.toInt());
        result.body = *truncated;
        result.bodyTooLarge = true;
    } else {
        fail(result, HttpFailure::Transport, raw->errorString());
    }
    co_return Hop<HttpResponse>{result, QString::fromUtf8(raw->rawHeader("Location"))};
}

QCoro::Task<DownloadResult> HttpClient::download(QUrl url, RedirectPolicy redirects, DownloadOptions options,
                                                 std::function<bool(QByteArrayView piece)> sink, CancelToken token)
{
    // options and sink live in this frame until the last hop is done.
    const std::function<QCoro::Task<Hop<DownloadResult>>(const QUrl &)> hop =
        [this, &options, &sink, token](const QUrl &next) { return stream(next, options, sink, token); };
    QCoro::Task<DownloadResult> followed = follow<DownloadResult>(std::move(url), std::move(redirects), hop);
    co_return co_await std::move(followed);
}

QCoro::Task<HttpClient::Hop<DownloadResult>> HttpClient::stream(QUrl url, const DownloadOptions &options,
                                                                const std::function<bool(QByteArrayView)> &sink,
                                                                CancelToken token)
{
    DownloadResult result;
    if (token.isCancelled()) {
        fail(result, HttpFailure::Cancelled, cancelledText);
        co_return Hop<DownloadResult>{result, {}};
    }

    QNetworkRequest request = uncachedRequest(url, m_ssl);
    // The body arrives as it is; a compressed transfer would make its length unknowable.
    request.setRawHeader("Accept-Encoding", "identity");
    std::unique_ptr<QNetworkReply> reply(threadManager().get(request));
    QNetworkReply *raw = reply.get();
    // Pieces are taken as they come; the reply need not keep more than a little of the body.
    raw->setReadBufferSize(256 * 1024);
    ReplyWatch stall(raw, options.stallTimeout, token);

    auto take = [&] {
        stall.restart();
        const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!status.isValid())
            return;
        if (status.toInt() != 200) {
            // Only a 200 answer's body is the file; any other body is read and dropped.
            raw->readAll();
            return;
        }
        bool announcedOk = false;
        const qint64 announced = raw->header(QNetworkRequest::ContentLengthHeader).toLongLong(&announcedOk);
        if (announcedOk && announced > options.maxBytes) {
            result.tooLong = true;
            raw->abort();
            return;
        }
        while (raw->bytesAvailable() > 0 && !result.tooLong && !result.sinkFailed) {
            const qint64 room = options.maxBytes - result.bytes;
            const QByteArray piece = raw->read(qMin<qint64>(raw->bytesAvailable(), 64 * 1024));
            if (piece.size() > room) {
                // Cut off at the limit: what lies beyond is never written.
                if (room > 0 && !sink(QByteArrayView(piece).first(room)))
                    result.sinkFailed = true;
                else
                    result.bytes += room;
                result.tooLong = true;
                raw->abort();
                return;
            }
            if (!sink(QByteArrayView(piece))) {
                result.sinkFailed = true;
                raw->abort();
                return;
            }
            result.bytes += piece.size();
        }
        if (options.progress)
            options.progress(result.bytes, announcedOk ? announced : -1);
    };
    QObject::connect(raw, &QNetworkReply::readyRead, raw, take);

    co_await qCoro(raw).waitForFinished(std::chrono::milliseconds(-1));
    stall.stop();

    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() == 200 && !result.tooLong && !result.sinkFailed && !stall.expired()
        && !token.isCancelled() && raw->error() == QNetworkReply::NoError)
        take(); // the last piece, when it came with the end

    if (token.isCancelled()) {
        fail(result, HttpFailure::Cancelled, cancelledText);
    } else if (stall.expired()) {
        fail(result, HttpFailure::Stalled, QStringLiteral("No data arrived for %1 ms.").arg(options.stallTimeout.count()));
    } else if (status.isValid() && status.toInt() != 200) {
        answered(result, status.toInt(), HttpFailure::Status);
    } else if (status.isValid() && (raw->error() == QNetworkReply::NoError || result.tooLong || result.sinkFailed)) {
        answered(result, status.toInt());
    } else {
        // A body cut short by the server (its announced length not reached) ends here too.
        fail(result, HttpFailure::Transport, raw->errorString());
        if (status.isValid())
            result.status = status.toInt();
    }
    co_return Hop<DownloadResult>{result, QString::fromUtf8(raw->rawHeader("Location"))};
}

HttpClient &HttpClient::shared()
{
    static HttpClient client;
    return client;
}

} // namespace velmora::platform
