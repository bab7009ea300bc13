#pragma once

#include <QString>

namespace velmora::platform {

// The system's own description of an errno value, as the user's locale writes it.
QString systemErrorText(int error);

} // namespace velmora::platform
