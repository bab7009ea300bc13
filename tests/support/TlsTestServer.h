#pragma once

// HTTPS on the loopback interface for tests: a certificate for "localhost" made at run time
// with the openssl command, and a server that answers like LoopbackHttpServer but over TLS.
//
//   LoopbackHttpsServer server;
//   QVERIFY2(server.listen(), qPrintable(server.errorString()));
//   server.setHandler([](const QByteArray &, const QString &path) { return HttpReply{200, "…"}; });
//   platform::HttpClient http;
//   http.setSslConfiguration(server.clientConfiguration());
//   co_await http.get(server.url(u"/feed.xml"), RedirectPolicy::none(), …); // https://localhost:PORT/feed.xml

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

// LoopbackHttpServer over TLS: the same handler, request log and counters, reached as
// https://localhost:PORT.
class LoopbackHttpsServer : public LoopbackHttpServer
{
    Q_OBJECT
public:
    // Serves with certificate, by default TestCertificate::localhost().
    explicit LoopbackHttpsServer(QObject *parent = nullptr);
    explicit LoopbackHttpsServer(const TestCertificate &certificate, QObject *parent = nullptr);

    // The client TLS settings that trust this server's certificate.
    QSslConfiguration clientConfiguration() const { return m_certificate.clientConfiguration(); }

    // TLS handshakes that failed (for example because the client did not trust the certificate).
    int failedHandshakes() const { return m_failedHandshakes; }

protected:
    // Refuses (see errorString()) when the certificate is unusable.
    bool readyToListen() override;

private:
    TestCertificate m_certificate;
    int m_failedHandshakes = 0;
};

} // namespace velmora::test
