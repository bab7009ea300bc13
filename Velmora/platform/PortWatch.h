#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

class QTcpSocket;

namespace velmora::platform {

// Tells the moment a server being started begins to accept connections, without asking it
// anything: tries a TCP connection to host:port every interval, for at most period, and
// closes the first one accepted at once, unused. Meant for loopback, where a connection is
// accepted or refused at once.
class PortWatch : public QObject
{
    Q_OBJECT
public:
    /// Starts trying at once.
    PortWatch(const QString &host, quint16 port, std::chrono::milliseconds interval, std::chrono::milliseconds period,
              QObject *parent = nullptr);
    ~PortWatch() override;

    /// True while it is still trying.
    bool isWatching() const { return m_tick.isActive(); }

signals:
    /// Once, when a connection was accepted; the watch stops then.
    void accepting();
    /// Once, when period ran out without one.
    void gaveUp();

private:
    void tryOnce();
    void stop();

    QHostAddress m_address;
    quint16 m_port;
    std::chrono::milliseconds m_period;
    QTimer m_tick;
    QElapsedTimer m_clock;
    std::unique_ptr<QTcpSocket> m_socket;
};

} // namespace velmora::platform
