#include "workspace/FileInputRules.h"

#include <QMimeDatabase>
#include <QMimeType>

#include <algorithm>

namespace velmora::workspace {

namespace {

bool isMediaName(const QString &name)
{
    return name.startsWith(QLatin1String("audio/")) || name.startsWith(QLatin1String("video/"));
}

bool isMedia(const QMimeType &type)
{
    return type.isValid() && isMediaMimeType(type.name(), type.allAncestors());
}

} // namespace

bool isMediaMimeType(const QString &name, const QStringList &ancestors)
{
    return isMediaName(name) || std::any_of(ancestors.cbegin(), ancestors.cend(), isMediaName);
}

QStringList mediaNamePatterns()
{
    QStringList patterns;
    for (const QMimeType &type : QMimeDatabase().allMimeTypes()) {
        if (isMedia(type))
            patterns.append(type.globPatterns());
    }
    patterns.sort();
    patterns.removeDuplicates();
    return patterns;
}

QStringList acceptedMediaFiles(const QStringList &chosen, bool multiple)
{
    const QMimeDatabase database;
    QStringList accepted;
    for (const QString &file : chosen) {
        if (!isMedia(database.mimeTypeForFile(file)))
            continue;
        accepted.append(file);
        if (!multiple)
            break;
    }
    return accepted;
}

} // namespace velmora::workspace
