#pragma once

// Which editing actions the workspace's own context menu offers for what was right-clicked.
// The page is an application, not a document: no navigation, saving, source or inspector,
// only the editing a text field or a selection allows.

#include <QList>

namespace velmora::workspace {

enum class ContextMenuAction { Cut, Copy, Paste, SelectAll, CopyLinkAddress };

// What the engine reports about the place that was right-clicked.
struct ContextMenuTarget
{
    // An input, a text area or an editable element.
    bool editable = false;
    // Some text is selected there.
    bool hasSelection = false;
    // A link with an address that can be copied.
    bool onLink = false;
    // The engine's own view of what editing can do there.
    bool canCut = false;
    bool canCopy = false;
    bool canPaste = false;
    bool canSelectAll = false;
};

// The actions of the menu, in menu order; empty means no menu at all.
QList<ContextMenuAction> contextMenuActions(const ContextMenuTarget &target);

} // namespace velmora::workspace
