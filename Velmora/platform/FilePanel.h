#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace velmora::platform {

// What a panel for opening files shows and allows. Folders cannot be chosen.
struct FilePanelRequest
{
    QString title;
    // The confirm button's text.
    QString prompt;
    // The one filter the panel offers: its name and its file-name patterns.
    QString filterName;
    QStringList namePatterns;
    // Several files may be chosen at once.
    bool multiple = false;
};

// A panel in which the user picks files to open, shown free-standing and answered when it
// ends.
class FilePanel
{
public:
    virtual ~FilePanel() = default;

    // Shows a panel and returns at once. done gets the chosen files' absolute paths, empty
    // when the panel was cancelled; it is called once, on the main thread, unless the
    // application ends with the panel open.
    virtual void chooseFiles(const FilePanelRequest &request, std::function<void(QStringList)> done);

    static FilePanel &system();
};

} // namespace velmora::platform
