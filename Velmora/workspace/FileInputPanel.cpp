#include "workspace/FileInputPanel.h"

#include "platform/FilePanel.h"
#include "workspace/FileInputRules.h"
#include "workspace/NavigationPolicy.h"
#include "workspace/PageActivations.h"
#include "workspace/Texts.h"
#include "workspace/WorkspaceResources.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <memory>

namespace velmora::workspace {

FileInputPanel::FileInputPanel(QWebEnginePage *page, const QUrl &origin, const QString &token, platform::FilePanel *panel,
                               QObject *parent)
    : QObject(parent)
    , m_page(page)
    , m_origin(origin)
    , m_panel(panel ? *panel : platform::FilePanel::system())
    , m_activations(PageActivations::Kind::FileInput, token)
{
    if (m_page)
        installScript(token);
}

FileInputPanel::~FileInputPanel() = default;

void FileInputPanel::installScript(const QString &token)
{
    initWorkspaceResources();
    QFile file(QStringLiteral(":/velmora/workspace/file-input.js"));
    if (!file.open(QIODevice::ReadOnly)) {
        // Without it no request for files is served.
        qWarning("workspace: file input script missing");
        return;
    }
    QWebEngineScript script;
    script.setName(QStringLiteral("velmora-file-input"));
    script.setSourceCode(PageActivations::scriptSource(QString::fromUtf8(file.readAll()), token));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(true);
    m_page->scripts().insert(script);
}

bool FileInputPanel::takeMessage(const QString &message)
{
    if (!m_activations.takeMessage(message, PageActivations::Clock::now()))
        return false;
    if (m_waiting)
        m_waiting->quit();
    return true;
}

bool FileInputPanel::waitForReport()
{
    using Clock = PageActivations::Clock;
    const Clock::time_point deadline = Clock::now() + defaultReportWait;
    while (!m_activations.consume(Clock::now())) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        QEventLoop loop;
        QTimer::singleShot(left, &loop, &QEventLoop::quit);
        m_waiting = &loop;
        loop.exec();
        m_waiting = nullptr;
        // The application is quitting: it leaves every event loop, and this one would return
        // at once from now on.
        if (QCoreApplication::closingDown() || !m_page)
            return false;
    }
    return true;
}

QStringList FileInputPanel::chooseFiles(bool multiple, bool filesToOpen)
{
    // Both waits run the event loop, in which anything may happen, the page's end included.
    QPointer<FileInputPanel> self(this);
    // Folders cannot be chosen, so an input that uploads a folder gets nothing; neither does a
    // script's request for a place to save.
    const bool served = filesToOpen && waitForReport();
    if (!self)
        return {};
    if (!served || !m_page || !matchesOrigin(m_origin, m_page->url())) {
        emit answered(false, {});
        return {};
    }

    platform::FilePanelRequest request;
    request.title = mediaPanelTitle;
    request.prompt = mediaPanelPrompt;
    request.filterName = mediaFilterName;
    request.namePatterns = mediaNamePatterns();
    request.multiple = multiple;

    struct Outcome
    {
        bool done = false;
        QStringList files;
        QPointer<QEventLoop> loop;
    };
    auto outcome = std::make_shared<Outcome>();
    m_panel.chooseFiles(request, [outcome](QStringList files) {
        outcome->done = true;
        outcome->files = std::move(files);
        if (outcome->loop)
            outcome->loop->quit();
    });
    if (!outcome->done) {
        QEventLoop loop;
        outcome->loop = &loop;
        loop.exec();
    }
    if (!self)
        return {};
    // The panel's filter only guides the eye: a typed name can still name any file.
    QStringList files = outcome->done ? acceptedMediaFiles(outcome->files, multiple) : QStringList();
    emit answered(true, files);
    return files;
}

} // namespace velmora::workspace
