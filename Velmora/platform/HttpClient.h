#pragma once

#include "platform/Async.h"

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

class QNetworkAccessManager;

namespace velmora::platform {

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
};

// HTTP GET with a whole-request time-out, bypassing every cache, on the calling thread's
// network access manager.
class HttpClient
{
public:
    virtual ~HttpClient() = default;

    // A body longer than maxBodyBytes ends the transfer early and sets bodyTooLarge.
    virtual QCoro::Task<HttpResponse> get(QUrl url, std::chrono::milliseconds timeout,
                                          CancelToken token = {},
                                          qint64 maxBodyBytes = 64 * 1024 * 1024);

    // Extra TLS settings (for example a test's own certificate authority).
    void setSslConfiguration(const QSslConfiguration &configuration) { m_ssl = configuration; }

    // The client of the main thread, shared by the whole application.
    static HttpClient &shared();

private:
    std::optional<QSslConfiguration> m_ssl;
};

} // namespace velmora::platform
