#include "workspace/VoiceMemoRecordings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <cerrno>

#include <dirent.h>

namespace velmora::workspace {

RecordingPlaces RecordingPlaces::current()
{
    const QString home = QDir::homePath();
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    return {home, QDir::isAbsolutePath(dataHome) ? dataHome : home + QStringLiteral("/.local/share")};
}

QStringList recordingFolders(const RecordingPlaces &places)
{
    QStringList folders;
    for (const QString &relative : voiceMemoRecordingFolders)
        folders.append(places.home + QLatin1Char('/') + relative);
    for (const RecorderFolder &folder : soundRecorderFolders) {
        const QString &base = folder.base == RecorderFolder::Base::Home ? places.home : places.dataHome;
        folders.append(base + QLatin1Char('/') + folder.relativePath);
    }
    return folders;
}

FolderAccess folderAccess(const QString &folder)
{
    // QDir cannot tell an empty folder from one it may not read; the directory stream can.
    DIR *stream = ::opendir(QFile::encodeName(folder).constData());
    if (!stream)
        return errno == ENOENT || errno == ENOTDIR ? FolderAccess::Missing : FolderAccess::Refused;
    errno = 0;
    while (::readdir(stream)) {
    }
    const bool listed = errno == 0;
    ::closedir(stream);
    return listed ? FolderAccess::Listed : FolderAccess::Refused;
}

bool canListAnyFolder(const QStringList &folders)
{
    for (const QString &folder : folders) {
        if (folderAccess(folder) == FolderAccess::Listed)
            return true;
    }
    return false;
}

bool recordingsReadable(const QList<FolderAccess> &found, bool permissionSystem)
{
    if (found.contains(FolderAccess::Listed))
        return true;
    return !permissionSystem && !found.contains(FolderAccess::Refused);
}

void probeVoiceMemoAccess(const RecordingPlaces &places, QObject *receiver, std::function<void(bool)> completion)
{
    const QStringList folders = recordingFolders(places);
    QPointer<QObject> target(receiver);
    QThreadPool::globalInstance()->start([folders, target, completion = std::move(completion)]() {
        QList<FolderAccess> found;
        for (const QString &folder : folders) {
            found.append(folderAccess(folder));
            if (found.last() == FolderAccess::Listed)
                break;
        }
        const bool readable = recordingsReadable(found, recordingsNeedPermission);
        // The receiver is only looked at on the main thread, where it lives and may go away.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [target, completion, readable] {
                if (target)
                    completion(readable);
            },
            Qt::QueuedConnection);
    });
}

} // namespace velmora::workspace
