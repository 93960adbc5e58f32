#include "VantorShell/WindowShot.h"

#include "Vantor/Log.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QWidget>
#include <cmath>
#include <cstdio>

namespace vantor::WindowShot {

namespace {

void say(const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// Of all screens, the one with the highest pixel ratio (the first among equals).
QScreen* sharpestScreen() {
    QScreen* best = nullptr;
    for (QScreen* screen : QGuiApplication::screens())
        if (!best || screen->devicePixelRatio() > best->devicePixelRatio()) best = screen;
    return best ? best : QGuiApplication::primaryScreen();
}

// Sizes the window as asked, centres it on the sharpest screen and shows it in front.
void present(QWidget& window, const LaunchOptions& options) {
    QSize size = window.size();
    if (auto asked = parseSize(options.snapshotSize.value_or(QString())))
        size = QSize(static_cast<int>(asked->width()), static_cast<int>(asked->height()));
    QPoint origin = window.pos();
    if (QScreen* screen = sharpestScreen()) {
        QRect visible = screen->availableGeometry();
        origin = visible.center() - QPoint(size.width() / 2, size.height() / 2);
    }
    window.setGeometry(QRect(origin, size));
    window.show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        window.raise();
        window.activateWindow();
    }
}

bool capture(QWidget& window, const QString& path) {
    QPixmap shot = window.grab();
    bool written = !shot.isNull() && shot.save(path, "PNG") && QFileInfo::exists(path);
    if (written)
        say(QStringLiteral("window shot: %1, %2 \u00d7 %3 pt")
                .arg(path)
                .arg(window.width())
                .arg(window.height()));
    else {
        Log::error("could not write the window shot to " + path.toStdString());
        say(QStringLiteral("window shot not written (can %1 be written?): window %2")
                .arg(path)
                .arg(window.winId()));
    }
    return written;
}

} // namespace

std::optional<QString> scene(const LaunchOptions& options) {
    if (!options.snapshot || !options.snapshotWindow) return std::nullopt;
    return options.snapshotWindow;
}

std::optional<QSizeF> parseSize(const QString& text) {
    std::vector<double> numbers;
    for (const QString& part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        bool ok = false;
        double value = part.toDouble(&ok);
        if (ok) numbers.push_back(value);
    }
    if (numbers.size() != 2) return std::nullopt;
    for (double value : numbers)
        if (!std::isfinite(value) || value < 1 || value > QWIDGETSIZE_MAX) return std::nullopt;
    return QSizeF(numbers[0], numbers[1]);
}

QPalette lightPalette() {
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return fusion ? fusion->standardPalette() : QApplication::style()->standardPalette();
}

QPalette darkPalette() {
    const QColor window(50, 50, 52), base(30, 30, 32), text(236, 236, 236), dim(128, 128, 130);
    const QColor accent(58, 130, 247);
    QPalette palette(text, window);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window.lighter(115));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Button, QColor(70, 70, 72));
    palette.setColor(QPalette::ToolTipBase, QColor(60, 60, 62));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(150, 150, 152));
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, accent.lighter(120));
    palette.setColor(QPalette::LinkVisited, accent.lighter(140));
    palette.setColor(QPalette::Light, QColor(90, 90, 92));
    palette.setColor(QPalette::Midlight, QColor(75, 75, 77));
    palette.setColor(QPalette::Mid, QColor(40, 40, 42));
    palette.setColor(QPalette::Dark, QColor(25, 25, 27));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, dim);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(80, 80, 82));
    return palette;
}

void take(const LaunchOptions& options, std::function<QWidget*(const QString& scene)> open,
          std::function<void(int status)> finish) {
    std::optional<QString> name = scene(options);
    if (!name) return;
    if (options.snapshot->isEmpty()) {
        say(QStringLiteral("window shot: no file given for -snapshot"));
        finish(2);
        return;
    }
    // One style for reproducible shots. The dark palette is in place before the window is made:
    // widgets that take colours from the palette when they are built draw dark as well.
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(options.snapshotDark ? darkPalette() : lightPalette());

    QPointer<QWidget> window = open(*name);
    if (!window) {
        say(QStringLiteral("window shot: no window of scene ") + *name);
        finish(1);
        return;
    }
    present(*window, options);
    auto shoot = [window, path = *options.snapshot, finish] {
        bool written = window && capture(*window, path);
        finish(written ? 0 : 1);
    };
    QTimer::singleShot(settleMilliseconds, qApp, [window, dark = options.snapshotDark, shoot] {
        if (!dark) return shoot();
        if (window) window->update();
        QTimer::singleShot(darkMilliseconds, qApp, shoot);
    });
}

} // namespace vantor::WindowShot
