// The smallest honest Qt tray program, the reference of vantor's start-up figures: an icon drawn
// at the tray's size, a menu with one item, Qt's event loop.
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap picture(22, 22);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::gray);
        painter.drawEllipse(QRectF(3, 3, 16, 16));
    }
    QMenu menu;
    QObject::connect(menu.addAction(QStringLiteral("Quit")), &QAction::triggered, &app,
                     &QApplication::quit);
    QSystemTrayIcon tray{QIcon(picture)};
    tray.setToolTip(QStringLiteral("Reference"));
    tray.setContextMenu(&menu);
    tray.show();
    return app.exec();
}
