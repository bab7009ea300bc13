#pragma once

#include "access/Ink.h"

#include <QUrl>
#include <QWidget>

#include <functional>

namespace velmora::access {

class AppBundleDragTile;
class GuideButton;

// The content of the assistant panel: how to add Velmora to the desktop's permission list,
// with the draggable application tile, two numbered steps and two buttons. Always drawn in
// the light look.
class FullDiskAccessGuide : public QWidget
{
    Q_OBJECT
public:
    // openSettings reopens the settings and places the panel anew; done closes the panel.
    FullDiskAccessGuide(const QUrl &appURL, std::function<void()> openSettings, std::function<void()> done,
                        const QColor &ink = inkColor, QWidget *parent = nullptr);

    AppBundleDragTile *tile() const { return m_tile; }
    GuideButton *reopenButton() const { return m_reopen; }
    GuideButton *doneButton() const { return m_done; }

    static const QColor background;

private:
    AppBundleDragTile *m_tile;
    GuideButton *m_reopen;
    GuideButton *m_done;
};

// One numbered step: a round badge with the number, then the text, which wraps while the
// badge stays at the top of the row.
class GuideStepRow : public QWidget
{
    Q_OBJECT
public:
    GuideStepRow(const QString &number, const QString &text, const QColor &ink, QWidget *parent = nullptr);
    QWidget *badge() const { return m_badge; }
    QWidget *label() const { return m_label; }

private:
    QWidget *m_badge;
    QWidget *m_label;
};

} // namespace velmora::access
