#pragma once

// The user settings (QSettings of the application) that the workspace reads and writes.

#include <QString>

namespace velmora::workspace {

// The folder in which text downloads start their save panel; an absolute path.
inline const QString textSaveDirectoryKey = QStringLiteral("velmora.defaultTextSaveDirectory");

// The model folder the user chose last; its panel starts there next time.
inline const QString modelFolderKey = QStringLiteral("velmora.modelFolder");

} // namespace velmora::workspace
