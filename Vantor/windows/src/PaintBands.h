#pragma once

#include <QRect>
#include <algorithm>

namespace vantor {

// Qt's raster engine hands a fill or copy of many rows to its thread pool in parts; for the
// plain copies of the preview that hand-off (waking threads and waiting for them, every frame)
// costs more than the work. Fills of fewer device rows than this stay on the painting thread.
inline constexpr int paintBandRows = 64;

// Calls `paint` with the parts of `area` (logical pixels), top to bottom, each fewer device rows
// high than the thread pool takes on at `ratio` device pixels a logical one.
template <class Paint> void inPaintBands(const QRect& area, qreal ratio, Paint&& paint) {
    const int band = std::max(1, int(paintBandRows / std::max<qreal>(ratio, 1)));
    for (int top = area.top(); top <= area.bottom(); top += band)
        paint(QRect(area.left(), top, area.width(), std::min(band, area.bottom() + 1 - top)));
}

} // namespace vantor
