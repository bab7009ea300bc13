#pragma once

// The update engine with its window: the engine decides, this shows. It owns the engine's
// InstallWindow (made on the engine's first request), renders the engine's state into it and
// hands the window's buttons to the engine.

#include "updates/InstallWindow.h"
#include "updates/UpdateEngine.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace velmora::platform {
class UrlOpener;
}

namespace velmora::updates {

class UpdateEngineWindow : public QObject
{
    Q_OBJECT
public:
    // Lives as long as the engine (its parent); links and the release page go to opener, which
    // must outlive it.
    UpdateEngineWindow(UpdateEngine &engine, platform::UrlOpener &opener);
    ~UpdateEngineWindow() override;

    // The window once the engine asked for it (nullptr before, and without a widget
    // application).
    InstallWindow *window() const { return m_window.data(); }
    // The one the engine carries, if any.
    static UpdateEngineWindow *of(const UpdateEngine &engine);

private:
    void render();
    void show();
    void hide();

    UpdateEngine &m_engine;
    platform::UrlOpener &m_opener;
    QPointer<InstallWindow> m_window;
};

// The engine's window while it exists (nullptr otherwise).
InstallWindow *installWindow(const UpdateEngine &engine);

// The real engine with its window, as the update controller makes it: a
// StandardUpdaterControllerFactory.
std::unique_ptr<StandardUpdaterController> makeStandardUpdaterController(UpdaterDelegate &updaterDelegate,
                                                                         UserDriverDelegate &userDriverDelegate);

} // namespace velmora::updates
