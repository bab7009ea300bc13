#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace velmora::platform {

// What a save panel shows.
struct SavePanelRequest
{
    QString title;
    // The confirm button's text.
    QString prompt;
    // The name the panel's name field holds at first.
    QString suggestedName;
    // Empty or missing: the home folder.
    QString startFolder;
};

// A panel in which the user picks where a file goes. Each request gets a panel of its own,
// shown free-standing (no window waits for it) and answered when it ends; several may be open.
class SavePanel
{
public:
    virtual ~SavePanel() = default;

    // Shows a panel and returns at once. done gets the chosen file's absolute path, or nullopt
    // when the panel was cancelled or ended without one; it is called once, on the main thread,
    // unless the application ends with the panel open.
    virtual void chooseDestination(const SavePanelRequest &request, std::function<void(std::optional<QString>)> done);

    static SavePanel &system();
};

} // namespace velmora::platform
