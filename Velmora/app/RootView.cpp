#include "app/RootView.h"

#include "access/FullDiskAccessGate.h"
#include "access/Ink.h"
#include "access/StartupAccessView.h"
#include "app/AccessCheckProgressView.h"
#include "app/StartupFailureView.h"
#include "app/StartupProgressView.h"
#include "app/Texts.h"
#include "app/VelmoraApp.h"
#include "backend/BackendController.h"
#include "platform/Bundle.h"
#include "workspace/WorkspaceView.h"

#include <QGuiApplication>
#include <QPointer>
#include <QShowEvent>

namespace velmora::app {

RootView::RootView(VelmoraApp &app, platform::UrlOpener &opener, WorkspaceFactory makeWorkspace,
                   QWidget *parent)
    : QStackedWidget(parent)
    , m_app(app)
    , m_makeWorkspace(std::move(makeWorkspace))
    , m_opener(opener)
    , m_screen(StartupScreen::AccessCheck)
{
    setMinimumSize(1100, 720);

    auto &gate = m_app.fileAccess();
    auto &backend = m_app.backend();
    connect(&gate, &access::FullDiskAccessGate::isReadyChanged, this, &RootView::render);
    connect(&gate, &access::FullDiskAccessGate::hasCheckedChanged, this, &RootView::render);
    connect(&backend, &backend::BackendController::urlChanged, this, &RootView::render);
    connect(&backend, &backend::BackendController::errorChanged, this, &RootView::render);

    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            m_app.applicationBecameActive();
    });
    render();
}

RootView::~RootView()
{
    m_appearanceTask.cancel();
}

void RootView::showEvent(QShowEvent *event)
{
    QStackedWidget::showEvent(event);
    // A window coming back from being hidden or minimised finds the sequence of its first
    // appearance still running, or a new one starts.
    if (event->spontaneous() || m_appearing)
        return;
    m_appearanceTask = platform::TaskHandle::make();
    m_appearing = true;
    platform::detach(appear(QPointer<RootView>(this), m_app.startAfterPermission(m_appearanceTask.token())));
}

QCoro::Task<> RootView::appear(QPointer<RootView> self, QCoro::Task<> sequence)
{
    co_await sequence;
    if (self)
        self->m_appearing = false;
}

void RootView::render()
{
    const auto &gate = m_app.fileAccess();
    const auto &backend = m_app.backend();
    const StartupScreen next = chooseScreen(gate.isReady(), gate.hasChecked(), backend.url(), backend.error());
    if (m_hasScreen && next == m_screen)
        return;

    QWidget *previous = currentWidget();
    QWidget *widget = makeScreen(next);
    addWidget(widget);
    setCurrentWidget(widget);
    if (previous) {
        removeWidget(previous);
        previous->deleteLater();
    }
    m_screen = next;
    m_hasScreen = true;
    emit screenChanged(next);
}

QWidget *RootView::makeScreen(StartupScreen screen)
{
    auto &backend = m_app.backend();
    switch (screen) {
    case StartupScreen::Workspace:
        if (m_makeWorkspace)
            return m_makeWorkspace(backend.url(), this);
        return new workspace::WorkspaceView(backend.url(), m_opener, this);
    case StartupScreen::Failure: {
        auto *view = new StartupFailureView(m_opener, this);
        view->setError(backend.error());
        view->setLogURL(backend.logURL());
        // The error can change on this screen only through a new failure, while the log
        // may appear at any time.
        connect(&backend, &backend::BackendController::errorChanged, view, [view, &backend] {
            if (!backend.error().isEmpty())
                view->setError(backend.error());
        });
        connect(&backend, &backend::BackendController::logURLChanged, view,
                [view, &backend] { view->setLogURL(backend.logURL()); });
        connect(view, &StartupFailureView::retryRequested, this, [this] { m_app.retryBackendStart(); });
        return view;
    }
    case StartupScreen::StartupProgress:
        return new StartupProgressView(openingStatus, this);
    case StartupScreen::Access: {
        QPointer<VelmoraApp> app(&m_app);
        auto *view = new access::StartupAccessView(
            m_app.fileAccess(),
            [app] {
                if (app)
                    app->runStartupSequence();
            },
            platform::Bundle::main().bundleURL(), access::inkColor, this);
        view->setAssistant([this]() -> access::FullDiskAccessAssistant & { return m_app.assistant(); });
        return view;
    }
    case StartupScreen::AccessCheck:
        return new AccessCheckProgressView(this);
    }
    return new QWidget(this);
}

} // namespace velmora::app
