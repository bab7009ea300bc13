// Round trip of one bridge message as the page sees it: from calling
// window.webkit.messageHandlers.getSaveLocation.postMessage() to its promise's callback, with
// the page half, the bridge's own script world, the web channel, the gate, the handler and the
// reply's way back included. Calls are made one after the other in a visible window; then a
// few while the window is hidden, when the engine throttles the page.
//
// For comparison the same loop runs over a bare web channel in the page's own world: one
// published object whose method answers a constant map, called with a callback, which is what
// the transport alone costs.
//
// The pages are served cross-origin isolated (COOP/COEP headers), so performance.now() has
// its fine resolution (5 µs instead of 100 µs).
//
//   xvfb-run -a build-release/bin/bench_bridge_roundtrip [calls]
#include "TestSupport.h"

#include "app/Drawing.h"
#include "workspace/WorkspaceView.h"
#include "workspace/WorkspaceViewCoordinator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

using namespace velmora;

namespace {

const QByteArray page = "<!doctype html><meta charset=utf-8><body><script>"
                        "window.measure = async (post, n) => {"
                        "  const times = [];"
                        "  for (let i = 0; i < n; ++i) {"
                        "    const start = performance.now();"
                        "    await post();"
                        "    times.push(performance.now() - start);"
                        "  }"
                        "  return times;"
                        "};"
                        "window.run = (post, n) => {"
                        "  window.result = null;"
                        "  measure(post, n).then((t) => { window.result = t; });"
                        "};"
                        "window.bridge = () => window.webkit.messageHandlers.getSaveLocation.postMessage();"
                        "</script>";

// The bare transport: one object on a web channel in the page's own world.
class Echo : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE QVariantMap echo() const { return {{"path", "/home/u/Downloads"}, {"name", "Downloads"}}; }
};

const QString bareChannelSetup = QStringLiteral("new QWebChannel(qt.webChannelTransport, (channel) => {"
                                                "  const echo = channel.objects.echo;"
                                                "  window.bare = () => new Promise((resolve) => echo.echo(resolve));"
                                                "  window.bareReady = true;"
                                                "});");

// Waiting runs a plain event loop: QTest::qWaitFor sleeps 10 ms between its rounds, and the
// web channel's messages wait for the main thread.
QVariant evaluate(QWebEnginePage *target, const QString &script)
{
    QEventLoop loop;
    QVariant value;
    target->runJavaScript(script, [&](const QVariant &v) {
        value = v;
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    return value;
}

// Polls condition every 50 ms from a running event loop; false when limit passed first.
template<typename Condition>
bool waitUntil(Condition condition, int limit)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limit)
            return false;
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Runs n calls of post (a page function returning a promise) and returns their times in ms.
std::vector<double> measure(QWebEnginePage *target, const QString &post, int n)
{
    evaluate(target, QStringLiteral("run(%1, %2)").arg(post).arg(n));
    QVariantList times;
    (void)waitUntil(
        [&] {
            times = evaluate(target, QStringLiteral("window.result")).toList();
            return !times.isEmpty();
        },
        600000);
    std::vector<double> out;
    for (const QVariant &t : std::as_const(times))
        out.push_back(t.toDouble());
    std::sort(out.begin(), out.end());
    return out;
}

double percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    const size_t index = size_t(std::ceil(p * double(sorted.size()))) - 1;
    return sorted[std::min(index, sorted.size() - 1)];
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').mid(0, 3).join(' ') : QByteArray("?");
}

void report(const char *what, const std::vector<double> &t)
{
    std::printf("%-38s n=%zu  p50 %.3f ms  p90 %.3f ms  p99 %.3f ms  max %.3f ms\n", what, t.size(), percentile(t, 0.5),
                percentile(t, 0.9), percentile(t, 0.99), t.empty() ? 0 : t.back());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    // The web view draws as it does in velmora.
    velmora::app::prepareDrawing(argc, argv);
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    test::TemporarySettings settings;
    const int calls = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;

    test::LoopbackHttpServer server;
    if (!server.listen()) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    server.setHandler([](const QByteArray &, const QString &) {
        return test::HttpReply{200,
                               page,
                               {{"Content-Type", "text/html; charset=utf-8"},
                                {"Cross-Origin-Opener-Policy", "same-origin"},
                                {"Cross-Origin-Embedder-Policy", "require-corp"}},
                               false};
    });

    std::printf("platform %s, %d calls, load average %s\n", qPrintable(QGuiApplication::platformName()), calls,
                loadAverage().constData());

    // The workspace view as the application makes it, with the real bridge and handlers.
    workspace::WorkspaceView view(server.url("/"));
    view.resize(1100, 720);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view, 60000)
        || !waitUntil(
            [&] {
                return evaluate(view.coordinator(),
                                "typeof window.bridge === 'function' && document.readyState === 'complete'")
                    .toBool();
            },
            60000)) {
        std::fprintf(stderr, "page did not load\n");
        return 1;
    }
    std::printf("crossOriginIsolated: %s\n",
                evaluate(view.coordinator(), "String(self.crossOriginIsolated)").toString().toUtf8().constData());

    // The bare channel, in a page of its own.
    QWebEngineView bareView;
    QWebEngineProfile bareProfile;
    auto *bare = new QWebEnginePage(&bareProfile, &bareView);
    bareView.setPage(bare);
    QFile channelScript(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    channelScript.open(QIODevice::ReadOnly);
    QWebEngineScript script;
    script.setSourceCode(QString::fromUtf8(channelScript.readAll()) + bareChannelSetup);
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::MainWorld);
    bare->scripts().insert(script);
    QWebChannel channel;
    Echo echo;
    channel.registerObject(QStringLiteral("echo"), &echo);
    bare->setWebChannel(&channel, QWebEngineScript::MainWorld);
    bareView.resize(400, 300);
    bareView.show();
    bare->load(server.url("/"));
    if (!waitUntil([&] { return evaluate(bare, "window.bareReady === true").toBool(); }, 60000)) {
        std::fprintf(stderr, "bare channel not ready\n");
        return 1;
    }

    // Warm both paths up, then measure them alternately so that both see the same machine.
    measure(view.coordinator(), "bridge", 200);
    measure(bare, "bare", 200);
    std::vector<double> bridge;
    std::vector<double> baseline;
    for (int round = 0; round < 4; ++round) {
        const std::vector<double> b = measure(view.coordinator(), "bridge", calls / 4);
        bridge.insert(bridge.end(), b.begin(), b.end());
        const std::vector<double> c = measure(bare, "bare", calls / 4);
        baseline.insert(baseline.end(), c.begin(), c.end());
    }
    std::sort(bridge.begin(), bridge.end());
    std::sort(baseline.begin(), baseline.end());
    report("bridge getSaveLocation, visible", bridge);
    report("bare web channel call, visible", baseline);

    // Hidden: the window goes away as the close guard hides it while the backend works.
    bareView.hide();
    view.hide();
    (void)waitUntil(
        [&] { return evaluate(view.coordinator(), "document.visibilityState").toString() == QLatin1String("hidden"); },
        10000);
    std::printf("hidden page visibilityState: %s\n",
                evaluate(view.coordinator(), "document.visibilityState").toString().toUtf8().constData());
    const std::vector<double> hidden = measure(view.coordinator(), "bridge", 50);
    report("bridge getSaveLocation, hidden", hidden);
    std::printf("load average at the end %s\n", loadAverage().constData());
    return 0;
}

#include "bridge_roundtrip.moc"
