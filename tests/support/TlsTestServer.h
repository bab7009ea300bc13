#pragma once

// HTTPS on the loopback interface for tests: a certificate for "localhost" made at run time
// with the openssl command, and a server that answers like LoopbackHttpServer but over TLS.
//
//   LoopbackHttpsServer server;
//   QVERIFY2(server.listen(), qPrintable(server.errorString()));
//   server.setHandler([](const QByteArray &, const QString &path) { return HttpReply{200, "…"}; });
//   platform::HttpClient http;
//   http.setSslConfiguration(server.clientConfiguration());
//   co_await http.get(server.url(u"/feed.xml"), …);    // https://localhost:PORT/feed.xml

#include "TestSupport.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>

namespace velmora::test {

// A self-signed certificate for the host name "localhost" and the address 127.0.0.1, with its
// private key, valid for a few days from now.
class TestCertificate
{
public:
    // Makes a fresh key and certificate with the openssl command in a temporary folder (removed
    // again at once). On failure isValid() is false and error() says why.
    static TestCertificate create();
    // One certificate made on first use and kept for the rest of the test process.
    static const TestCertificate &localhost();

    bool isValid() const { return !m_certificate.isNull() && !m_key.isNull(); }
    QString error() const { return m_error; }
    QSslCertificate certificate() const { return m_certificate; }
    QSslKey privateKey() const { return m_key; }

    // Client TLS settings that trust this certificate besides the system's authorities, for
    // platform::HttpClient::setSslConfiguration().
    QSslConfiguration clientConfiguration() const;
    // Server TLS settings that present this certificate.
    QSslConfiguration serverConfiguration() const;

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
    QString m_error;
};

// A real HTTPS/1.1 server on 127.0.0.1, one request per connection, with the handler and
// request log of LoopbackHttpServer. Reach it as https://localhost:PORT.
class LoopbackHttpsServer : public QObject
{
    Q_OBJECT
public:
    using Handler = LoopbackHttpServer::Handler;

    // Serves with certificate, by default TestCertificate::localhost().
    explicit LoopbackHttpsServer(QObject *parent = nullptr);
    explicit LoopbackHttpsServer(const TestCertificate &certificate, QObject *parent = nullptr);

    // Port 0 picks a free one. False (see errorString()) when the certificate is unusable or
    // the port is taken.
    bool listen(quint16 port = 0);
    void close();
    QString errorString() const { return m_error; }
    quint16 port() const;
    // https://localhost:PORT
    QUrl baseUrl() const;
    // baseUrl() with path (which starts with "/").
    QUrl url(const QString &path) const;

    // The client TLS settings that trust this server's certificate.
    QSslConfiguration clientConfiguration() const { return m_certificate.clientConfiguration(); }

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Every path asked for, in order.
    const QStringList &requests() const { return m_requests; }
    // TLS handshakes that failed (for example because the client did not trust the certificate).
    int failedHandshakes() const { return m_failedHandshakes; }

signals:
    void requestReceived(const QString &path);

private:
    void serve(QTcpSocket *socket);

    TestCertificate m_certificate;
    QSslServer m_server;
    Handler m_handler;
    QStringList m_requests;
    QString m_error;
    int m_failedHandshakes = 0;
};

} // namespace velmora::test
