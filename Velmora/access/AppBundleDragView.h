#pragma once

#include <QIcon>
#include <QPointF>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

namespace velmora::access {

// A dashed, rounded tile with Velmora's icon and name. A drag that starts on it carries the
// application bundle's location as a file URL, so the user can drop Velmora straight into the
// desktop's permission list. Drops onto Velmora's own windows are refused.
class AppBundleDragView : public QWidget
{
    Q_OBJECT
public:
    // Starts the drag at p (the pointer, in the view's coordinates). The real one runs a QDrag.
    using DragStarter = std::function<void(const QPointF &p)>;

    explicit AppBundleDragView(const QUrl &appURL, QWidget *parent = nullptr);

    // The application bundle; what a drag carries.
    QUrl appURL() const { return m_appURL; }
    // The bundle's icon, fetched once.
    QIcon icon() const { return m_icon; }
    // Where the current press began; none when no press is under way or its drag has started.
    std::optional<QPointF> mouseDownPoint() const { return m_mouseDownPoint; }

    // Replaces how a drag is started (tests record it instead of entering the drag loop).
    void setDragStarter(DragStarter starter) { m_dragStarter = std::move(starter); }

    QSize sizeHint() const override { return {308, 140}; }

    // The distance the pointer must travel from the press before a drag starts.
    static constexpr qreal dragThreshold = 4;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void runDrag(const QPointF &p);
    // The drawing is laid out with y growing upwards from the bottom edge; this turns such a
    // rectangle into the widget's own top-left coordinates.
    QRectF fromBottomLeft(const QRectF &rect) const;

    QUrl m_appURL;
    QIcon m_icon;
    std::optional<QPointF> m_mouseDownPoint;
    DragStarter m_dragStarter;
};

// Hosts one AppBundleDragView for the application bundle; the guide gives it its height.
class AppBundleDragTile : public QWidget
{
    Q_OBJECT
public:
    explicit AppBundleDragTile(const QUrl &appURL, QWidget *parent = nullptr);
    AppBundleDragView *view() const { return m_view; }

private:
    AppBundleDragView *m_view;
};

} // namespace velmora::access
