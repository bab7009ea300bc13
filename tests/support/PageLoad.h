#pragma once

#include "TestSupport.h"

#include "workspace/WorkspaceView.h"
#include "workspace/WorkspaceViewCoordinator.h"

#include <QSignalSpy>
#include <QSize>
#include <QTest>
#include <QWebEngineView>

namespace velmora::test {

// How far a shown page has to be before a test goes on.
enum class PageReady {
    Loaded,   // its first load finished
    ForInput, // also its window is exposed and the web view takes keyboard and mouse input
};

// Shows view (at size, when one is given) and waits, each step at most patience, until its
// page is ready; true when the first load succeeded and the page got that far. The spy is
// made before the view is shown, so a load that finishes at once is not missed.
inline bool showAndWaitForLoad(workspace::WorkspaceView &view, QSize size = {}, PageReady ready = PageReady::Loaded)
{
    QSignalSpy loaded(view.coordinator(), &QWebEnginePage::loadFinished);
    if (size.isValid())
        view.resize(size);
    view.show();
    if (ready == PageReady::ForInput && !QTest::qWaitForWindowExposed(&view, patience)) {
        qWarning("the page's window was not exposed");
        return false;
    }
    if (loaded.isEmpty() && !loaded.wait(patience)) {
        qWarning("the page did not finish loading");
        return false;
    }
    if (!loaded.first().first().toBool()) {
        qWarning("the page failed to load");
        return false;
    }
    return ready == PageReady::Loaded
           || QTest::qWaitFor([&view] { return view.webView()->focusProxy() != nullptr; }, patience);
}

} // namespace velmora::test
