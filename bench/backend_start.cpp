// Measures how long BackendController::start() takes to publish url against the reference
// backend, split into the backend's own start-up and the supervisor's detection lag.
//
// A second client polls /healthz every 5 ms from the moment the attempt begins; its first
// answer that names this process as the backend's parent marks when the backend became
// ready. The difference to url being set is the time the supervisor added, which should stay
// within one poll pause (0.5 s) plus one probe.
//
// bench_backend_start [runs]   (development build: runs scripts/run-app.sh from the source tree)
// Each run uses a fresh loopback port and waits until the previous backend has left.
#include "TestSupport.h"

#include "backend/BackendController.h"
#include "platform/HttpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <QCoro/QCoroTask>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    if (v.empty())
        return 0;
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Shared between one run and its poller, which may still be suspended when the run ends.
struct Probe
{
    QElapsedTimer clock;
    qint64 readyAt = -1;
    bool polling = true;
};

// Fast independent poller: the first healthy answer naming this process as the parent.
// Takes everything by value: a coroutine lambda's captures die with the lambda object.
QCoro::Task<> pollUntilReady(std::shared_ptr<Probe> probe, QUrl health, QString ownPid)
{
    while (probe->polling && probe->readyAt < 0) {
        const platform::HttpResponse r = co_await platform::HttpClient::shared().get(
            health, platform::RedirectPolicy::none(), 200ms);
        if (r.received && r.status == 200
            && QJsonDocument::fromJson(r.body).object().value(QStringLiteral("desktop_parent_pid")).toString() == ownPid) {
            probe->readyAt = probe->clock.elapsed();
            break;
        }
        co_await platform::sleepFor(5ms);
    }
}

// Waits (bounded) until nothing answers on health any more, so that the next run starts on
// an idle machine.
QCoro::Task<> waitUntilGone(QUrl health)
{
    for (int i = 0; i < 100; ++i) {
        const platform::HttpResponse r = co_await platform::HttpClient::shared().get(
            health, platform::RedirectPolicy::none(), 200ms);
        if (!r.received)
            co_return;
        co_await platform::sleepFor(100ms);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const QString ownPid = QString::number(QCoreApplication::applicationPid());

    std::vector<double> total, own, lag, launch;
    for (int i = 0; i < runs; ++i) {
        const test::ReservedPort reserved;
        const quint16 port = reserved.number();
        qputenv("VELMORA_DESKTOP_PORT", QByteArray::number(port));
        const QUrl health(QStringLiteral("http://127.0.0.1:%1/healthz").arg(port));

        backend::BackendController controller;
        auto probe = std::make_shared<Probe>();
        qint64 urlAt = -1, launchedAt = -1;
        // logURL is published right before the backend is spawned.
        QObject::connect(&controller, &backend::BackendController::logURLChanged,
                         [&] { launchedAt = probe->clock.elapsed(); });
        QObject::connect(&controller, &backend::BackendController::urlChanged, [&] { urlAt = probe->clock.elapsed(); });

        probe->clock.start();
        platform::detach(pollUntilReady(probe, health, ownPid));
        QCoro::waitFor(controller.start());
        if (urlAt < 0) {
            probe->polling = false;
            std::fprintf(stderr, "run %d failed: %s\n", i, qPrintable(controller.error()));
            return 1;
        }
        // The poller answers within a few milliseconds of the backend being ready; give it a
        // bounded moment in case the supervisor's probe won the race.
        QElapsedTimer grace;
        grace.start();
        while (probe->readyAt < 0 && grace.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        probe->polling = false;
        controller.stop();
        if (probe->readyAt < 0) {
            std::fprintf(stderr, "run %d: the poller never saw the backend ready\n", i);
            return 1;
        }
        total.push_back(urlAt);
        own.push_back(probe->readyAt);
        lag.push_back(urlAt - probe->readyAt);
        launch.push_back(launchedAt);
        std::printf("run %d: start->url %lld ms = backend ready %lld ms (spawned at %lld ms) + detection lag %lld ms\n", i,
                    urlAt, probe->readyAt, launchedAt, urlAt - probe->readyAt);
        std::fflush(stdout);
        QCoro::waitFor(waitUntilGone(health));
    }
    std::printf("median over %d runs: start->url %.0f ms = backend start-up %.0f ms + detection lag %.0f ms "
                "(max lag %.0f ms; spawned after %.0f ms)\n",
                runs, median(total), median(own), median(lag), *std::max_element(lag.begin(), lag.end()), median(launch));
    return 0;
}
