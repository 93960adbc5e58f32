#include "VantorWindows/AboutView.h"
#include "VantorWindows/WindowController.h"
#include "WindowTestApp.h"
#include <QStyleFactory>
#include <gtest/gtest.h>
using namespace vantor;
TEST(ZZShot, about) {
    windowTestApp();
    const char* dir = getenv("SHOT");
    if (!dir) GTEST_SKIP();
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    if (getenv("DARK")) {
        QPalette p;
        p.setColor(QPalette::Window, QColor(45,45,45)); p.setColor(QPalette::WindowText, Qt::white);
        p.setColor(QPalette::Base, QColor(30,30,30)); p.setColor(QPalette::Text, Qt::white);
        p.setColor(QPalette::Button, QColor(60,60,60)); p.setColor(QPalette::ButtonText, Qt::white);
        p.setColor(QPalette::PlaceholderText, QColor(160,160,160)); p.setColor(QPalette::Highlight, QColor(42,130,218));
        p.setColor(QPalette::Link, QColor(90,160,255));
        QApplication::setPalette(p);
    }
    WindowController c(AboutView::title(), QSize(AboutView::width, AboutView::height),
                       [] { return new AboutView({}, {}); }, AboutView::configure);
    c.show();
    QApplication::processEvents();
    c.window()->grab().save(dir);
}
