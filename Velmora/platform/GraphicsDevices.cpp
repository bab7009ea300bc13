#include "platform/GraphicsDevices.h"

#include <QDir>
#include <QRegularExpression>

namespace velmora::platform {

bool hasGraphicsDevice(const QString &deviceFolder)
{
    // Device nodes list as system entries; plain files stand in for them in tests.
    const QDir::Filters entries = QDir::System | QDir::Files | QDir::NoDotAndDotDot;
    const QDir folder(deviceFolder);
    if (!QDir(folder.filePath(QStringLiteral("dri")))
             .entryList({QStringLiteral("card*"), QStringLiteral("renderD*")}, entries)
             .isEmpty())
        return true;
    static const QRegularExpression nvidiaDevice(QStringLiteral("^nvidia[0-9]+$"));
    return !folder.entryList({QStringLiteral("nvidia*")}, entries).filter(nvidiaDevice).isEmpty();
}

} // namespace velmora::platform
