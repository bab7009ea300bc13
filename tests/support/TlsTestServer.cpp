#include "TlsTestServer.h"

#include <QProcess>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace velmora::test {

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
                               QStringLiteral("req"),
                               QStringLiteral("-x509"),
                               QStringLiteral("-nodes"),
                               QStringLiteral("-newkey"),
                               QStringLiteral("ec"),
                               QStringLiteral("-pkeyopt"),
                               QStringLiteral("ec_paramgen_curve:prime256v1"),
                               QStringLiteral("-keyout"),
                               keyPath,
                               QStringLiteral("-out"),
                               certificatePath,
                               QStringLiteral("-days"),
                               QStringLiteral("7"),
                               QStringLiteral("-subj"),
                               QStringLiteral("/CN=localhost"),
                               QStringLiteral("-addext"),
                               QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1"),
                           });
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        result.m_error = QStringLiteral("openssl failed: %1 %2")
                             .arg(process.errorString(), QString::fromLocal8Bit(process.readAll()));
        return result;
    }

    result.m_certificate = QSslCertificate(readFile(certificatePath), QSsl::Pem);
    result.m_key = QSslKey(readFile(keyPath), QSsl::Ec, QSsl::Pem);
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

LoopbackHttpsServer::LoopbackHttpsServer(QObject *parent) : LoopbackHttpsServer(TestCertificate::localhost(), parent) {}

LoopbackHttpsServer::LoopbackHttpsServer(const TestCertificate &certificate, QObject *parent)
    : LoopbackHttpServer(new QSslServer, QStringLiteral("https"), QStringLiteral("localhost"), parent)
    , m_certificate(certificate)
{
    auto *server = static_cast<QSslServer *>(m_server);
    connect(server, &QSslServer::errorOccurred, this,
            [this](QSslSocket *, QAbstractSocket::SocketError) { ++m_failedHandshakes; });
}

bool LoopbackHttpsServer::readyToListen()
{
    if (!m_certificate.isValid()) {
        m_error = m_certificate.error();
        return false;
    }
    static_cast<QSslServer *>(m_server)->setSslConfiguration(m_certificate.serverConfiguration());
    return true;
}

} // namespace velmora::test
