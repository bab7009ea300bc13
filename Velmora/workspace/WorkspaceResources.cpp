#include "workspace/WorkspaceResources.h"

#include <QtGlobal>

// Outside any namespace, as the resource's initialiser is declared there.
static void initResources()
{
    Q_INIT_RESOURCE(workspace);
}

namespace velmora::workspace {

void initWorkspaceResources()
{
    initResources();
}

} // namespace velmora::workspace
