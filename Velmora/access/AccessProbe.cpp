#include "access/AccessProbe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::access {

System currentSystem()
{
#ifdef Q_OS_MACOS
    return System::MacOS;
#else
    return System::Linux;
#endif
}

bool probeAuthorization()
{
    return probeAuthorization(currentSystem(), QStringLiteral("/"), QDir::homePath());
}

bool probeAuthorization(System system, const QString &rootDirectory, const QString &homeDirectory)
{
    switch (system) {
    case System::MacOS:
        return opensAsRegularFile(privacyDatabasePaths(rootDirectory, homeDirectory));
    case System::Linux:
        return sandboxExposesHome(QDir(rootDirectory).filePath(QStringLiteral(".flatpak-info")), homeDirectory);
    }
    return false;
}

QStringList privacyDatabasePaths(const QString &rootDirectory, const QString &homeDirectory)
{
    const QString database = QStringLiteral("Library/Application Support/com.apple.TCC/TCC.db");
    return {QDir(rootDirectory).filePath(database), QDir(homeDirectory).filePath(database)};
}

bool opensAsRegularFile(const QStringList &candidates)
{
    for (const QString &path : candidates) {
        // O_NONBLOCK: a named pipe planted at a candidate path would otherwise block the open
        // for good; for a regular file it changes nothing.
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat status
        {};
        const bool inspected = ::fstat(fd, &status) == 0;
        ::close(fd);
        if (inspected && (status.st_mode & S_IFMT) == S_IFREG)
            return true;
    }
    return false;
}

bool sandboxExposesHome(const QString &flatpakInfoPath, const QString &homeDirectory)
{
    if (!QFileInfo::exists(flatpakInfoPath))
        return true;

    QFile info(flatpakInfoPath);
    if (!info.open(QIODevice::ReadOnly))
        return false;
    return flatpakInfoExposesHome(info.readAll(), homeDirectory);
}

bool flatpakInfoExposesHome(const QByteArray &flatpakInfo, const QString &homeDirectory)
{
    // A key file: the granted file-system locations are the "filesystems" list of [Context],
    // each optionally suffixed with :ro, :rw or :create, or prefixed with ! when revoked.
    QString section;
    QStringList filesystems;
    for (const QByteArray &rawLine : flatpakInfo.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2);
            continue;
        }
        if (section != QLatin1String("Context"))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && line.left(equals).trimmed() == QLatin1String("filesystems"))
            filesystems = line.mid(equals + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    }

    const QString home = QDir::cleanPath(homeDirectory);
    auto coversHome = [&home](QString entry) {
        const qsizetype colon = entry.lastIndexOf(QLatin1Char(':'));
        if (colon > 0)
            entry = entry.left(colon);
        if (entry == QLatin1String("home") || entry == QLatin1String("host") || entry == QLatin1String("~"))
            return true;
        return entry.startsWith(QLatin1Char('/')) && QDir::cleanPath(entry) == home;
    };
    bool granted = false;
    for (QString entry : std::as_const(filesystems)) {
        entry = entry.trimmed();
        if (entry.startsWith(QLatin1Char('!'))) {
            if (coversHome(entry.mid(1)))
                return false;
            continue;
        }
        granted = granted || coversHome(entry);
    }
    return granted;
}

} // namespace velmora::access
