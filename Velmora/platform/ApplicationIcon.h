#pragma once

#include <QIcon>
#include <QString>

namespace velmora::platform {

// The icon the desktop shows for the application bundle at bundlePath: an icon file in the
// bundle's Resources folder ("velmora.svg" or "velmora.png"), else the application's window
// icon, else the icon theme's "velmora", else Velmora's mark drawn in its own colours. Never
// null.
QIcon applicationIcon(const QString &bundlePath);

} // namespace velmora::platform
