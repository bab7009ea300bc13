#include "TestSupport.h"

#include <QTcpSocket>

namespace velmora::test {

LoopbackHttpServer::LoopbackHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

bool LoopbackHttpServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

void LoopbackHttpServer::close()
{
    m_server.close();
}

quint16 LoopbackHttpServer::port() const
{
    return m_server.serverPort();
}

QUrl LoopbackHttpServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
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

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString helperProgram(const QString &name)
{
    return QStringLiteral(VELMORA_TEST_BIN_DIR) + QLatin1Char('/') + name;
}

} // namespace velmora::test
