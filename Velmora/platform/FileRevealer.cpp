#include "platform/FileRevealer.h"

#include "platform/UrlOpener.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QUrl>

namespace velmora::platform {

FileRevealer::FileRevealer(UrlOpener &opener) : m_opener(opener) {}

void FileRevealer::reveal(const QString &file, std::function<void(bool)> done)
{
    if (!done)
        done = [](bool) {};
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(file).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        done(m_opener.openUrl(folder));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file).toString()} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, int(answerTimeout.count())));
    UrlOpener *opener = &m_opener;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, opener, folder, done] {
        done(!watcher->isError() || opener->openUrl(folder));
        watcher->deleteLater();
    });
}

FileRevealer &FileRevealer::system()
{
    static FileRevealer revealer(UrlOpener::system());
    return revealer;
}

} // namespace velmora::platform
