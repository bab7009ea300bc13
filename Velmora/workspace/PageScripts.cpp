#include "workspace/PageScripts.h"

#include <QWebEnginePage>

namespace velmora::workspace {

PageScripts::PageScripts(QWebEnginePage *page, QObject *parent) : backend::WorkspacePage(parent), m_page(page) {}

QCoro::Task<backend::PageScriptResult> PageScripts::runAsyncFunction(QString body)
{
    Q_UNUSED(body);
    // The engine's own script call cannot wait for a promise; the settled value has to come
    // back over the page bridge, which does not exist yet. Until then the page is not asked,
    // and callers take the missing answer as "not yet".
    co_return backend::PageScriptResult{};
}

} // namespace velmora::workspace
