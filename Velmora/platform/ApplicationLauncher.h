#pragma once

#include <QString>

namespace velmora::platform {

// Finds an installed application by its id and starts it: on Linux the id names a desktop
// entry (<id>.desktop) in the XDG application folders ($XDG_DATA_HOME/applications first,
// then those of $XDG_DATA_DIRS), whose Exec line is started detached.
class ApplicationLauncher
{
public:
    virtual ~ApplicationLauncher() = default;

    // Starts the application without waiting for it to come up. False when no usable entry
    // is installed (none, hidden, not an application, its TryExec program missing) or its
    // program could not be started.
    virtual bool openApplication(const QString &applicationId);

    // The file of the entry that counts for applicationId; empty when there is none.
    static QString desktopEntryFile(const QString &applicationId);

    static ApplicationLauncher &system();
};

} // namespace velmora::platform
