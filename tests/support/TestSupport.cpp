#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::test {

LoopbackHttpServer::LoopbackHttpServer(QObject *parent)
    : LoopbackHttpServer(new QTcpServer, QStringLiteral("http"), QStringLiteral("127.0.0.1"), parent)
{}

LoopbackHttpServer::LoopbackHttpServer(QTcpServer *server, const QString &scheme, const QString &host, QObject *parent)
    : QObject(parent)
    , m_server(server)
    , m_scheme(scheme)
    , m_host(host)
{
    m_server->setParent(this);
    // newConnection comes for every connection as it arrives; a TLS connection only becomes
    // pending once its handshake is done.
    connect(m_server, &QTcpServer::newConnection, this, [this] { ++m_connections; });
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection())
            serve(socket);
    });
}

bool LoopbackHttpServer::listen(quint16 port)
{
    if (!readyToListen())
        return false;
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        m_error = m_server->errorString();
        return false;
    }
    return true;
}

void LoopbackHttpServer::close()
{
    m_server->close();
}

quint16 LoopbackHttpServer::port() const
{
    return m_server->serverPort();
}

QUrl LoopbackHttpServer::baseUrl() const
{
    return QUrl(QStringLiteral("%1://%2:%3").arg(m_scheme, m_host).arg(port()));
}

QUrl LoopbackHttpServer::url(const QString &path) const
{
    return QUrl(baseUrl().toString() + path);
}

void LoopbackHttpServer::serve(QTcpSocket *socket)
{
    socket->setParent(this);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> requestLine = buffer->left(buffer->indexOf("\r\n")).split(' ');
        const QByteArray method = requestLine.value(0);
        const QString path = QString::fromLatin1(requestLine.value(1));
        buffer->clear();
        m_requests.append(path);
        emit requestReceived(path);

        const HttpReply reply = m_handler ? m_handler(method, path) : HttpReply{404, "not found", {}, false};
        if (reply.hang) {
            connect(socket, &QTcpSocket::disconnected, this, [this] { ++m_hangingClosed; });
            return;
        }
        QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
        for (const auto &[name, value] : reply.headers)
            response += name + ": " + value + "\r\n";
        if (reply.status != 204 && reply.status != 304 && reply.announcedLength != -2)
            response += "Content-Length: "
                        + QByteArray::number(reply.announcedLength >= 0 ? reply.announcedLength : reply.body.size())
                        + "\r\n";
        response += "Connection: close\r\n\r\n";
        if (method != "HEAD")
            response += reply.sendOnly < 0 ? reply.body : reply.body.left(reply.sendOnly);
        socket->write(response);
        if (reply.sendOnly >= 0 && reply.held) {
            m_held.append({socket, method != "HEAD" ? reply.body.mid(reply.sendOnly) : QByteArray()});
            return;
        }
        socket->disconnectFromHost();
    });
}

int LoopbackHttpServer::heldTransfers() const
{
    return int(std::count_if(m_held.cbegin(), m_held.cend(), [](const HeldTransfer &held) {
        return held.socket && held.socket->state() != QAbstractSocket::UnconnectedState;
    }));
}

void LoopbackHttpServer::breakHeldTransfers()
{
    for (const HeldTransfer &held : std::as_const(m_held)) {
        if (held.socket)
            held.socket->disconnectFromHost();
    }
}

void LoopbackHttpServer::finishHeldTransfers()
{
    for (HeldTransfer &held : m_held) {
        if (!held.socket)
            continue;
        held.socket->write(std::exchange(held.rest, {}));
        held.socket->disconnectFromHost(); // after what is written has gone out
    }
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &content, bool executable)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content);
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return true;
}

void detail::waitedTooLong(int bound)
{
    qFatal("a task the test waits for is still running after %d ms", bound);
}

ReservedPort::ReservedPort()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        qFatal("cannot reserve a loopback port: %s", std::strerror(errno));
    m_port = ntohs(address.sin_port);
}

ReservedPort::~ReservedPort()
{
    ::close(m_fd);
}

QString helperProgram(const QString &name)
{
    return QStringLiteral(VELMORA_TEST_BIN_DIR) + QLatin1Char('/') + name;
}

void drainEvents()
{
    for (int round = 0; round < 3; ++round) {
        bool ran = false;
        QTimer::singleShot(0, [&ran] { ran = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ran, test::patience);
    }
}

TemporarySettings::TemporarySettings() : m_organization(QCoreApplication::organizationName())
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("VelmoraTests"));
}

TemporarySettings::~TemporarySettings()
{
    const QString userConfig = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, userConfig);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, userConfig);
    QCoreApplication::setOrganizationName(m_organization);
}

} // namespace velmora::test
