#include "platform/HttpClient.h"

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

} // namespace

QCoro::Task<HttpResponse> HttpClient::get(QUrl url, std::chrono::milliseconds timeout,
                                          CancelToken token, qint64 maxBodyBytes)
{
    HttpResponse result;
    if (token.isCancelled()) {
        result.cancelled = true;
        result.errorString = QStringLiteral("cancelled");
        co_return result;
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
    co_return result;
}

HttpClient &HttpClient::shared()
{
    static HttpClient client;
    return client;
}

} // namespace velmora::platform
