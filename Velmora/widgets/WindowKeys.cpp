#include "widgets/WindowKeys.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeySequence>
#include <QSet>
#include <QShortcut>
#include <QWidget>

namespace velmora::widgets {

namespace {

// The windows presented as dialogs. The factory is asked about every object that takes part
// in accessibility, some of them still being made or already going (the web engine's items
// ask while their focus changes): it compares addresses and touches none but these.
QSet<const QObject *> &dialogWindows()
{
    static QSet<const QObject *> windows;
    return windows;
}

QAccessibleInterface *dialogAccessible(const QString &className, QObject *object)
{
    Q_UNUSED(className);
    if (!dialogWindows().contains(object))
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Dialog);
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
    const QObject *key = window;
    if (dialogWindows().contains(key))
        return;
    dialogWindows().insert(key);
    QObject::connect(window, &QObject::destroyed, [key] { dialogWindows().remove(key); });
}

} // namespace velmora::widgets
