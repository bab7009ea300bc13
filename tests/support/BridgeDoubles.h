#pragma once

// Stand-ins for what the script bridge reaches but a test cannot: a user who picks folders in
// panels, a file manager, and the applications installed on the desktop.

#include "platform/ApplicationLauncher.h"
#include "platform/FileRevealer.h"
#include "platform/FolderPanel.h"
#include "platform/UrlOpener.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace velmora::test {

// Panels that stay open until the test answers them, in any order.
class AnsweringFolderPanel : public platform::FolderPanel
{
public:
    struct Open
    {
        platform::FolderPanelRequest request;
        std::function<void(std::optional<QString>)> done;
    };

    void chooseFolder(const platform::FolderPanelRequest &request, std::function<void(std::optional<QString>)> done) override
    {
        requests.append(request);
        open.append({request, std::move(done)});
    }

    // Ends the panel opened index-th (from 0) with folder, or cancels it with nullopt.
    void answer(int index, std::optional<QString> folder)
    {
        auto done = std::move(open[index].done);
        open[index].done = nullptr;
        if (done)
            done(std::move(folder));
    }

    QList<platform::FolderPanelRequest> requests;
    QList<Open> open;
};

// A file manager that records what it was asked to show.
class RecordingFileRevealer : public platform::FileRevealer
{
public:
    RecordingFileRevealer() : platform::FileRevealer(platform::UrlOpener::system()) {}
    void reveal(const QString &file, std::function<void(bool)> done) override
    {
        revealed.append(file);
        if (done)
            done(shows);
    }
    QStringList revealed;
    // False: as on a desktop where neither a file manager nor a folder opener can start.
    bool shows = true;
};

// A desktop with the given applications installed: records what was asked for and starts
// nothing.
class RecordingApplicationLauncher : public platform::ApplicationLauncher
{
public:
    bool openApplication(const QString &applicationId) override
    {
        asked.append(applicationId);
        if (!installed.contains(applicationId))
            return false;
        opened.append(applicationId);
        return true;
    }
    QStringList installed;
    QStringList asked;
    QStringList opened;
};

} // namespace velmora::test
