#pragma once

// How well a tray icon stands out from a panel: the WCAG contrast of its pixels laid on the
// panel's colour.

#include <QColor>
#include <QImage>
#include <algorithm>
#include <cmath>

namespace testsupport {

// Relative luminance of a colour on screen, from its sRGB channels (WCAG 2).
inline double luminance(QRgb rgb) {
    auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(rgb)) + 0.7152 * linear(qGreen(rgb)) + 0.0722 * linear(qBlue(rgb));
}

inline double contrast(double a, double b) {
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// The share of the pixels the icon covers (at least half as opaque as its most opaque pixel, so
// that a dimmed icon counts the same pixels) that, laid on `panel`, stand out from it by at
// least `ratio`.
inline double shareStandingOut(const QImage& icon, QColor panel, double ratio) {
    const QImage pixels = icon.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const double background = luminance(panel.rgb());
    int opaque = 0;
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x)
            opaque = std::max(opaque, qAlpha(pixels.pixel(x, y)));
    int covered = 0, standing = 0;
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x) {
            const QRgb p = pixels.pixel(x, y);
            const int a = qAlpha(p);
            if (a == 0 || 2 * a < opaque) continue;
            ++covered;
            auto over = [&](int channel, int under) { return channel + under * (255 - a) / 255; };
            const QRgb shown = qRgb(over(qRed(p), panel.red()), over(qGreen(p), panel.green()),
                                    over(qBlue(p), panel.blue()));
            if (contrast(luminance(shown), background) >= ratio) ++standing;
        }
    return covered ? double(standing) / covered : 0.0;
}

} // namespace testsupport
