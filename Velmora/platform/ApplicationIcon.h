#pragma once

#include <QIcon>
#include <QString>

namespace velmora::platform {

// The icon the desktop shows for the application bundle at bundlePath: "velmora.png" in the
// bundle's Resources folder, else the application's window icon, else the icon theme's
// "app.velmora.Velmora", else Velmora's mark drawn in its own colours. Never null.
QIcon applicationIcon(const QString &bundlePath);

} // namespace velmora::platform
