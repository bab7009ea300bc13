#pragma once

#include <QString>

namespace velmora::platform {

// A secret for one use: 128 bits from the system's random source, as 32 hex digits.
QString randomToken();

} // namespace velmora::platform
