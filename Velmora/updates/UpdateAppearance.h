#pragma once

// Colours of the update window. The window keeps a light appearance whatever the desktop
// theme, so these are fixed values rather than palette roles.

#include "widgets/BusySpinner.h"

#include <QColor>
#include <QFont>

namespace velmora::updates::appearance {

inline QColor accent()
{
    return QColor::fromRgbF(0.07f, 0.57f, 0.35f, 1.0f);
}
inline QColor windowBackground()
{
    return QColor(0xec, 0xec, 0xec);
}
inline QColor controlBackground()
{
    return QColor(Qt::white);
}
inline QColor label()
{
    return QColor::fromRgbF(0, 0, 0, 0.85f);
}
inline QColor secondaryLabel()
{
    return QColor::fromRgbF(0, 0, 0, 0.5f);
}
inline QColor separator()
{
    return QColor::fromRgbF(0, 0, 0, 0.1f);
}

// The small progress indicator of the window and its release notes: eight black spokes.
inline widgets::SpinnerLook activityIndicator()
{
    return widgets::SpinnerLook{16, 8, 3.5, 7, 1.8, 0.75, 0.08, QColor(0, 0, 0), 100};
}

// The desktop's user-interface font at a size in logical pixels.
inline QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

} // namespace velmora::updates::appearance
