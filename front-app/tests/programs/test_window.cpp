// A plain window for tests of the app in front under a Wayland compositor. Its Wayland app_id is
// the first argument: Qt sends the desktop-file name as the app_id. It prints "shown" once the
// compositor has put it on screen, for tests that must wait for that.
//
// Usage: front-app-test-window APP_ID   (with QT_QPA_PLATFORM=wayland and WAYLAND_DISPLAY set)
#include <QExposeEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <cstdio>

namespace {

class Window final : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRect(QPoint(), size()), Qt::darkCyan); }
    void exposeEvent(QExposeEvent* event) override {
        QRasterWindow::exposeEvent(event);
        if (!told_ && isExposed()) {
            told_ = true;
            std::puts("shown");
            std::fflush(stdout);
        }
    }

private:
    bool told_ = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s APP_ID\n", argv[0]);
        return 2;
    }
    QGuiApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLocal8Bit(argv[1]));
    Window window;
    window.setTitle(QString::fromLocal8Bit(argv[1]));
    window.resize(160, 120);
    window.show();
    return app.exec();
}
