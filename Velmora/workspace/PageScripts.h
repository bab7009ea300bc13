#pragma once

#include "backend/WorkspacePage.h"

#include <QPointer>

#include <chrono>

class QWebEnginePage;

namespace velmora::workspace {

class ScriptBridge;

// Runs the backend supervisor's scripts in the workspace page's main frame, in the page's own
// script world, and brings back the value each settles to over the page's bridge (the engine's
// own script call cannot wait for a promise).
class PageScripts : public backend::WorkspacePage
{
    Q_OBJECT
public:
    // How long a script may take to settle; a page whose promise never settles would otherwise
    // hold up its caller (the relaunch after an update) for ever. Expiry counts as a failed run.
    static constexpr std::chrono::milliseconds defaultSettleTimeout{30'000};

    PageScripts(QWebEnginePage *page, ScriptBridge *bridge, std::chrono::milliseconds settleTimeout = defaultSettleTimeout,
                QObject *parent = nullptr);

    /// Fails (ok false) when the page or its bridge is gone, the page has no bridge in its
    /// current document, the script throws or is rejected, the page loads another document
    /// meanwhile, or nothing settles within the time-out.
    QCoro::Task<backend::PageScriptResult> runAsyncFunction(QString body) override;

private:
    QPointer<QWebEnginePage> m_page;
    QPointer<ScriptBridge> m_bridge;
    std::chrono::milliseconds m_settleTimeout;
};

} // namespace velmora::workspace
