#include "TlsTestServer.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

namespace velmora::test {
namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TestCertificate TestCertificate::create()
{
    TestCertificate result;
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty()) {
        result.m_error = QStringLiteral("the openssl command is not installed");
        return result;
    }
    QTemporaryDir dir;
    if (!dir.isValid()) {
        result.m_error = QStringLiteral("no temporary folder: %1").arg(dir.errorString());
        return result;
    }
    const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
    const QString certificatePath = dir.filePath(QStringLiteral("certificate.pem"));

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(openssl, {
        QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-nodes"),
        QStringLiteral("-newkey"), QStringLiteral("ec"),
        QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
        QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certificatePath,
        QStringLiteral("-days"), QStringLiteral("7"),
        QStringLiteral("-subj"), QStringLiteral("/CN=localhost"),
        QStringLiteral("-addext"), QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1"),
    });
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        result.m_error = QStringLiteral("openssl failed: %1 %2")
                             .arg(process.errorString(), QString::fromLocal8Bit(process.readAll()));
        return result;
    }

    result.m_certificate = QSslCertificate(readAll(certificatePath), QSsl::Pem);
    result.m_key = QSslKey(readAll(keyPath), QSsl::Ec, QSsl::Pem);
    if (!result.isValid())
        result.m_error = QStringLiteral("openssl wrote a certificate or key that Qt cannot read");
    return result;
}

const TestCertificate &TestCertificate::localhost()
{
    static const TestCertificate certificate = create();
    return certificate;
}

QSslConfiguration TestCertificate::clientConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(m_certificate);
    return configuration;
}

QSslConfiguration TestCertificate::serverConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(m_certificate);
    configuration.setPrivateKey(m_key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

LoopbackHttpsServer::LoopbackHttpsServer(QObject *parent)
    : LoopbackHttpsServer(TestCertificate::localhost(), parent)
{
}

LoopbackHttpsServer::LoopbackHttpsServer(const TestCertificate &certificate, QObject *parent)
    : QObject(parent), m_certificate(certificate)
{
    connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            serve(socket);
    });
    connect(&m_server, &QSslServer::errorOccurred, this, [this](QSslSocket *, QAbstractSocket::SocketError) {
        ++m_failedHandshakes;
    });
}

bool LoopbackHttpsServer::listen(quint16 port)
{
    if (!m_certificate.isValid()) {
        m_error = m_certificate.error();
        return false;
    }
    m_server.setSslConfiguration(m_certificate.serverConfiguration());
    if (!m_server.listen(QHostAddress::LocalHost, port)) {
        m_error = m_server.errorString();
        return false;
    }
    return true;
}

void LoopbackHttpsServer::close()
{
    m_server.close();
}

quint16 LoopbackHttpsServer::port() const
{
    return m_server.serverPort();
}

QUrl LoopbackHttpsServer::baseUrl() const
{
    return QUrl(QStringLiteral("https://localhost:%1").arg(port()));
}

QUrl LoopbackHttpsServer::url(const QString &path) const
{
    return QUrl(baseUrl().toString() + path);
}

void LoopbackHttpsServer::serve(QTcpSocket *socket)
{
    socket->setParent(this);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        if (buffer->indexOf("\r\n\r\n") < 0)
            return;
        const QList<QByteArray> requestLine = buffer->left(buffer->indexOf("\r\n")).split(' ');
        const QByteArray method = requestLine.value(0);
        const QString path = QString::fromLatin1(requestLine.value(1));
        buffer->clear();
        m_requests.append(path);
        emit requestReceived(path);

        const HttpReply reply = m_handler ? m_handler(method, path) : HttpReply{404, "not found", {}, false};
        if (reply.hang)
            return;
        QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
        for (const auto &[name, value] : reply.headers)
            response += name + ": " + value + "\r\n";
        if (reply.status != 204 && reply.status != 304)
            response += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        response += "Connection: close\r\n\r\n";
        if (method != "HEAD")
            response += reply.body;
        socket->write(response);
        socket->disconnectFromHost();
    });
}

} // namespace velmora::test
