#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <QCoro/QCoroTask>

namespace velmora::backend {

// The settled outcome of a script run in the workspace page.
struct PageScriptResult
{
    // False when the script threw, its promise was rejected, the engine reported an error or
    // no answer came in time.
    bool ok = false;
    // The value the script's promise resolved with (invalid for undefined).
    QVariant value;
};

// The workspace page as the backend supervisor sees it: somewhere to run a script in the main
// frame and get back the value it settles to. The workspace implements it; the supervisor
// holds it weakly, so it reads as empty once the page is gone. Keeps backend/ free of the web
// engine.
class WorkspacePage : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    /// Runs body as the body of an asynchronous function without arguments in the page's main
    /// frame, in the page's own script world, and answers the value its promise settles to.
    virtual QCoro::Task<PageScriptResult> runAsyncFunction(QString body) = 0;
};

} // namespace velmora::backend
