#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace velmora::platform {

// What a folder panel shows and allows.
struct FolderPanelRequest
{
    QString title;
    // A line above the folders, telling what to pick.
    QString message;
    // The confirm button's text.
    QString prompt;
    // Empty: the panel's own default.
    QString startFolder;
    bool canCreateFolders = false;
};

// A panel in which the user picks one folder. Each request gets a panel of its own, shown
// free-standing (no window waits for it) and answered when it ends; several may be open.
class FolderPanel
{
public:
    virtual ~FolderPanel() = default;

    // Shows a panel and returns at once. done gets the chosen folder's absolute path, or
    // nullopt when the panel was cancelled or ended without a folder; it is called once, on
    // the main thread, unless the application ends with the panel open.
    virtual void chooseFolder(const FolderPanelRequest &request, std::function<void(std::optional<QString>)> done);

    static FolderPanel &system();
};

} // namespace velmora::platform
