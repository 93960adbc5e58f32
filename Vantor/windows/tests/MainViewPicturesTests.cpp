// Pictures of the main window's tabs at 1x and 2x in a light and a dark palette. Each picture
// must show the canvas's checkerboard; with VANTOR_WINDOW_PICTURES naming a folder they are also
// written there, for looking at.
#include "MainViewHarness.h"

#include "CanvasBox.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleFactory>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <map>

namespace vantor {
namespace {

using scroll::ScrollSettings;

ScrollSettings demoSettings() {
    ScrollSettings s;
    s.allowedApps = {"org.example.Maps", "org.example.Notes", "com.example.Gone"};
    s.excludedApps = {"org.example.Sketch"};
    s.setOwn(ScrollSettings::AppSetting::momentum, "org.example.Maps",
             [](ScrollSettings& own) { own.momentum = ScrollSettings::Momentum::long_; });
    s.setOwn(ScrollSettings::AppSetting::together, "org.example.Maps",
             [](ScrollSettings& own) { own.setScrollsWhileZooming(true); });
    return s;
}

QImage render(QWidget& widget, double scale) {
    QPixmap pixmap(widget.size() * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    widget.render(&pixmap);
    return pixmap.toImage();
}

// Whether the area shows two colours, each on at least a fifth of its pixels.
bool showsCheckerboard(const QImage& image, QRect area) {
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); y += 2)
        for (int x = area.left(); x <= area.right(); x += 2)
            ++counts[image.pixel(x, y)];
    int total = 0, large = 0;
    for (const auto& [colour, count] : counts)
        total += count;
    for (const auto& [colour, count] : counts)
        large += count * 5 >= total;
    return large >= 2;
}

TEST(MainViewPictures, EveryTabShowsTheCheckerboard) {
    windowTestApp();
    const QString folder = qEnvironmentVariable("VANTOR_WINDOW_PICTURES");
    if (!folder.isEmpty())
        QDir().mkpath(folder);
    const QPalette original = QApplication::palette();
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? testing::darkPalette()
                                      : QApplication::style()->standardPalette());
        testing::Harness h(demoSettings());
        h.model->apps.clear();
        for (const char* id : {"org.example.Maps", "org.example.Notes", "org.example.Sketch"})
            h.model->apps.emplace(id, ListedApp(id, QString(id).section('.', -1),
                                                ListedApp::genericIcon(), true));
        h.model->setDeviceName("SpaceMouse Compact");
        h.model->setDriverName(QString("Vantor (direct)"));
        h.model->setHasPermission(dark);
        h.model->setSettings(demoSettings()); // the list reads the names now known
        h.model->setSelectedApp("org.example.Maps");
        h.canvas.post(scroll::GestureStep{scroll::GesturePhase::changed, 8}, scroll::GestureKind::rotate);
        h.view->show();
        auto* box = h.view->findChild<CanvasBox*>();
        for (const QSize size : {MainView::idealSize, MainView::minimumSize}) {
            h.view->resize(size);
            for (MainTab tab : MainTab::allCases()) {
                h.model->setTab(tab);
                QApplication::processEvents();
                const QRect area(box->mapTo(h.view.get(), QPoint()), box->size());
                for (const double scale : {1.0, 2.0}) {
                    const QImage image = render(*h.view, scale);
                    const QRect scaled(area.topLeft() * scale, area.size() * scale);
                    EXPECT_TRUE(showsCheckerboard(image, scaled.adjusted(20, 60, -20, -20)))
                        << tab.rawValue() << " " << scale << (dark ? " dark" : " light");
                    if (!folder.isEmpty())
                        image.save(QDir(folder).filePath(
                            QStringLiteral("main-%1-%2-%3-%4x.png")
                                .arg(QString::fromLatin1(tab.rawValue()), dark ? "dark" : "light")
                                .arg(size.width())
                                .arg(scale)));
                }
            }
        }
    }
    QApplication::setPalette(original);
}

} // namespace
} // namespace vantor
