#include "workspace/ContextMenuRules.h"

namespace velmora::workspace {

QList<ContextMenuAction> contextMenuActions(const ContextMenuTarget &target)
{
    QList<ContextMenuAction> actions;
    if (target.editable) {
        if (target.canCut && target.hasSelection)
            actions << ContextMenuAction::Cut;
        if (target.canCopy && target.hasSelection)
            actions << ContextMenuAction::Copy;
        if (target.canPaste)
            actions << ContextMenuAction::Paste;
        if (target.canSelectAll)
            actions << ContextMenuAction::SelectAll;
    } else if (target.hasSelection && target.canCopy) {
        // The engine reports "select all" everywhere; on the page's own text it would only
        // select the whole interface, so a plain area offers nothing.
        actions << ContextMenuAction::Copy;
    }
    if (target.onLink)
        actions << ContextMenuAction::CopyLinkAddress;
    return actions;
}

} // namespace velmora::workspace
