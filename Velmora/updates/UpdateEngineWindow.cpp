#include "updates/UpdateEngineWindow.h"

#include "platform/BuildInfo.h"
#include "platform/UrlOpener.h"
#include "updates/InstallWindow.h"

#include <QApplication>

namespace velmora::updates {

UpdateEngineWindow::UpdateEngineWindow(UpdateEngine &engine, platform::UrlOpener &opener)
    : QObject(&engine)
    , m_engine(engine)
    , m_opener(opener)
{
    connect(&engine, &UpdateEngine::stateChanged, this, &UpdateEngineWindow::render);
    connect(&engine, &UpdateEngine::showRequested, this, &UpdateEngineWindow::show);
    connect(&engine, &UpdateEngine::hideRequested, this, &UpdateEngineWindow::hide);
}

UpdateEngineWindow::~UpdateEngineWindow()
{
    // A long-lived owner may be dropped after the application object is gone; widgets must not
    // be deleted then, and the process is ending anyway.
    if (QCoreApplication::instance())
        delete m_window.data();
}

UpdateEngineWindow *UpdateEngineWindow::of(const UpdateEngine &engine)
{
    return engine.findChild<UpdateEngineWindow *>(QString(), Qt::FindDirectChildrenOnly);
}

void UpdateEngineWindow::render()
{
    if (m_window)
        m_window->render(m_engine.state());
}

void UpdateEngineWindow::show()
{
    // Without a widget application (a command-line tool, a test without a GUI) there is no
    // window to show.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    if (!m_window) {
        auto *window = new InstallWindow(m_opener);
        UpdateEngine *engine = &m_engine;
        connect(window, &InstallWindow::installClicked, engine, &UpdateEngine::install);
        connect(window, &InstallWindow::laterClicked, engine, &UpdateEngine::later);
        connect(window, &InstallWindow::skipClicked, engine, &UpdateEngine::skip);
        connect(window, &InstallWindow::cancelClicked, engine, &UpdateEngine::cancel);
        connect(window, &InstallWindow::relaunchClicked, engine, &UpdateEngine::installAndRelaunch);
        connect(window, &InstallWindow::closeClicked, engine, &UpdateEngine::dismissed);
        connect(window, &InstallWindow::dismissed, engine, &UpdateEngine::dismissed);
        connect(window, &InstallWindow::releasePageClicked, this,
                [this] { m_opener.openUrl(QUrl(platform::buildSettings().releasePageUrl)); });
        m_window = window;
    }
    m_window->render(m_engine.state());
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void UpdateEngineWindow::hide()
{
    if (m_window)
        m_window->hide();
}

InstallWindow *installWindow(const UpdateEngine &engine)
{
    const UpdateEngineWindow *window = UpdateEngineWindow::of(engine);
    return window ? window->window() : nullptr;
}

std::unique_ptr<StandardUpdaterController> makeStandardUpdaterController(UpdaterDelegate &updaterDelegate,
                                                                         UserDriverDelegate &userDriverDelegate)
{
    auto engine = std::make_unique<UpdateEngine>(updaterDelegate, userDriverDelegate);
    new UpdateEngineWindow(*engine, platform::UrlOpener::system());
    return engine;
}

} // namespace velmora::updates
