#pragma once

#include <QString>
#include <QStringList>

namespace velmora::platform {

// Starts a program that lives on its own (a file manager, a browser, a sound recorder) and is
// not waited for. Its standard input, output and error go to the null device: what it prints
// belongs to it, not to the terminal Velmora was started from. True when it was started.
bool startDetachedQuietly(const QString &program, const QStringList &arguments, const QString &workingDirectory = QString());

} // namespace velmora::platform
