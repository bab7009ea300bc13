#pragma once

#include "workspace/PageActivations.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <chrono>

class QEventLoop;
class QWebEnginePage;

namespace velmora::platform {
class FilePanel;
}

namespace velmora::workspace {

// Serves the page's file inputs: only an input of the page's main frame, while that frame
// shows the page's origin, gets a panel; it offers audio and video files only, several
// exactly when the input allows several, whatever the input's own accepted types say. A
// request from anywhere else gets no files and no panel.
//
// The engine asks for files without saying which frame asks (see PageActivations for how
// the main frame's own requests are told apart), and it waits for the answer in the call: the
// panel is free-standing, and the call runs the event loop until the panel ends.
class FileInputPanel : public QObject
{
    Q_OBJECT
public:
    // How long a request for files waits for the main frame's report of the input that asked.
    // The report comes within milliseconds; a request without one (an embedded frame's) is
    // refused when the wait is over.
    static constexpr std::chrono::milliseconds defaultReportWait{2000};

    // page: whose main frame's inputs are served, from its next document on; token: the page's
    // secret that the reports are signed with; panel: nullptr for the real one.
    FileInputPanel(QWebEnginePage *page, const QUrl &origin, const QString &token, platform::FilePanel *panel,
                   QObject *parent = nullptr);
    ~FileInputPanel() override;

    // Reads one console message of the page; true when it is the report script's, so the
    // caller keeps it out of the console log.
    bool takeMessage(const QString &message);

    // Answers the engine's request for files (QWebEnginePage::chooseFiles): the chosen files,
    // or none. filesToOpen: false when a folder or a place to save a file is asked for, which
    // is never served.
    QStringList chooseFiles(bool multiple, bool filesToOpen);

signals:
    // A request for files was answered: whether a panel was shown, and the files given.
    void answered(bool panelShown, const QStringList &files);

private:
    bool waitForReport();
    void installScript(const QString &token);

    QPointer<QWebEnginePage> m_page;
    QUrl m_origin;
    platform::FilePanel &m_panel;
    PageActivations m_activations;
    QPointer<QEventLoop> m_waiting;
};

} // namespace velmora::workspace
