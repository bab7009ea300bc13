#include "app/RootView.h"

#include "access/FullDiskAccessGate.h"
#include "access/Ink.h"
#include "access/StartupAccessView.h"
#include "app/AccessCheckProgressView.h"
#include "app/StartupFailureView.h"
#include "app/StartupProgressView.h"
#include "app/StartupTrace.h"
#include "app/Texts.h"
#include "app/VelmoraApp.h"
#include "backend/BackendController.h"
#include "platform/Bundle.h"
#include "workspace/WorkspaceView.h"

#include <QGuiApplication>
#include <QPointer>
#include <QShowEvent>
#include <QTimer>

namespace velmora::app {

RootView::RootView(VelmoraApp &app, platform::UrlOpener &opener, WorkspaceFactory makeWorkspace, QWidget *parent)
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
    // The real web view takes long to make the first time; it is made while the backend starts.
    if (!m_makeWorkspace)
        connect(&backend, &backend::BackendController::launched, this, &RootView::prepareWorkspace, Qt::QueuedConnection);

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
    // appearance still running, or a new one starts; but a backend that went away while the
    // window was hidden is the user's to start again, from the failure screen it finds.
    if (event->spontaneous() || m_appearing || m_app.backend().backendLost())
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
    if (next == StartupScreen::Workspace && !m_makeWorkspace) {
        if (m_hasScreen && m_screen == StartupScreen::Workspace)
            return;
        if (!m_arrivingWorkspace)
            bringInWorkspace();
        // The screen before it stays meanwhile (the progress screen, when there was none).
        if (!m_hasScreen)
            showScreen(StartupScreen::StartupProgress, makeScreen(StartupScreen::StartupProgress));
        return;
    }
    delete m_arrivingWorkspace.data();
    if (m_hasScreen && next == m_screen)
        return;
    if (next == StartupScreen::Failure && m_hasScreen && m_screen == StartupScreen::StartupProgress) {
        const auto shown = std::chrono::milliseconds(m_progressShown.elapsed());
        if (shown < minimumProgressTime) {
            if (!m_failureWaits) {
                m_failureWaits = true;
                QTimer::singleShot(minimumProgressTime - shown, this, [this] {
                    m_failureWaits = false;
                    render();
                });
            }
            return;
        }
    }
    showScreen(next, makeScreen(next));
}

void RootView::showScreen(StartupScreen screen, QWidget *widget)
{
    // Everything the stack holds goes: the screen shown and what it covered (a workspace
    // under its page's failure screen).
    QList<QWidget *> previous;
    for (int i = 0; i < count(); ++i)
        previous << this->widget(i);
    addWidget(widget);
    setCurrentWidget(widget);
    for (QWidget *old : std::as_const(previous)) {
        removeWidget(old);
        old->deleteLater();
    }
    m_screen = screen;
    m_hasScreen = true;
    if (screen == StartupScreen::StartupProgress)
        m_progressShown.start();
    emit screenChanged(screen);
}

void RootView::bringInWorkspace()
{
    auto &backend = m_app.backend();
    m_preparingFor.clear();
    workspace::WorkspaceView *view = nullptr;
    if (m_preparedWorkspace && m_preparedWorkspace->url() == backend.url()) {
        view = m_preparedWorkspace;
        m_preparedWorkspace.clear();
        view->load();
    } else {
        delete m_preparedWorkspace.data();
        view = new workspace::WorkspaceView(backend.url(), m_opener, this);
    }
    m_arrivingWorkspace = view;
    connect(view, &workspace::WorkspaceView::pageFailed, this, [this, view] { showPageFailure(view); });
    // Shown at its full size just below the root view's edge, where it is laid out and
    // painted but clipped away, until its page has loaded (or failed to).
    if (!view->isVisible()) {
        view->setGeometry(rect().translated(0, height()));
        view->show();
    }
    connect(
        view, &workspace::WorkspaceView::loadFinished, this,
        [this, view] {
            if (m_arrivingWorkspace != view)
                return;
            m_arrivingWorkspace.clear();
            showScreen(StartupScreen::Workspace, view);
            StartupTrace::mark("workspace-shown");
        },
        Qt::SingleShotConnection);
}

void RootView::prepareWorkspace(const QUrl &at)
{
    if (m_screen == StartupScreen::Workspace || !m_app.backend().url().isEmpty())
        return;
    if (m_preparedWorkspace && m_preparedWorkspace->url() != at)
        delete m_preparedWorkspace.data();
    m_preparingFor = at;
    prepareNextStep();
}

void RootView::prepareNextStep()
{
    // Each step is one block of the main thread; between them the event loop runs, so the
    // progress screen stays live and the backend's readiness is seen at once. The first step
    // (the engine) is the longest.
    if (m_preparingFor.isEmpty())
        return;
    if (!m_preparedWorkspace) {
        workspace::WorkspaceView::prepareEngine();
        StartupTrace::mark("engine-prepared");
        QTimer::singleShot(0, this, [this] {
            if (m_preparingFor.isEmpty() || m_preparedWorkspace)
                return;
            m_preparedWorkspace = workspace::WorkspaceView::prepare(m_preparingFor, m_opener, this);
            m_preparedWorkspace->hide();
            StartupTrace::mark("workspace-prepared");
            QTimer::singleShot(0, this, &RootView::prepareNextStep);
        });
        return;
    }
    if (m_preparedWorkspace->isVisible())
        return;
    // Shown at its full size just below the root view's edge: it is set up for showing (the
    // first show of a web view is itself a long step) but clipped away, out of sight.
    m_preparedWorkspace->setGeometry(rect().translated(0, height()));
    m_preparedWorkspace->show();
    m_preparingFor.clear();
    StartupTrace::mark("workspace-prepared-shown");
}

void RootView::showPageFailure(workspace::WorkspaceView *view)
{
    if (currentWidget() != view)
        return;
    auto *failure = new StartupFailureView(m_opener, this);
    failure->setTitle(pageFailedTitle);
    failure->setError(pageFailedMessage);
    addWidget(failure);
    setCurrentWidget(failure);
    connect(failure, &StartupFailureView::retryRequested, this,
            [this, failure, view = QPointer<workspace::WorkspaceView>(view)] {
                if (view) {
                    view->reload();
                    setCurrentWidget(view);
                }
                removeWidget(failure);
                failure->deleteLater();
            });
}

QWidget *RootView::makeScreen(StartupScreen screen)
{
    auto &backend = m_app.backend();
    switch (screen) {
    case StartupScreen::Workspace:
        // Only a workspace of the caller's making comes here; the real one arrives through
        // bringInWorkspace().
        return m_makeWorkspace ? m_makeWorkspace(backend.url(), this) : new QWidget(this);
    case StartupScreen::Failure: {
        auto *view = new StartupFailureView(m_opener, this);
        view->setTitle(backend.backendLost() ? backendLostTitle : failureTitle);
        view->setError(backend.error());
        view->setAlternative(backend.portTaken() ? startOnAnotherPortTitle : QString());
        view->setLogURL(backend.logURL());
        // The error can change on this screen only through a new failure, while the log
        // may appear at any time.
        connect(&backend, &backend::BackendController::errorChanged, view, [view, &backend] {
            if (backend.error().isEmpty())
                return;
            view->setTitle(backend.backendLost() ? backendLostTitle : failureTitle);
            view->setError(backend.error());
            view->setAlternative(backend.portTaken() ? startOnAnotherPortTitle : QString());
        });
        connect(&backend, &backend::BackendController::logURLChanged, view,
                [view, &backend] { view->setLogURL(backend.logURL()); });
        connect(view, &StartupFailureView::retryRequested, this, [this] { m_app.retryBackendStart(); });
        connect(view, &StartupFailureView::alternativeRequested, this, [this] { m_app.startBackendOnAnotherPort(); });
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
