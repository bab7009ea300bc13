#pragma once

#include <QList>
#include <QRectF>

#include <optional>

namespace velmora::platform {

// The screens in bottom-left coordinates: the origin at the bottom-left corner of the primary
// screen, y growing upwards, as the window placement rules are written. Qt's own coordinates
// (origin top-left, y downwards) are mirrored at the primary screen's bottom edge.
struct ScreenLayout
{
    // Whole screen areas and the areas left by panels and docks, in the platform's order
    // (the primary screen first).
    QList<QRectF> frames;
    QList<QRectF> visibleFrames;
    // The usable area of the screen the user works on (the one with the active window).
    std::optional<QRectF> mainVisibleFrame;
    // The primary screen's bottom edge in Qt's coordinates.
    qreal mirrorLine = 0;

    // A rectangle of Qt's global coordinates in bottom-left coordinates; and back.
    QRectF fromTopLeft(const QRectF &rect) const
    {
        return QRectF(rect.x(), mirrorLine - rect.y() - rect.height(), rect.width(), rect.height());
    }
    QRectF toTopLeft(const QRectF &rect) const { return fromTopLeft(rect); }

    // The screens as the application sees them now.
    static ScreenLayout current();
};

} // namespace velmora::platform
