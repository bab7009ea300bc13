#pragma once

#include <QColor>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

namespace velmora::widgets {
class BusySpinner;
}

namespace velmora::updates {

class UpdateController;
class UpdateNotesView;

// The content of the update window: current version, status line, release notes of a found
// update, the automatic-notice checkbox, the release-page link and one primary button. It
// keeps no state of its own and renders from the controller whenever one of its fields changes.
class UpdateCheckView : public QWidget
{
    Q_OBJECT
public:
    UpdateCheckView(UpdateController &updates, QColor accent, QWidget *parent = nullptr);

    // Reached by tests and the gallery to inspect what is shown.
    QLabel *statusLine() const { return m_status; }
    QLabel *versionLine() const { return m_version; }
    widgets::BusySpinner *checkingIndicator() const { return m_checkingIndicator; }
    UpdateNotesView *notes() const { return m_notes; }
    QCheckBox *automaticChecks() const { return m_automaticChecks; }
    QLabel *explanation() const { return m_explanation; }
    QPushButton *releaseLink() const { return m_releaseLink; }
    QPushButton *primaryButton() const { return m_primary; }

private:
    void render();
    void primaryClicked();
    void automaticChecksClicked(bool on);

    UpdateController &m_updates;
    QColor m_accent;
    QLabel *m_version = nullptr;
    widgets::BusySpinner *m_checkingIndicator = nullptr;
    QLabel *m_status = nullptr;
    UpdateNotesView *m_notes = nullptr;
    QCheckBox *m_automaticChecks = nullptr;
    QLabel *m_explanation = nullptr;
    QPushButton *m_releaseLink = nullptr;
    QPushButton *m_primary = nullptr;
};

} // namespace velmora::updates
