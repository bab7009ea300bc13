#include "platform/ListeningPorts.h"

#include <QFile>
#include <QTcpServer>

#include <cerrno>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::platform {

namespace {

// The state the kernel writes for a listening socket (TCP_LISTEN).
constexpr QByteArrayView listenState = "0A";

// The next field of line from at (fields are separated by spaces); empty at the line's end.
QByteArrayView nextField(QByteArrayView line, qsizetype &at)
{
    while (at < line.size() && line.at(at) == ' ')
        ++at;
    const qsizetype start = at;
    while (at < line.size() && line.at(at) != ' ')
        ++at;
    return line.sliced(start, at - start);
}

// The value of a hex digit (either case); -1 for anything else.
int hexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    return -1;
}

} // namespace

bool socketTableListensOn(QByteArrayView table, quint16 port)
{
    // A line: "  0: 0100007F:4952 00000000:0000 0A ...": slot, local address:port in hex,
    // remote address:port, state. The first line names the columns.
    qsizetype lineStart = 0;
    while (lineStart < table.size()) {
        qsizetype lineEnd = table.indexOf('\n', lineStart);
        if (lineEnd < 0)
            lineEnd = table.size();
        const QByteArrayView line = table.sliced(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        qsizetype at = 0;
        const QByteArrayView slot = nextField(line, at);
        const QByteArrayView local = nextField(line, at);
        nextField(line, at); // remote
        const QByteArrayView state = nextField(line, at);
        if (!slot.endsWith(':') || state != listenState)
            continue;
        const qsizetype colon = local.lastIndexOf(':');
        if (colon < 0 || local.size() - colon - 1 != 4)
            continue;
        // Four hex digits, nothing else (no sign, no "0x").
        uint localPort = 0;
        bool hex = true;
        for (const char digit : local.sliced(colon + 1)) {
            const int value = hexValue(digit);
            hex = hex && value >= 0;
            localPort = localPort * 16 + uint(value);
        }
        if (hex && localPort == port)
            return true;
    }
    return false;
}

bool loopbackRefuses(quint16 port)
{
    // On loopback the answer to a connection comes at once; the bound only covers a listener
    // too busy to take it, which counts as one that is there.
    constexpr int answerMs = 200;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd wait = {fd, POLLOUT, 0};
            int ready;
            do {
                ready = ::poll(&wait, 1, answerMs);
            } while (ready < 0 && errno == EINTR);
            socklen_t size = sizeof error;
            if (ready != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                error = EINPROGRESS;
        }
    }
    ::close(fd);
    return error == ECONNREFUSED;
}

std::optional<quint16> freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return std::nullopt;
    return probe.serverPort();
}

std::optional<bool> isListeningOn(quint16 port)
{
#ifdef Q_OS_LINUX
    bool readAny = false;
    for (const char *path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile table(QString::fromLatin1(path));
        if (!table.open(QIODevice::ReadOnly))
            continue;
        readAny = true;
        // The pseudo-file has no size: read to its end.
        if (socketTableListensOn(table.readAll(), port))
            return true;
    }
    if (readAny)
        return false;
#else
    Q_UNUSED(port);
#endif
    return std::nullopt;
}

} // namespace velmora::platform
