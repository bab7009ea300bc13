#include "platform/SavePanel.h"

#include "platform/FolderPanel.h"

#include <QFileDialog>

#include <memory>
#include <utility>

namespace velmora::platform {

void SavePanel::chooseDestination(const SavePanelRequest &request, std::function<void(std::optional<QString>)> done)
{
    auto *panel = new QFileDialog(nullptr, request.title);
    panel->setObjectName(QStringLiteral("velmora.savePanel"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::NonModal);
    // The desktop's own panel where there is one, as for the folder panels.
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setLabelText(QFileDialog::Accept, request.prompt);
    panel->setDirectory(panelStartFolder(request.startFolder));
    panel->selectFile(request.suggestedName);

    auto answered = std::make_shared<bool>(false);
    auto answer = [done = std::move(done), answered](std::optional<QString> file) {
        if (std::exchange(*answered, true))
            return;
        done(std::move(file));
    };
    QObject::connect(panel, &QFileDialog::finished, panel, [panel, answer](int result) {
        const QStringList chosen = panel->selectedFiles();
        answer(result == QDialog::Accepted && !chosen.isEmpty() && !chosen.first().isEmpty() ? std::optional(chosen.first())
                                                                                             : std::nullopt);
    });
    QObject::connect(panel, &QObject::destroyed, [answer] { answer(std::nullopt); });
    panel->show();
}

SavePanel &SavePanel::system()
{
    static SavePanel panel;
    return panel;
}

} // namespace velmora::platform
