#pragma once

// How Velmora's windows draw, chosen before the application object exists (Qt reads it while
// the object is made): GL contexts shared with the web engine, and, where the engine has no
// GPU, Qt Quick's software renderer and no GL driver at all (preferredDrawing, in
// app/DesktopDefaults). Every program that shows the workspace's web view calls it.

namespace velmora::app {

void prepareDrawing(int argc, char *argv[]);

} // namespace velmora::app
