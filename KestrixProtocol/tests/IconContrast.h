#pragma once

// How well a tray icon stands out from a panel: the WCAG contrast of its pixels laid on the
// panel's colour.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSize>
#include <QString>
#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

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

// A tray icon drawn `pixels` square in the desktop's text colour `ink`, lit or dimmed.
using TrayIconDrawing = std::function<QImage(int pixels, const QColor& ink, bool dimmed)>;

// The panels and text colours of light and dark desktops.
inline const QColor lightPanel(0xF0, 0xF0, 0xF0), darkPanel(0x2A, 0x2A, 0x2A);
inline const QColor darkText(0x14, 0x14, 0x14), lightText(0xE8, 0xE8, 0xE8);

struct PanelCase {
    const char* what;
    QColor ink;
    bool dimmed;
    QColor panel;
    double ratio; // the contrast that at least a third of the icon's pixels reach
};

// Each ink on each panel: 3:1 lit, half that dimmed.
inline std::vector<PanelCase> panelCases() {
    return {
        {"dark text, light panel", darkText, false, lightPanel, 3.0},
        {"dark text, dark panel", darkText, false, darkPanel, 3.0},
        {"light text, light panel", lightText, false, lightPanel, 3.0},
        {"light text, dark panel", lightText, false, darkPanel, 3.0},
        {"dimmed, dark text, light panel", darkText, true, lightPanel, 1.5},
        {"dimmed, dark text, dark panel", darkText, true, darkPanel, 1.5},
        {"dimmed, light text, light panel", lightText, true, lightPanel, 1.5},
        {"dimmed, light text, dark panel", lightText, true, darkPanel, 1.5},
    };
}

// Every case at the sizes trays draw icons: the icon has the size asked for, and at least a
// third of it stands out from the panel by the case's ratio.
inline void expectStandsOut(const TrayIconDrawing& draw, const std::vector<PanelCase>& cases) {
    for (const PanelCase& c : cases)
        for (int pixels : {16, 22, 36, 44}) {
            const QImage icon = draw(pixels, c.ink, c.dimmed);
            ASSERT_EQ(icon.size(), QSize(pixels, pixels)) << c.what;
            EXPECT_GE(shareStandingOut(icon, c.panel, c.ratio), 1.0 / 3)
                << c.what << ", " << pixels;
        }
}

// With VANTOR_WINDOW_PICTURES naming a folder, the icons on both panels, as a 22-pixel tray
// shows them at 1x and 2x, are written there as `<name>-<ratio>x.png` for looking at (and eight
// times larger).
inline void writeIconSheets(const TrayIconDrawing& draw, const QString& name) {
    const QString folder = qEnvironmentVariable("VANTOR_WINDOW_PICTURES");
    if (folder.isEmpty()) return;
    QDir().mkpath(folder);
    for (int ratio : {1, 2}) {
        const int cell = 30 * ratio, icon = 22 * ratio;
        QImage sheet(4 * cell, 2 * cell, QImage::Format_RGB32);
        QPainter painter(&sheet);
        for (int row = 0; row < 2; ++row) {
            painter.fillRect(0, row * cell, 4 * cell, cell, row ? darkPanel : lightPanel);
            int column = 0;
            for (const QColor& ink : {darkText, lightText})
                for (bool dimmed : {false, true})
                    painter.drawImage((column++) * cell + (cell - icon) / 2,
                                      row * cell + (cell - icon) / 2, draw(icon, ink, dimmed));
        }
        painter.end();
        const QString path = folder + "/" + name + QStringLiteral("-%1x").arg(ratio);
        sheet.save(path + ".png");
        sheet.scaled(sheet.size() * 8 / ratio).save(path + "-enlarged.png");
    }
}

} // namespace testsupport
