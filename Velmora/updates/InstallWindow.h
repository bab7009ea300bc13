#pragma once

#include "platform/UrlOpener.h"
#include "updates/InstallPhase.h"

#include <QString>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace velmora::updates {

class UpdateNotesView;

// The engine's window: the found version with its release notes and the choice to install,
// wait or skip it; the download with its progress; the relaunch; every failure in Korean. It
// renders whatever state the engine gives it and reports the buttons' clicks.
class InstallWindow : public QWidget
{
    Q_OBJECT
public:
    explicit InstallWindow(platform::UrlOpener &opener, QWidget *parent = nullptr);

    void render(const InstallState &state);
    const InstallState &state() const { return m_state; }

    // Reached by tests and the gallery.
    QLabel *heading() const { return m_heading; }
    QLabel *detail() const { return m_detail; }
    UpdateNotesView *notes() const { return m_notes; }
    QProgressBar *progress() const { return m_progress; }
    QLabel *progressText() const { return m_progressText; }
    QPushButton *installButton() const { return m_install; }
    QPushButton *laterButton() const { return m_later; }
    QPushButton *skipButton() const { return m_skip; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *relaunchButton() const { return m_relaunch; }
    QPushButton *closeButton() const { return m_close; }
    QPushButton *releasePageButton() const { return m_releasePage; }

signals:
    void installClicked();
    void laterClicked();
    void skipClicked();
    void cancelClicked();
    void relaunchClicked();
    void closeClicked();
    void releasePageClicked();
    // The window's own close control: the engine decides what that means in each phase.
    void dismissed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    InstallState m_state;
    QLabel *m_heading = nullptr;
    QLabel *m_detail = nullptr;
    UpdateNotesView *m_notes = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_progressText = nullptr;
    QPushButton *m_install = nullptr;
    QPushButton *m_later = nullptr;
    QPushButton *m_skip = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_relaunch = nullptr;
    QPushButton *m_close = nullptr;
    QPushButton *m_releasePage = nullptr;
};

// "12.3 MB / 45.6 MB": the download's progress line.
QString downloadProgressLine(qint64 received, qint64 total);

} // namespace velmora::updates
