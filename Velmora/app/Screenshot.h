#pragma once

#include <QString>

class QWidget;

namespace velmora::app {

class RootView;

// Exit codes of a --screenshot run.
enum ScreenshotResult { PageShown = 0, NotSaved = 1, StartFailed = 2, PageNotLoaded = 3, AccessMissing = 4 };

/// A run for a picture: once root shows the first screen that waits for something outside
/// (the loaded page, the failure screen, the access screen), writes window to path as PNG and
/// ends the event loop with that screen's ScreenshotResult (NotSaved when it could not write).
void takeScreenshotWhenSettled(QWidget &window, RootView &root, const QString &path);

} // namespace velmora::app
