#include "RunningBackend.h"

#include "TestSupport.h"

#include "platform/HttpClient.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>

using namespace std::chrono_literals;

namespace velmora::test {

QString backendParent(quint16 port)
{
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/healthz").arg(port));
    const auto reply = test::waitFor(platform::HttpClient::shared().get(url, platform::RedirectPolicy::none(), 1s));
    if (!reply.received || reply.status != 200)
        return {};
    return QJsonDocument::fromJson(reply.body).object().value(QStringLiteral("desktop_parent_pid")).toString();
}

bool portAccepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}

qint64 backendPid(const QString &logPath, quint16 port)
{
    const QRegularExpression line(QStringLiteral("Velmora backend pid (\\d+) on port %1 ").arg(port));
    qint64 pid = 0;
    for (auto it = line.globalMatch(QString::fromUtf8(readFile(logPath))); it.hasNext();)
        pid = it.next().captured(1).toLongLong();
    return pid;
}

bool processGone(qint64 pid)
{
    const QByteArray text = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = text.lastIndexOf(')');
    return text.isEmpty() || close < 0 || text.mid(close + 2, 1) == "Z";
}

} // namespace velmora::test
