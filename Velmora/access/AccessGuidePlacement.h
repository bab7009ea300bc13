#pragma once

#include <QList>
#include <QRectF>
#include <QSizeF>

namespace velmora::access {

// Where to put the guide panel beside another window without covering it.
//
// All rectangles are in bottom-left screen coordinates (origin at the bottom-left corner of
// the primary screen, y growing upwards): a QRectF's x() and y() are its minX and minY there,
// x() + width() and y() + height() its maxX and maxY.
namespace AccessGuidePlacement {

// The gap to the anchor and the margin kept to the screen's edges.
inline constexpr qreal gap = 12;

// A rectangle of the given size beside `beside`: below it (right edges aligned), else right of
// it, left of it or above it (top edges, or right edges, aligned), each clamped into the
// screen area that overlaps the anchor most, inset by the gap. The first candidate that does
// not overlap the anchor wins; if all do, the one that overlaps it least. Without screens the
// anchor itself, inset, bounds the candidates.
QRectF frame(const QSizeF &size, const QRectF &beside, const QList<QRectF> &screens);

} // namespace AccessGuidePlacement
} // namespace velmora::access
