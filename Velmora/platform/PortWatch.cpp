#include "platform/PortWatch.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>


namespace velmora::platform {

QCoro::Task<bool> whenAccepting(QString host, quint16 port, std::chrono::milliseconds interval,
                                std::chrono::milliseconds period, CancelToken token)
{
    const QHostAddress address(host);
    QElapsedTimer clock;
    clock.start();
    while (!token.isCancelled() && clock.elapsed() < period.count()) {
        // On loopback a connection is accepted or refused at once: the state after one
        // interval is the answer, and a try still pending then is dropped and made afresh.
        // (Nothing here awaits the socket's own signals, which may come several at a time.)
        QTcpSocket socket;
        socket.connectToHost(address, port);
        const bool waited = co_await sleepFor(interval, token);
        const bool accepted = socket.state() == QAbstractSocket::ConnectedState;
        socket.abort();
        if (!waited)
            co_return false;
        if (accepted)
            co_return true;
    }
    co_return false;
}

} // namespace velmora::platform
