#pragma once

#include "workspace/ContextMenuRules.h"

#include <QObject>

class QMenu;
class QWebEngineView;

namespace velmora::workspace {

// The web view's right-click menu: Velmora's own, in Korean, with the editing actions that
// apply where the user clicked (contextMenuActions) and nothing else. It replaces the engine's
// browser menu (back, reload, save page, view source); where no action applies, no menu shows.
class WorkspaceContextMenu : public QObject
{
    Q_OBJECT
public:
    // Takes over view's context menu for as long as view lives.
    explicit WorkspaceContextMenu(QWebEngineView *view);

    // The menu that is open, or nullptr.
    QMenu *openMenu() const;

    // The menu's text for an action.
    static QString text(ContextMenuAction action);

signals:
    // A right-click was answered; actions is empty when no menu was shown.
    void answered(const QList<velmora::workspace::ContextMenuAction> &actions);

private:
    void show(const QPoint &position);
    void trigger(ContextMenuAction action, const QUrl &link);

    QWebEngineView *m_view;
};

} // namespace velmora::workspace
