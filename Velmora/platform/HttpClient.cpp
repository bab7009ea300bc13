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

// Where a redirect leads, or why it is not followed.
struct RedirectStep
{
    std::optional<QUrl> next;
    QString refusal;
};

RedirectStep nextHop(const RedirectPolicy &redirects, const QUrl &url, const QString &location, int followed)
{
    if (followed >= redirects.maxRedirects)
        return {std::nullopt, QStringLiteral("More than %1 redirects.").arg(redirects.maxRedirects)};
    if (std::optional<QUrl> next = redirects.target(url, location))
        return {std::move(next), QString()};
    return {std::nullopt, QStringLiteral("Redirect to \"%1\" refused.").arg(location)};
}

} // namespace

struct HttpClient::Answer
{
    HttpResponse response;
    QString location; // the Location header, as sent
};

QCoro::Task<HttpResponse> HttpClient::get(QUrl url, RedirectPolicy redirects, std::chrono::milliseconds timeout,
                                          CancelToken token, qint64 maxBodyBytes)
{
    const QDeadlineTimer deadline(timeout, Qt::PreciseTimer);
    for (int followed = 0;; ++followed) {
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration());
        Answer answer = co_await fetch(url, remaining, token, maxBodyBytes);
        HttpResponse &response = answer.response;
        response.url = url;
        response.redirects = followed;
        if (!response.received || !isRedirect(response.status) || redirects.maxRedirects == 0)
            co_return response;

        // A redirect this request may not follow ends it without a response.
        const RedirectStep step = nextHop(redirects, url, answer.location, followed);
        if (!step.next) {
            HttpResponse refused;
            refused.url = url;
            refused.redirects = followed;
            refused.errorString = step.refusal;
            co_return refused;
        }
        url = *step.next;
    }
}

QCoro::Task<HttpClient::Answer> HttpClient::fetch(QUrl url, std::chrono::milliseconds timeout, CancelToken token,
                                                  qint64 maxBodyBytes)
{
    HttpResponse result;
    if (token.isCancelled()) {
        result.cancelled = true;
        result.errorString = QStringLiteral("cancelled");
        co_return Answer{result, {}};
    }
    if (timeout <= std::chrono::milliseconds(0)) {
        result.errorString = QStringLiteral("The request timed out.");
        co_return Answer{result, {}};
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (m_ssl)
        request.setSslConfiguration(*m_ssl);

    std::unique_ptr<QNetworkReply> reply(threadManager().get(request));
    QNetworkReply *raw = reply.get();

    // Whole-request limit: abort() finishes the reply with OperationCanceledError.
    bool timedOut = false;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, raw, [raw, &timedOut] {
        timedOut = true;
        raw->abort();
    });
    timer.start(timeout);
    if (CancelState *state = token.state())
        QObject::connect(state, &CancelState::cancelled, raw, [raw] { raw->abort(); });
    // abort() closes the reply and drops what it buffered, so the beginning is taken first.
    std::optional<QByteArray> truncated;
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [raw, maxBodyBytes, &truncated] {
        if (raw->bytesAvailable() > maxBodyBytes + 1) {
            truncated = raw->read(maxBodyBytes + 1);
            raw->abort();
        }
    });

    co_await qCoro(raw).waitForFinished(std::chrono::milliseconds(-1));
    timer.stop();

    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (token.isCancelled()) {
        result.cancelled = true;
        result.errorString = raw->errorString();
    } else if (timedOut) {
        result.errorString = QStringLiteral("The request timed out.");
    } else if (status.isValid() && raw->error() != QNetworkReply::OperationCanceledError) {
        result.received = true;
        result.status = status.toInt();
        result.body = raw->read(maxBodyBytes + 1);
        result.bodyTooLarge = result.body.size() > maxBodyBytes;
    } else if (status.isValid() && truncated) {
        // Aborted because the body grew past the limit: report its beginning.
        result.received = true;
        result.status = status.toInt();
        result.body = *truncated;
        result.bodyTooLarge = true;
    } else {
        result.errorString = raw->errorString();
    }
    co_return Answer{result, QString::fromUtf8(raw->rawHeader("Location"))};
}

struct HttpClient::StreamAnswer
{
    DownloadResult result;
    QString location; // the Location header of a redirect, as sent
};

QCoro::Task<DownloadResult> HttpClient::download(QUrl url, RedirectPolicy redirects, DownloadOptions options,
                                                 std::function<bool(QByteArrayView piece)> sink, CancelToken token)
{
    for (int followed = 0;; ++followed) {
        StreamAnswer answer = co_await stream(url, options, sink, token);
        DownloadResult &result = answer.result;
        result.url = url;
        result.redirects = followed;
        if (!result.received || !isRedirect(result.status) || redirects.maxRedirects == 0)
            co_return result;

        const RedirectStep step = nextHop(redirects, url, answer.location, followed);
        if (!step.next) {
            DownloadResult refused;
            refused.url = url;
            refused.redirects = followed;
            refused.errorString = step.refusal;
            co_return refused;
        }
        url = *step.next;
    }
}

QCoro::Task<HttpClient::StreamAnswer> HttpClient::stream(QUrl url, const DownloadOptions &options,
                                                         const std::function<bool(QByteArrayView)> &sink, CancelToken token)
{
    DownloadResult result;
    if (token.isCancelled()) {
        result.cancelled = true;
        result.errorString = QStringLiteral("cancelled");
        co_return StreamAnswer{result, {}};
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // The body arrives as it is; a compressed transfer would make its length unknowable.
    request.setRawHeader("Accept-Encoding", "identity");
    if (m_ssl)
        request.setSslConfiguration(*m_ssl);

    std::unique_ptr<QNetworkReply> reply(threadManager().get(request));
    QNetworkReply *raw = reply.get();
    // Pieces are taken as they come; the reply need not keep more than a little of the body.
    raw->setReadBufferSize(256 * 1024);

    bool stalled = false;
    QTimer stall;
    stall.setSingleShot(true);
    stall.setTimerType(Qt::PreciseTimer);
    QObject::connect(&stall, &QTimer::timeout, raw, [raw, &stalled] {
        stalled = true;
        raw->abort();
    });
    stall.start(options.stallTimeout);
    if (CancelState *state = token.state())
        QObject::connect(state, &CancelState::cancelled, raw, [raw] { raw->abort(); });

    auto take = [&] {
        stall.start(options.stallTimeout);
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
    if (status.isValid() && status.toInt() == 200 && !result.tooLong && !result.sinkFailed && !stalled
        && !token.isCancelled() && raw->error() == QNetworkReply::NoError)
        take(); // the last piece, when it came with the end

    if (token.isCancelled()) {
        result.cancelled = true;
        result.errorString = QStringLiteral("cancelled");
    } else if (stalled) {
        result.errorString = QStringLiteral("No data arrived for %1 ms.").arg(options.stallTimeout.count());
    } else if (status.isValid()
               && (raw->error() == QNetworkReply::NoError || result.tooLong || result.sinkFailed
                   || raw->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)) {
        result.received = true;
        result.status = status.toInt();
    } else {
        // A body cut short by the server (its announced length not reached) ends here too.
        result.errorString = raw->errorString();
        if (status.isValid())
            result.status = status.toInt();
    }
    co_return StreamAnswer{result, QString::fromUtf8(raw->rawHeader("Location"))};
}

HttpClient &HttpClient::shared()
{
    static HttpClient client;
    return client;
}

} // namespace velmora::platform
