#pragma once

// Shared pieces of the test suite: a loopback HTTP server that answers as each test tells it,
// file reading and writing, the path of the helper programs built beside the tests, settings
// kept in a temporary folder, and a way to let queued deliveries run.

#include <QByteArray>
#include <QEventLoop>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>
#include <type_traits>

namespace velmora::test {

// How long a test waits for something that should happen soon (a signal, a state, a task), in
// milliseconds: generous for a loaded two-core machine, short enough that a hang fails in
// seconds rather than at CTest's time-out.
inline constexpr int patience = 20000;

namespace detail {
[[noreturn]] void waitedTooLong(int bound);

template<typename T>
QCoro::Task<> finishInto(QCoro::Task<T> &task, std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> &result,
                         QEventLoop &loop)
{
    if constexpr (std::is_void_v<T>) {
        co_await task;
        result = true;
    } else {
        result = co_await task;
    }
    loop.quit();
}
} // namespace detail

// Runs the event loop until task has finished and gives its result. A task that is still
// running after bound milliseconds ends the test program with a message: it would otherwise
// hang until CTest's time-out.
template<typename T>
T waitFor(QCoro::Task<T> &task, int bound = patience)
{
    QEventLoop loop;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    QCoro::Task<> finishing = detail::finishInto(task, result, loop);
    if (!result) {
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(bound);
        loop.exec();
    }
    if (!result)
        detail::waitedTooLong(bound);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

template<typename T>
T waitFor(QCoro::Task<T> &&task, int bound = patience)
{
    return waitFor(task, bound);
}

struct HttpReply
{
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // besides Content-Length and Connection
    // Accept the connection but never answer (for time-out tests).
    bool hang = false;
    // The Content-Length sent: -1 the body's size, -2 none (the body ends with the connection).
    // A larger number than the body's size makes a body cut short.
    qint64 announcedLength = -1;
    // A transfer broken mid-way: only this many bytes of the body are sent (Content-Length
    // still announces all of it), then the connection is closed, at once or, when held, once
    // the test calls breakHeldTransfers(). A held transfer can also go on to the end:
    // finishHeldTransfers(). Negative: the whole body.
    qsizetype sendOnly = -1;
    bool held = false;

    static HttpReply json(const QByteArray &body, int status = 200)
    {
        return HttpReply{status, body, {{"Content-Type", "application/json"}}, false};
    }
};

// A real HTTP/1.1 server on 127.0.0.1, one request per connection. LoopbackHttpsServer
// (TlsTestServer.h) is the same server over TLS.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<HttpReply(const QByteArray &method, const QString &path)>;

    explicit LoopbackHttpServer(QObject *parent = nullptr);
    // Port 0 picks a free one. False (see errorString()) when the server cannot listen.
    bool listen(quint16 port = 0);
    void close();
    QString errorString() const { return m_error; }
    quint16 port() const;
    // http://127.0.0.1:PORT, or https://localhost:PORT over TLS.
    QUrl baseUrl() const;
    // baseUrl() with path (which starts with "/").
    QUrl url(const QString &path) const;

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Every path asked for, in order.
    const QStringList &requests() const { return m_requests; }
    // Connections accepted so far, counted when they arrive (over TLS: before the handshake).
    int connections() const { return m_connections; }
    // Connections left hanging by a reply (HttpReply::hang) that the client has closed since.
    int hangingClosed() const { return m_hangingClosed; }
    // Held replies (HttpReply::held) whose connection is still open.
    int heldTransfers() const;
    // Closes the connections of the held replies, breaking their transfers; heldTransfers()
    // falls to 0 once they are closed.
    void breakHeldTransfers();
    // Sends the rest of the held replies' bodies, then closes their connections: transfers
    // that paused and then completed. A test that needs a download to arrive in more than one
    // piece, whatever the machine's timing, holds it and finishes it once the first piece is in.
    void finishHeldTransfers();

signals:
    void requestReceived(const QString &path);

protected:
    // A server that accepts through server (owned from here on; a QSslServer for TLS) and is
    // reached at scheme://host:PORT.
    LoopbackHttpServer(QTcpServer *server, const QString &scheme, const QString &host, QObject *parent);
    // Called by listen() first: false, with the reason in m_error, refuses to listen.
    virtual bool readyToListen() { return true; }

    QTcpServer *m_server;
    QString m_error;

private:
    void serve(class QTcpSocket *socket);

    QString m_scheme;
    QString m_host;
    Handler m_handler;
    QStringList m_requests;
    int m_connections = 0;
    int m_hangingClosed = 0;
    struct HeldTransfer
    {
        QPointer<QTcpSocket> socket;
        QByteArray rest; // of the body, not sent yet
    };
    QList<HeldTransfer> m_held;
};

// The whole content of the file at path; empty when it cannot be read.
QByteArray readFile(const QString &path);
// Writes content to path, making its folder first; executable adds the owner's execute bit.
bool writeFile(const QString &path, const QByteArray &content, bool executable = false);

// A port on 127.0.0.1 that nothing listens on, held for as long as this object lives: its
// socket stays bound (with SO_REUSEADDR, never listening), so the system hands the port to no
// one else, neither to a listener asking for any free port nor as the source port of an
// outgoing connection. A connection to it is refused until a program that also sets
// SO_REUSEADDR (uvicorn, the fake backend) binds it and listens: the port is handed over
// bound rather than picked and released.
class ReservedPort
{
public:
    ReservedPort();
    ~ReservedPort();
    Q_DISABLE_COPY_MOVE(ReservedPort)

    quint16 number() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

// The path of a helper program from tests/helpers.
QString helperProgram(const QString &name);

// Lets every delivery already queued (and the ones those queue in turn) run.
void drainEvents();

// While it lives, QSettings' user scope is a temporary folder of its own (empty at first) under
// the organisation "VelmoraTests", so a test never reads or writes the user's settings. The
// user's folder and the organisation come back when it goes.
class TemporarySettings
{
public:
    TemporarySettings();
    ~TemporarySettings();
    Q_DISABLE_COPY_MOVE(TemporarySettings)

    bool isValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
    QString m_organization;
};

} // namespace velmora::test
