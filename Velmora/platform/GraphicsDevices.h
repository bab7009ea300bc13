#pragma once

#include <QString>

namespace velmora::platform {

// Whether the machine has a graphics device that a hardware GL driver could use: a DRM node
// (dri/card*, dri/renderD*) or one of the NVIDIA driver's own (nvidia0, nvidia1, …) under
// deviceFolder. Without one, GL can only be Mesa's software rasteriser.
bool hasGraphicsDevice(const QString &deviceFolder = QStringLiteral("/dev"));

} // namespace velmora::platform
