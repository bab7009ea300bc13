#pragma once

// Stand-ins for the user in front of what downloads and file inputs show: a save panel, a
// panel for opening files, and an alert.

#include "platform/Alert.h"
#include "platform/FilePanel.h"
#include "platform/SavePanel.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>
#include <utility>

namespace velmora::test {

// Save panels that stay open until the test answers them, in any order.
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

// The engine waits for a file input's files in a loop of its own, out of which the test's code
// does not run: this panel gives the answer the test set beforehand, from the event loop, as a
// user would.
class AnsweringFilePanel : public platform::FilePanel
{
public:
    void chooseFiles(const platform::FilePanelRequest &request, std::function<void(QStringList)> done) override
    {
        requests.append(request);
        open.append(std::move(done));
        const int index = int(open.size()) - 1;
        QTimer::singleShot(0, [this, index, files = answer] { answerPanel(index, files); });
    }

    // What the next panels end with; empty cancels them.
    QStringList answer;
    QList<platform::FilePanelRequest> requests;
    QList<std::function<void(QStringList)>> open;

private:
    void answerPanel(int index, const QStringList &files)
    {
        if (index >= open.size())
            return; // the test has moved on
        if (auto done = std::exchange(open[index], nullptr))
            done(files);
    }
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
