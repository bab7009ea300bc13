#include "app/VelmoraApp.h"

#include "access/FullDiskAccessAssistant.h"
#include "access/FullDiskAccessGate.h"
#include "backend/BackendController.h"

#include <QWidget>

namespace velmora::app {

VelmoraApp::VelmoraApp(backend::BackendController &backend,
                       std::unique_ptr<access::FullDiskAccessGate> fileAccess,
                       access::FullDiskAccessAssistant *assistant, QObject *parent)
    : QObject(parent)
    , m_backend(&backend)
    , m_fileAccess(fileAccess ? std::move(fileAccess) : std::make_unique<access::FullDiskAccessGate>())
    , m_assistant(assistant)
    , m_sharedAssistant(assistant == nullptr)
{
}

VelmoraApp::VelmoraApp()
    : VelmoraApp(backend::BackendController::shared())
{
}

VelmoraApp::~VelmoraApp() = default;

access::FullDiskAccessAssistant &VelmoraApp::assistant() const
{
    // The shared assistant is made on its first use, not with the application.
    if (m_sharedAssistant || !m_assistant)
        return access::FullDiskAccessAssistant::shared();
    return *m_assistant;
}

QCoro::Task<> VelmoraApp::startAfterPermission(platform::CancelToken token)
{
    QPointer<VelmoraApp> self(this);
    const bool granted = co_await m_fileAccess->check();
    // Without access the access screen stays; the next activation or recheck comes back here.
    if (!self || !granted || token.isCancelled())
        co_return;

    // Access came while the assistant was up: closing it runs its completion (the recheck),
    // whose second run of this sequence finds the backend already starting.
    auto &guide = assistant();
    if (QWidget *panel = guide.window(); panel && panel->isVisible())
        guide.close();

    if (!self || !m_backend)
        co_return;
    co_await m_backend->start(token);
}

void VelmoraApp::runStartupSequence()
{
    platform::detach(startAfterPermission());
}

void VelmoraApp::applicationBecameActive()
{
    // A check in flight belongs to a run that will act on its answer, which a second run would
    // only share. Showing the window at launch makes the application active during the
    // appearance task's check, and a second run would then retry a start that failed at once.
    if (m_fileAccess->isReady() || m_fileAccess->isChecking())
        return;
    runStartupSequence();
}

void VelmoraApp::retryBackendStart()
{
    if (m_backend)
        platform::detach(m_backend->start());
}

} // namespace velmora::app
