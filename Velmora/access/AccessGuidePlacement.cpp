#include "access/AccessGuidePlacement.h"

#include <algorithm>

namespace velmora::access::AccessGuidePlacement {
namespace {

qreal minX(const QRectF &r)
{
    return r.x();
}
qreal maxX(const QRectF &r)
{
    return r.x() + r.width();
}
qreal minY(const QRectF &r)
{
    return r.y();
}
qreal maxY(const QRectF &r)
{
    return r.y() + r.height();
}

// Rectangles that only share an edge do not overlap.
qreal overlapArea(const QRectF &a, const QRectF &b)
{
    const qreal width = std::min(maxX(a), maxX(b)) - std::max(minX(a), minX(b));
    const qreal height = std::min(maxY(a), maxY(b)) - std::max(minY(a), minY(b));
    return width > 0 && height > 0 ? width * height : 0;
}

} // namespace

QRectF frame(const QSizeF &size, const QRectF &beside, const QList<QRectF> &screens)
{
    const qreal w = size.width();
    const qreal h = size.height();
    const QRectF &a = beside;

    // The screen the anchor lies on most; the first one on ties and when it meets none.
    QRectF screen = a;
    if (!screens.isEmpty()) {
        screen = screens.first();
        qreal best = overlapArea(screen, a);
        for (const QRectF &candidate : screens) {
            const qreal area = overlapArea(candidate, a);
            if (area > best) {
                best = area;
                screen = candidate;
            }
        }
    }
    const QRectF bounds = screen.adjusted(gap, gap, -gap, -gap);

    const QPointF origins[] = {
        {maxX(a) - w, minY(a) - gap - h}, // below
        {maxX(a) + gap, maxY(a) - h},     // right
        {minX(a) - gap - w, maxY(a) - h}, // left
        {maxX(a) - w, maxY(a) + gap},     // above
    };
    QRectF best;
    qreal bestOverlap = 0;
    bool haveBest = false;
    for (const QPointF &origin : origins) {
        // When the panel is wider (taller) than the bounds, their left (bottom) edge wins.
        const qreal x = std::max(minX(bounds), std::min(origin.x(), maxX(bounds) - w));
        const qreal y = std::max(minY(bounds), std::min(origin.y(), maxY(bounds) - h));
        const QRectF candidate(x, y, w, h);
        const qreal overlap = overlapArea(candidate, a);
        if (overlap == 0)
            return candidate;
        if (!haveBest || overlap < bestOverlap) {
            best = candidate;
            bestOverlap = overlap;
            haveBest = true;
        }
    }
    return best;
}

} // namespace velmora::access::AccessGuidePlacement
