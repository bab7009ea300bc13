// The update window in each state a user can meet, driven by the scripted engine of the tests
// and a canned release-notes answer.
#include "Gallery.h"

#include "ScriptedUpdater.h"

#include "platform/Bundle.h"
#include "platform/HttpClient.h"
#include "updates/UpdateController.h"

#include <QApplication>
#include <QDeadlineTimer>

using namespace velmora;

namespace {

const char *const sampleNotes = "<p>**새 기능**<br>- 녹음 파일을 끌어다 놓아 바로 변환할 수 있습니다.<br>"
                                "- 자막 파일(`.srt`, `.vtt`)을 함께 저장합니다.<br><br>**개선**<br>"
                                "- 긴 녹음의 변환 속도가 빨라졌습니다.<br># 제목처럼 보이는 줄도 그대로 표시됩니다.</p>";

// Answers every request at once with the given status and body, or never when hang is set.
class CannedHttpClient : public platform::HttpClient
{
public:
    int status = 200;
    QByteArray body;
    bool hang = false;

    QCoro::Task<platform::HttpResponse> get(QUrl, platform::RedirectPolicy, std::chrono::milliseconds,
                                            platform::CancelToken token, qint64) override
    {
        if (hang)
            co_await platform::sleepFor(std::chrono::hours(1), token);
        platform::HttpResponse response;
        response.received = !token.isCancelled();
        response.status = status;
        response.body = body;
        co_return response;
    }
};

void waitUntil(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

struct Scene
{
    explicit Scene(bool development = false)
    {
        bundle.info.insert(platform::bundleKey::shortVersion, QStringLiteral("1.3.0"));
        if (development)
            bundle.info.insert(platform::bundleKey::projectRoot, QStringLiteral("/src/velmora"));
        updates::UpdateController::Dependencies deps;
        deps.controllerFactory = test::ScriptedController::factory(&engine);
        deps.bundle = &bundle;
        deps.http = &http;
        deps.releaseNotesHosts = {QStringLiteral("updates.velmora.app"), QStringLiteral("velmora.app")};
        controller = std::make_unique<updates::UpdateController>(std::move(deps));
        controller->controller();
        engine->scripted.automaticChecks = false;
    }

    // Started without a launch check, then automatic notices turned on as most users have them.
    void ready()
    {
        controller->start();
        controller->showUpdateWindow();
        engine->scripted.setAutomaticallyChecksForUpdates(true);
        waitUntil([this] { return controller->canCheckForUpdates() && controller->automaticallyChecksForUpdates(); });
    }

    void find()
    {
        controller->refreshUpdateInformation();
        updates::UpdateItem item;
        item.versionString = item.displayVersionString = QStringLiteral("1.4.0");
        item.releaseNotesURL = platform::LiteralUrl(QStringLiteral("https://updates.velmora.app/notes/1.4.0.html"));
        engine->findUpdate(item);
        engine->finishCycle();
    }

    void save(gallery::Gallery &gallery, const QString &name)
    {
        controller->showUpdateWindow();
        gallery.save(*controller->updateWindow(), name);
    }

    platform::FixedBundle bundle;
    CannedHttpClient http;
    test::ScriptedController *engine = nullptr;
    std::unique_ptr<updates::UpdateController> controller;
};

} // namespace

VELMORA_GALLERY_PAGE("update-window")
{
    {
        Scene scene(true);
        scene.controller->start();
        scene.save(gallery, QStringLiteral("update-window-development"));
    }
    {
        // The engine stays unable to check, so the request keeps waiting while the picture is
        // taken instead of turning into a running check.
        Scene scene;
        scene.engine->ableOnStart = false;
        scene.controller->start();
        scene.controller->refreshUpdateInformation();
        scene.save(gallery, QStringLiteral("update-window-waiting"));
    }
    {
        Scene scene;
        scene.ready();
        scene.controller->refreshUpdateInformation();
        scene.save(gallery, QStringLiteral("update-window-checking"));
    }
    {
        Scene scene;
        scene.http.hang = true;
        scene.ready();
        scene.find();
        scene.save(gallery, QStringLiteral("update-window-found-loading"));
    }
    {
        Scene scene;
        scene.http.body = QByteArray(sampleNotes);
        scene.ready();
        scene.find();
        waitUntil([&] { return !scene.controller->isLoadingNotes(); });
        scene.save(gallery, QStringLiteral("update-window-found-notes"));
    }
    {
        Scene scene;
        scene.http.status = 404;
        scene.ready();
        scene.find();
        waitUntil([&] { return !scene.controller->isLoadingNotes(); });
        scene.save(gallery, QStringLiteral("update-window-found-notes-failed"));
    }
    {
        Scene scene;
        scene.ready();
        scene.controller->refreshUpdateInformation();
        scene.engine->finishCycle(test::noUpdateError());
        scene.save(gallery, QStringLiteral("update-window-no-update"));
    }
    {
        Scene scene;
        scene.ready();
        scene.controller->refreshUpdateInformation();
        scene.engine->finishCycle(updates::UpdaterError{QStringLiteral("NSURLErrorDomain"), -1009, {}});
        scene.save(gallery, QStringLiteral("update-window-failed"));
    }
}
