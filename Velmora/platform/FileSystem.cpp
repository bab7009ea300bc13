#include "platform/FileSystem.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace velmora::platform {

bool fileExists(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

bool isExecutableFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return ::access(native.constData(), X_OK) == 0;
}

} // namespace velmora::platform
