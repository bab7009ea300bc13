#pragma once

// One update controller over the scripted engine, with the bundle, the HTTP client, the
// release-notes hosts and the backend question that each test shapes through Options. Links
// and the release page go to a recording opener, never to a browser.

#include "RecordingUrlOpener.h"
#include "ScriptedUpdater.h"
#include "TestSupport.h"

#include "platform/Bundle.h"
#include "updates/UpdateController.h"

#include <QTest>
#include <QVariant>

#include <memory>

namespace velmora::test {

// What a test shapes. (Outside the harness so that "Options options = {}" is a valid default
// argument.)
struct UpdateHarnessOptions
{
    // Any value makes a development build, whatever its type; invalid = a packaged one.
    QVariant projectRoot = {};
    // CFBundleShortVersionString; invalid = absent.
    QVariant version = QStringLiteral("1.3.0");
    // The engine's setting when the controller starts.
    bool automaticChecks = true;
    platform::HttpClient *http = nullptr;
    // Empty = the build's hosts.
    QStringList releaseNotesHosts = {};
    updates::UpdateController::PrepareForUpdate prepareForUpdate = {};
    std::chrono::milliseconds relaunchPollInterval = updates::UpdateController::relaunchPollInterval;
};

struct UpdateHarness
{
    using Options = UpdateHarnessOptions;

    explicit UpdateHarness(Options options = {})
    {
        if (options.version.isValid())
            bundle.info.insert(QStringLiteral("CFBundleShortVersionString"), options.version);
        if (options.projectRoot.isValid())
            bundle.info.insert(QStringLiteral("VelmoraProjectRoot"), options.projectRoot);
        updates::UpdateController::Dependencies deps;
        deps.controllerFactory = ScriptedController::factory(&engine);
        deps.bundle = &bundle;
        deps.http = options.http;
        deps.urlOpener = &opener;
        if (!options.releaseNotesHosts.isEmpty())
            deps.releaseNotesHosts = options.releaseNotesHosts;
        deps.prepareForUpdate = std::move(options.prepareForUpdate);
        deps.relaunchPollInterval = options.relaunchPollInterval;
        controller = std::make_unique<updates::UpdateController>(std::move(deps));
        controller->controller();
        engine->scripted.automaticChecks = options.automaticChecks;
    }

    ScriptedUpdater &updater() { return engine->scripted; }

    // The request of the menu command and the page: start, show the window, check.
    void userRequest()
    {
        controller->start();
        controller->showUpdateWindow();
        controller->refreshUpdateInformation();
    }

    // Starts and waits until the engine can take a check (the launch check, if any, runs).
    void startAndWaitUntilReady()
    {
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(controller->canCheckForUpdates(), patience);
    }

    // An information check that found item and has ended.
    void reachFoundUpdate(const updates::UpdateItem &item)
    {
        startAndWaitUntilReady();
        controller->refreshUpdateInformation();
        engine->findUpdate(item);
        engine->finishCycle();
    }

    platform::FixedBundle bundle;
    RecordingUrlOpener opener;
    ScriptedController *engine = nullptr;
    std::unique_ptr<updates::UpdateController> controller;
};

// A found update of version, as the engine reports it.
inline updates::UpdateItem updateItem(const QString &version = QStringLiteral("1.4.0"))
{
    updates::UpdateItem found;
    found.versionString = found.displayVersionString = version;
    return found;
}

} // namespace velmora::test
