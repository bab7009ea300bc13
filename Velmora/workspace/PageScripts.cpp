#include "workspace/PageScripts.h"

#include "platform/RandomToken.h"
#include "workspace/ScriptBridge.h"

#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <QCoro/QCoroSignal>

namespace velmora::workspace {

namespace {

// The wait for one run: ends once, with the settled value or a failure, whichever comes first.
// It belongs to the coroutine that waits, so it outlives the wait whatever else goes away.
class Settlement : public QObject
{
    Q_OBJECT
public:
    explicit Settlement(std::chrono::milliseconds timeout)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { finish({}); });
        m_timer.start(timeout);
    }

    void finish(const backend::PageScriptResult &result)
    {
        if (m_finished)
            return;
        m_finished = true;
        m_result = result;
        m_timer.stop();
        emit finished();
    }

    bool isFinished() const { return m_finished; }
    const backend::PageScriptResult &result() const { return m_result; }

signals:
    void finished();

private:
    QTimer m_timer;
    bool m_finished = false;
    backend::PageScriptResult m_result;
};

} // namespace

PageScripts::PageScripts(QWebEnginePage *page, ScriptBridge *bridge, std::chrono::milliseconds settleTimeout,
                         QObject *parent)
    : backend::WorkspacePage(parent)
    , m_page(page)
    , m_bridge(bridge)
    , m_settleTimeout(settleTimeout)
{}

QCoro::Task<backend::PageScriptResult> PageScripts::runAsyncFunction(QString body)
{
    if (!m_page || !m_bridge)
        co_return backend::PageScriptResult{};

    // Only the settlement under this run's own token counts, and only once.
    const QString token = platform::randomToken();
    Settlement settlement(m_settleTimeout);
    connect(m_bridge, &ScriptBridge::settled, &settlement,
            [&settlement, token](const QString &settledToken, bool ok, const QVariant &value) {
                if (settledToken == token)
                    settlement.finish({ok, value});
            });
    connect(m_bridge, &QObject::destroyed, &settlement, [&settlement] { settlement.finish({}); });
    connect(m_page, &QObject::destroyed, &settlement, [&settlement] { settlement.finish({}); });
    // A new document drops the run with the old one.
    connect(m_page, &QWebEnginePage::loadStarted, &settlement, [&settlement] { settlement.finish({}); });
    QPointer<Settlement> waiting(&settlement);
    m_page->runJavaScript(ScriptBridge::asyncFunctionCall(token, body), QWebEngineScript::MainWorld,
                          [waiting](const QVariant &started) {
                              if (waiting && !started.toBool())
                                  waiting->finish({});
                          });
    if (!settlement.isFinished())
        co_await qCoro(&settlement, &Settlement::finished);
    co_return settlement.result();
}

} // namespace velmora::workspace

#include "PageScripts.moc"
