#pragma once

// Shared pieces of the test suite: a loopback HTTP server that answers as each test tells it,
// the path of the helper programs built beside the tests, and a URL opener that records.

#include "platform/UrlOpener.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <functional>

namespace velmora::test {

struct HttpReply
{
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // besides Content-Length and Connection
    // Accept the connection but never answer (for time-out tests).
    bool hang = false;

    static HttpReply json(const QByteArray &body, int status = 200)
    {
        return HttpReply{status, body, {{"Content-Type", "application/json"}}, false};
    }
};

// A real HTTP/1.1 server on 127.0.0.1, one request per connection.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<HttpReply(const QByteArray &method, const QString &path)>;

    explicit LoopbackHttpServer(QObject *parent = nullptr);
    // Port 0 picks a free one.
    bool listen(quint16 port = 0);
    void close();
    quint16 port() const;
    QUrl baseUrl() const;

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Every path asked for, in order.
    const QStringList &requests() const { return m_requests; }

signals:
    void requestReceived(const QString &path);

private:
    void serve(class QTcpSocket *socket);

    QTcpServer m_server;
    Handler m_handler;
    QStringList m_requests;
};

// A port on 127.0.0.1 that nothing listens on right now.
quint16 freeLoopbackPort();

// The path of a helper program from tests/helpers.
QString helperProgram(const QString &name);

class RecordingUrlOpener : public platform::UrlOpener
{
public:
    bool openUrl(const QUrl &url) override
    {
        opened.append(url);
        return true;
    }
    QList<QUrl> opened;
};

} // namespace velmora::test
