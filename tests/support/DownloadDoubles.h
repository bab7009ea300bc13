#pragma once

// Stand-ins for the user in front of what downloads and file inputs show: a save panel, a
// panel for opening files, and an alert. Each panel stays open until the test answers it, in
// any order.

#include "platform/Alert.h"
#include "platform/FilePanel.h"
#include "platform/SavePanel.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace velmora::test {

class AnsweringSavePanel : public platform::SavePanel
{
public:
    void chooseDestination(const platform::SavePanelRequest &request,
                           std::function<void(std::optional<QString>)> done) override
    {
        requests.append(request);
        open.append(std::move(done));
    }

    // Ends the panel opened index-th (from 0) with file, or cancels it with nullopt.
    void answer(int index, std::optional<QString> file)
    {
        if (auto done = std::exchange(open[index], nullptr))
            done(std::move(file));
    }

    QList<platform::SavePanelRequest> requests;
    QList<std::function<void(std::optional<QString>)>> open;
};

class AnsweringFilePanel : public platform::FilePanel
{
public:
    void chooseFiles(const platform::FilePanelRequest &request, std::function<void(QStringList)> done) override
    {
        requests.append(request);
        open.append(std::move(done));
    }

    // Ends the panel opened index-th (from 0) with files; none cancels it.
    void answer(int index, const QStringList &files)
    {
        if (auto done = std::exchange(open[index], nullptr))
            done(files);
    }

    QList<platform::FilePanelRequest> requests;
    QList<std::function<void(QStringList)>> open;
};

class RecordingAlert : public platform::Alert
{
public:
    struct Shown
    {
        QString message;
        QString informativeText;
        QWidget *window = nullptr;
    };

    void show(const QString &message, const QString &informativeText, QWidget *window) override
    {
        shown.append({message, informativeText, window});
    }

    QList<Shown> shown;
};

} // namespace velmora::test
