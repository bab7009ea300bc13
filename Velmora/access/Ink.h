#pragma once

#include <QColor>

namespace velmora::access {

// The dark green text colour of the access screen and the guide.
inline const QColor inkColor = QColor::fromRgbF(0.15, 0.24, 0.19);

} // namespace velmora::access
