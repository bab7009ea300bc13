#pragma once

#include "backend/BackendController.h"
#include "platform/Async.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <memory>

namespace velmora::access {
class FullDiskAccessAssistant;
class FullDiskAccessGate;
}

namespace velmora::app {

// The application shell: owns the access gate for the whole run, uses the backend controller,
// and runs the startup sequence that takes Velmora from the access check to a started backend.
class VelmoraApp : public QObject
{
    Q_OBJECT
public:
    /// backend: the controller to start (the shared one in the application); fileAccess: the
    /// gate to ask, nullptr for a new gate with the platform's probe; assistant: the access
    /// assistant, nullptr for the shared one (made when first needed).
    explicit VelmoraApp(backend::BackendController &backend,
                        std::unique_ptr<access::FullDiskAccessGate> fileAccess = {},
                        access::FullDiskAccessAssistant *assistant = nullptr, QObject *parent = nullptr);
    /// The application's shell over BackendController::shared() and the platform's probe.
    VelmoraApp();
    ~VelmoraApp() override;

    /// The gate owned for the whole run.
    access::FullDiskAccessGate &fileAccess() const { return *m_fileAccess; }
    backend::BackendController &backend() const { return *m_backend; }
    /// The assistant that guides the user to the settings; closed here once access is found.
    access::FullDiskAccessAssistant &assistant() const;

    /// Checks access; without it, returns and leaves the access screen to the user. With it,
    /// closes the assistant if it is showing and starts the backend. Overlapping runs are
    /// harmless: the gate shares its probe and the controller ignores a start while one runs
    /// or once it is ready. token cancels the backend start of this run.
    QCoro::Task<> startAfterPermission(platform::CancelToken token = {});

    /// Runs the startup sequence as a task of its own that nothing cancels (the recheck).
    void runStartupSequence();
    /// The application became active: runs the sequence again unless access is already there
    /// or a check is still in flight.
    void applicationBecameActive();
    /// Starts a new backend attempt without a new access check (the failure screen's retry).
    void retryBackendStart();

private:
    QPointer<backend::BackendController> m_backend;
    std::unique_ptr<access::FullDiskAccessGate> m_fileAccess;
    QPointer<access::FullDiskAccessAssistant> m_assistant;
    bool m_sharedAssistant;
};

} // namespace velmora::app
