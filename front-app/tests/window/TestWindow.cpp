// A Wayland window for the tests of the app in front: `front-app-test-window APP_ID` shows a
// window whose app_id is APP_ID and prints "shown" once the compositor has put it on screen.
#include <QExposeEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <cstdio>

namespace {

class Window final : public QRasterWindow {
protected:
    void exposeEvent(QExposeEvent* event) override {
        QRasterWindow::exposeEvent(event);
        if (!told_ && isExposed()) {
            told_ = true;
            std::puts("shown");
            std::fflush(stdout);
        }
    }
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRect(QPoint(), size()), Qt::gray); }

private:
    bool told_ = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: front-app-test-window APP_ID\n", stderr);
        return 2;
    }
    QGuiApplication app(argc, argv);
    // Qt's Wayland platform gives the desktop file name as the toplevel's app_id.
    QGuiApplication::setDesktopFileName(QString::fromLocal8Bit(argv[1]));
    Window window;
    window.setTitle(QString::fromLocal8Bit(argv[1]));
    window.resize(320, 200);
    window.show();
    return app.exec();
}
