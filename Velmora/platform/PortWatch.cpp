#include "platform/PortWatch.h"

#include <QTcpSocket>

namespace velmora::platform {

PortWatch::PortWatch(const QString &host, quint16 port, std::chrono::milliseconds interval, std::chrono::milliseconds period,
                     QObject *parent)
    : QObject(parent)
    , m_address(host)
    , m_port(port)
    , m_period(period)
{
    m_tick.setInterval(interval);
    connect(&m_tick, &QTimer::timeout, this, &PortWatch::tryOnce);
    m_clock.start();
    m_tick.start();
    tryOnce();
}

PortWatch::~PortWatch()
{
    if (m_socket)
        m_socket->abort();
}

void PortWatch::tryOnce()
{
    // A try still pending after a whole interval is dropped and made afresh.
    if (m_socket)
        m_socket->abort();
    if (m_clock.elapsed() >= m_period.count()) {
        stop();
        emit gaveUp();
        return;
    }
    m_socket = std::make_unique<QTcpSocket>();
    connect(m_socket.get(), &QTcpSocket::connected, this, [this] {
        stop();
        emit accepting();
    });
    m_socket->connectToHost(m_address, m_port);
}

void PortWatch::stop()
{
    m_tick.stop();
    // Not deleted here: this may run inside one of the socket's own signals.
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

} // namespace velmora::platform
