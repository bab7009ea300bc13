#include "platform/FilePanel.h"

#include "platform/FolderPanel.h"

#include <QFileDialog>

#include <memory>
#include <utility>

namespace velmora::platform {

void FilePanel::chooseFiles(const FilePanelRequest &request, std::function<void(QStringList)> done)
{
    auto *panel = new QFileDialog(nullptr, request.title);
    panel->setObjectName(QStringLiteral("velmora.filePanel"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::NonModal);
    // The desktop's own panel where there is one, as for the folder panels.
    // The filter's patterns run into the hundreds; its name says enough.
    panel->setOption(QFileDialog::HideNameFilterDetails);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    panel->setLabelText(QFileDialog::Accept, request.prompt);
    panel->setDirectory(panelStartFolder(QString()));
    panel->setNameFilter(request.filterName + QStringLiteral(" (") + request.namePatterns.join(QLatin1Char(' '))
                         + QLatin1Char(')'));

    auto answered = std::make_shared<bool>(false);
    auto answer = [done = std::move(done), answered](QStringList files) {
        if (std::exchange(*answered, true))
            return;
        done(std::move(files));
    };
    QObject::connect(panel, &QFileDialog::finished, panel, [panel, answer](int result) {
        answer(result == QDialog::Accepted ? panel->selectedFiles() : QStringList());
    });
    QObject::connect(panel, &QObject::destroyed, [answer] { answer({}); });
    panel->show();
}

FilePanel &FilePanel::system()
{
    static FilePanel panel;
    return panel;
}

} // namespace velmora::platform
