#include "workspace/WorkspaceContextMenu.h"

#include "workspace/Texts.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QWebEngineContextMenuRequest>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace velmora::workspace {

WorkspaceContextMenu::WorkspaceContextMenu(QWebEngineView *view) : QObject(view), m_view(view)
{
    // With a custom policy the view hands the engine's request over instead of building its
    // own menu from it.
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, &WorkspaceContextMenu::show);
}

QMenu *WorkspaceContextMenu::openMenu() const
{
    const auto menus = m_view->findChildren<QMenu *>(QStringLiteral("velmora.contextMenu"), Qt::FindDirectChildrenOnly);
    for (QMenu *menu : menus) {
        if (menu->isVisible())
            return menu;
    }
    return nullptr;
}

QString WorkspaceContextMenu::text(ContextMenuAction action)
{
    switch (action) {
    case ContextMenuAction::Cut:
        return contextMenuCutText;
    case ContextMenuAction::Copy:
        return contextMenuCopyText;
    case ContextMenuAction::Paste:
        return contextMenuPasteText;
    case ContextMenuAction::SelectAll:
        return contextMenuSelectAllText;
    case ContextMenuAction::CopyLinkAddress:
        return contextMenuCopyLinkText;
    }
    return {};
}

void WorkspaceContextMenu::show(const QPoint &position)
{
    QWebEngineContextMenuRequest *request = m_view->lastContextMenuRequest();
    if (!request)
        return;
    const auto flags = request->editFlags();
    ContextMenuTarget target;
    target.editable = request->isContentEditable();
    target.hasSelection = !request->selectedText().isEmpty();
    target.onLink = request->linkUrl().isValid() && !request->linkUrl().isEmpty();
    target.canCut = flags.testFlag(QWebEngineContextMenuRequest::CanCut);
    target.canCopy = flags.testFlag(QWebEngineContextMenuRequest::CanCopy);
    target.canPaste = flags.testFlag(QWebEngineContextMenuRequest::CanPaste);
    target.canSelectAll = flags.testFlag(QWebEngineContextMenuRequest::CanSelectAll);
    const QList<ContextMenuAction> actions = contextMenuActions(target);
    if (actions.isEmpty()) {
        emit answered(actions);
        return;
    }

    auto *menu = new QMenu(m_view);
    menu->setObjectName(QStringLiteral("velmora.contextMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QUrl link = request->linkUrl();
    for (ContextMenuAction action : actions) {
        if (action == ContextMenuAction::CopyLinkAddress && !menu->isEmpty())
            menu->addSeparator();
        menu->addAction(text(action), this, [this, action, link] { trigger(action, link); });
    }
    menu->popup(m_view->mapToGlobal(position));
    emit answered(actions);
}

void WorkspaceContextMenu::trigger(ContextMenuAction action, const QUrl &link)
{
    QWebEnginePage *page = m_view->page();
    switch (action) {
    case ContextMenuAction::Cut:
        page->triggerAction(QWebEnginePage::Cut);
        return;
    case ContextMenuAction::Copy:
        page->triggerAction(QWebEnginePage::Copy);
        return;
    case ContextMenuAction::Paste:
        page->triggerAction(QWebEnginePage::Paste);
        return;
    case ContextMenuAction::SelectAll:
        page->triggerAction(QWebEnginePage::SelectAll);
        return;
    case ContextMenuAction::CopyLinkAddress: {
        // As text and as a URL, so that both text fields and file managers take it.
        auto *data = new QMimeData;
        data->setUrls({link});
        data->setText(link.toString(QUrl::FullyEncoded));
        QGuiApplication::clipboard()->setMimeData(data);
        return;
    }
    }
}

} // namespace velmora::workspace
