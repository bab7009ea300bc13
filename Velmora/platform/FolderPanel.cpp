#include "platform/FolderPanel.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

#include <memory>
#include <utility>

namespace velmora::platform {

namespace {

// Qt's own panel has room for the message: a line above everything else. The desktops'
// panels have none; their title names the task.
void addMessage(QFileDialog *panel, const QString &message)
{
    auto *grid = qobject_cast<QGridLayout *>(panel->layout());
    if (!grid || message.isEmpty())
        return;
    struct Placed
    {
        QLayoutItem *item;
        int row, column, rowSpan, columnSpan;
    };
    QList<Placed> placed;
    for (int i = grid->count() - 1; i >= 0; --i) {
        Placed p{nullptr, 0, 0, 0, 0};
        grid->getItemPosition(i, &p.row, &p.column, &p.rowSpan, &p.columnSpan);
        p.item = grid->takeAt(i);
        placed.prepend(p);
    }
    auto *label = new QLabel(message, panel);
    label->setObjectName(QStringLiteral("velmora.folderPanel.message"));
    label->setWordWrap(true);
    grid->addWidget(label, 0, 0, 1, -1);
    for (const Placed &p : std::as_const(placed))
        grid->addItem(p.item, p.row + 1, p.column, p.rowSpan, p.columnSpan);
}

} // namespace

QString panelStartFolder(const QString &wanted)
{
    return !wanted.isEmpty() && QFileInfo(wanted).isDir() ? wanted : QDir::homePath();
}

void FolderPanel::chooseFolder(const FolderPanelRequest &request, std::function<void(std::optional<QString>)> done)
{
    // The desktop's own panel where Qt's platform theme has one (the XDG portal, GTK); Qt's
    // own panel otherwise, and wherever Qt::AA_DontUseNativeDialogs is set (the tests).
    auto *panel = new QFileDialog(nullptr, request.title);
    panel->setObjectName(QStringLiteral("velmora.folderPanel"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::NonModal);
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setOption(QFileDialog::ReadOnly, !request.canCreateFolders);
    panel->setLabelText(QFileDialog::Accept, request.prompt);
    panel->setDirectory(panelStartFolder(request.startFolder));

    auto answered = std::make_shared<bool>(false);
    auto answer = [done = std::move(done), answered](std::optional<QString> folder) {
        if (std::exchange(*answered, true))
            return;
        done(std::move(folder));
    };
    QObject::connect(panel, &QFileDialog::finished, panel, [panel, answer](int result) {
        const QStringList chosen = panel->selectedFiles();
        answer(result == QDialog::Accepted && !chosen.isEmpty() && !chosen.first().isEmpty() ? std::optional(chosen.first())
                                                                                             : std::nullopt);
    });
    QObject::connect(panel, &QObject::destroyed, [answer] { answer(std::nullopt); });
    panel->show();
    if (!drawnByDesktop(panel)) {
        addMessage(panel, request.message);
        panel->resize(720, 480);
    }
}

bool FolderPanel::drawnByDesktop(const QFileDialog *panel)
{
    // A shown QFileDialog whose desktop counterpart took over keeps its own widget off screen.
    return panel->testAttribute(Qt::WA_DontShowOnScreen);
}

FolderPanel &FolderPanel::system()
{
    static FolderPanel panel;
    return panel;
}

} // namespace velmora::platform
