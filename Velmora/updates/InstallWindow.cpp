#include "updates/InstallWindow.h"

#include "updates/Texts.h"
#include "updates/UpdateAppearance.h"
#include "updates/UpdateNotesView.h"
#include "widgets/WindowKeys.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora::updates {
namespace {

constexpr int windowWidth = 500;

QPushButton *makeButton(const QString &text, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setFont(appearance::systemFont(13));
    return button;
}

QString sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

} // namespace

QString downloadProgressLine(qint64 received, qint64 total)
{
    return downloadProgressText.arg(sizeText(received), sizeText(total));
}

InstallWindow::InstallWindow(platform::UrlOpener &opener, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("install-window"));
    setWindowTitle(installWindowTitle);
    widgets::presentAsDialog(this);
    setAttribute(Qt::WA_DeleteOnClose, false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, appearance::windowBackground());
    palette.setColor(QPalette::WindowText, appearance::label());
    setPalette(palette);
    setAutoFillBackground(true);
    setFixedWidth(windowWidth);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);

    m_heading = new QLabel(this);
    m_heading->setObjectName(QStringLiteral("install-heading"));
    // Versions and messages carry texts from the feed: never read as markup.
    m_heading->setTextFormat(Qt::PlainText);
    m_heading->setFont(appearance::systemFont(15, QFont::Bold));
    m_heading->setWordWrap(true);
    column->addWidget(m_heading);

    m_detail = new QLabel(this);
    m_detail->setObjectName(QStringLiteral("install-detail"));
    m_detail->setTextFormat(Qt::PlainText);
    m_detail->setFont(appearance::systemFont(13));
    m_detail->setWordWrap(true);
    m_detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(m_detail);

    m_notes = new UpdateNotesView(opener, this);
    column->addWidget(m_notes);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("install-progress"));
    m_progress->setTextVisible(false);
    column->addWidget(m_progress);
    m_progressText = new QLabel(this);
    m_progressText->setObjectName(QStringLiteral("install-progress-text"));
    m_progressText->setTextFormat(Qt::PlainText);
    m_progressText->setFont(appearance::systemFont(12));
    column->addWidget(m_progressText);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_skip = makeButton(skipVersionTitle, "install-skip", this);
    m_releasePage = makeButton(openReleasePageTitle, "install-release-page", this);
    buttons->addWidget(m_skip);
    buttons->addWidget(m_releasePage);
    buttons->addStretch(1);
    m_later = makeButton(laterTitle, "install-later", this);
    m_cancel = makeButton(cancelTitle, "install-cancel", this);
    m_close = makeButton(closeTitle, "install-close", this);
    m_install = makeButton(installNowTitle, "install-install", this);
    m_relaunch = makeButton(installAndRelaunchTitle, "install-relaunch", this);
    for (QPushButton *button : {m_later, m_cancel, m_close, m_install, m_relaunch})
        buttons->addWidget(button);
    column->addLayout(buttons);

    connect(m_install, &QPushButton::clicked, this, &InstallWindow::installClicked);
    connect(m_later, &QPushButton::clicked, this, &InstallWindow::laterClicked);
    connect(m_skip, &QPushButton::clicked, this, &InstallWindow::skipClicked);
    connect(m_cancel, &QPushButton::clicked, this, &InstallWindow::cancelClicked);
    connect(m_relaunch, &QPushButton::clicked, this, &InstallWindow::relaunchClicked);
    connect(m_close, &QPushButton::clicked, this, &InstallWindow::closeClicked);
    connect(m_releasePage, &QPushButton::clicked, this, &InstallWindow::releasePageClicked);

    render(m_state);
}

void InstallWindow::render(const InstallState &state)
{
    m_state = state;
    const InstallPhase phase = state.phase;
    QString heading;
    QString detail;
    switch (phase) {
    case InstallPhase::Idle:
        break;
    case InstallPhase::Checking:
        heading = checkingStatus;
        break;
    case InstallPhase::Found:
        heading = foundHeading;
        detail = foundDetail.arg(state.newVersion, state.runningVersion);
        break;
    case InstallPhase::NoUpdate:
        heading = upToDateStatus;
        break;
    case InstallPhase::CheckFailed:
        heading = failedStatus;
        break;
    case InstallPhase::Downloading:
        heading = downloadingHeading;
        break;
    case InstallPhase::Preparing:
        heading = preparingHeading;
        break;
    case InstallPhase::Ready:
        heading = readyHeading;
        detail = readyDetail;
        break;
    case InstallPhase::Waiting:
        heading = waitingHeading;
        detail = readyDetail;
        break;
    case InstallPhase::Installing:
        heading = installingHeading;
        break;
    case InstallPhase::Failed:
        heading = failedHeading;
        detail = state.message;
        break;
    case InstallPhase::Refused:
        heading = refusedHeading;
        detail = state.message;
        break;
    }
    m_heading->setText(heading);
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());

    const bool found = phase == InstallPhase::Found;
    m_notes->setVisible(found);
    if (found)
        m_notes->setNotes(state.notes, state.notesLoading, state.notesFailed);

    const bool downloading = phase == InstallPhase::Downloading;
    const bool busy = phase == InstallPhase::Checking || phase == InstallPhase::Preparing || phase == InstallPhase::Waiting
                      || phase == InstallPhase::Installing;
    m_progress->setVisible(downloading || busy);
    if (downloading) {
        // Bytes in thousands keep large files within the bar's int range.
        m_progress->setRange(0, int(qMax<qint64>(1, state.total / 1024)));
        m_progress->setValue(int(qMin(state.received, state.total) / 1024));
    } else {
        m_progress->setRange(0, 0); // indeterminate
    }
    m_progressText->setVisible(downloading);
    m_progressText->setText(downloading ? downloadProgressLine(state.received, state.total) : QString());

    m_install->setVisible(found);
    m_skip->setVisible(found);
    m_later->setVisible(canWaitForLater(phase));
    m_cancel->setVisible(isCancellable(phase));
    m_relaunch->setVisible(phase == InstallPhase::Ready);
    m_releasePage->setVisible(phase == InstallPhase::Refused);
    m_close->setVisible(isOutcome(phase));
    for (QPushButton *button : {m_install, m_relaunch, m_close}) {
        button->setDefault(button->isVisible());
        button->setAutoDefault(button->isVisible());
    }
    adjustSize();
}

void InstallWindow::closeEvent(QCloseEvent *event)
{
    // Only the user's close control is the engine's to interpret. The application's own close
    // requests (quitting asks every window first, and one refusal cancels the quit) go through.
    if (!event->spontaneous()) {
        event->accept();
        return;
    }
    event->ignore();
    hide();
    emit dismissed();
}

} // namespace velmora::updates
