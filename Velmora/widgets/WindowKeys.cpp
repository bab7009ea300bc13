#include "widgets/WindowKeys.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

namespace velmora::widgets {

namespace {

const char dialogRoleProperty[] = "velmora.dialogRole";

QAccessibleInterface *dialogAccessible(const QString &className, QObject *object)
{
    Q_UNUSED(className);
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget || !widget->property(dialogRoleProperty).toBool())
        return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Dialog);
}

} // namespace

void closeWithKeyboard(QWidget *window)
{
    // Ctrl+W by name too: not every platform theme counts it among its close keys. One
    // shortcut for all of them, since two for the same keys would cancel each other out.
    QList<QKeySequence> keys{QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)};
    for (const QKeySequence &close : QKeySequence::keyBindings(QKeySequence::Close)) {
        if (!keys.contains(close))
            keys.append(close);
    }
    auto *shortcut = new QShortcut(window);
    shortcut->setKeys(keys);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
}

void presentAsDialog(QWidget *window)
{
    static const bool installed = [] {
        QAccessible::installFactory(dialogAccessible);
        return true;
    }();
    Q_UNUSED(installed);
    window->setProperty(dialogRoleProperty, true);
}

} // namespace velmora::widgets
