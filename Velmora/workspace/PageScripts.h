#pragma once

#include "backend/WorkspacePage.h"

#include <QPointer>

class QWebEnginePage;

namespace velmora::workspace {

// Runs the backend supervisor's scripts in the workspace page's main frame.
class PageScripts : public backend::WorkspacePage
{
    Q_OBJECT
public:
    explicit PageScripts(QWebEnginePage *page, QObject *parent = nullptr);

    QCoro::Task<backend::PageScriptResult> runAsyncFunction(QString body) override;

private:
    QPointer<QWebEnginePage> m_page;
};

} // namespace velmora::workspace
