#pragma once

#include <QString>

namespace velmora::platform {

bool fileExists(const QString &path);
// A regular file (after following links) that this process may execute.
bool isExecutableFile(const QString &path);

} // namespace velmora::platform
