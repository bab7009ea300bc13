#pragma once

#include <QString>

#include <functional>
#include <optional>

class QFileDialog;

namespace velmora::platform {

// The folder a panel opens in: wanted when it is an existing folder, otherwise the user's home
// folder; never the process's working directory, where Qt's own panel would open.
QString panelStartFolder(const QString &wanted);

// What a folder panel shows and allows.
struct FolderPanelRequest
{
    QString title;
    // A line above the folders, telling what to pick.
    QString message;
    // The confirm button's text.
    QString prompt;
    // Empty or missing: the home folder.
    QString startFolder;
    bool canCreateFolders = false;
};

// A panel in which the user picks one folder. Each request gets a panel of its own, shown
// free-standing (no window waits for it) and answered when it ends; several may be open.
// Folder, save and file panels are the desktop's own where Qt's platform theme offers them,
// Qt's own panels where it does not or where Qt::AA_DontUseNativeDialogs is set.
class FolderPanel
{
public:
    virtual ~FolderPanel() = default;

    // Shows a panel and returns at once. done gets the chosen folder's absolute path, or
    // nullopt when the panel was cancelled or ended without a folder; it is called once, on
    // the main thread, unless the application ends with the panel open.
    virtual void chooseFolder(const FolderPanelRequest &request, std::function<void(std::optional<QString>)> done);

    static FolderPanel &system();

    // True when a shown panel is the desktop's own rather than drawn by Qt.
    static bool drawnByDesktop(const QFileDialog *panel);
};

} // namespace velmora::platform
