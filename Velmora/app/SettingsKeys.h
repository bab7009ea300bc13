#pragma once

// The user settings (QSettings of the application) that the application shell reads and writes.

#include <QString>

namespace velmora::app {

// The main window's size and position when it was last moved or resized (QWidget::saveGeometry()).
inline const QString windowGeometryKey = QStringLiteral("velmora.windowGeometry");

} // namespace velmora::app
