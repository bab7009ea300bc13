#include "platform/FolderPanel.h"

#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QVBoxLayout>

namespace velmora::platform {

void FolderPanel::chooseFolder(const FolderPanelRequest &request, std::function<void(std::optional<QString>)> done)
{
    // Qt's own file dialog inside a panel of ours, so the message can stand above it: the
    // desktops' dialogs have no place for one.
    auto *panel = new QDialog(nullptr);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::NonModal);
    panel->setWindowTitle(request.title);
    panel->setObjectName(QStringLiteral("velmora.folderPanel"));

    auto *layout = new QVBoxLayout(panel);
    auto *message = new QLabel(request.message, panel);
    message->setWordWrap(true);
    layout->addWidget(message);

    auto *dialog = new QFileDialog(panel);
    dialog->setWindowFlags(Qt::Widget);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setOption(QFileDialog::ReadOnly, !request.canCreateFolders);
    dialog->setLabelText(QFileDialog::Accept, request.prompt);
    if (!request.startFolder.isEmpty())
        dialog->setDirectory(request.startFolder);
    layout->addWidget(dialog);

    auto answered = std::make_shared<bool>(false);
    auto answer = [done = std::move(done), answered](std::optional<QString> folder) {
        if (std::exchange(*answered, true))
            return;
        done(std::move(folder));
    };
    QObject::connect(dialog, &QFileDialog::finished, panel, [panel, dialog, answer](int result) {
        const QStringList chosen = dialog->selectedFiles();
        answer(result == QDialog::Accepted && !chosen.isEmpty() && !chosen.first().isEmpty()
                   ? std::optional(chosen.first())
                   : std::nullopt);
        panel->close();
    });
    // The panel's own close button cancels.
    QObject::connect(panel, &QDialog::finished, panel, [answer](int) { answer(std::nullopt); });
    QObject::connect(panel, &QObject::destroyed, [answer] { answer(std::nullopt); });

    panel->resize(720, 480);
    panel->show();
}

FolderPanel &FolderPanel::system()
{
    static FolderPanel panel;
    return panel;
}

} // namespace velmora::platform
