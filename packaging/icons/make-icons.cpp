// Writes Vantor's app icon as an icon theme's entries: FOLDER/scalable/apps/NAME.svg and
// FOLDER/NxN/apps/NAME.png for the sizes desktops ask for.
#include "VantorWindows/AppIcon.h"

#include <QDir>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLatin1(vantor::AppIcon::themeName);
    auto fail = [](const QString& path) {
        std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
        return 1;
    };

    const QString scalable = folder + "/scalable/apps";
    QFile svg(scalable + "/" + name + ".svg");
    if (!QDir().mkpath(scalable) || !svg.open(QIODevice::WriteOnly) ||
        svg.write(vantor::AppIcon::svg().toUtf8()) < 0)
        return fail(svg.fileName());
    for (int pixels : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        const QString apps = QString("%1/%2x%2/apps").arg(folder).arg(pixels);
        const QString path = apps + "/" + name + ".png";
        if (!QDir().mkpath(apps) || !vantor::AppIcon::image(pixels).save(path, "PNG"))
            return fail(path);
    }
    return 0;
}
