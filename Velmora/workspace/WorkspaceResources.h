#pragma once

namespace velmora::workspace {

// Makes the workspace's scripts (":/velmora/workspace/...") readable. They are compiled into a
// static library, which nothing else pulls in; safe to call any number of times.
void initWorkspaceResources();

} // namespace velmora::workspace
