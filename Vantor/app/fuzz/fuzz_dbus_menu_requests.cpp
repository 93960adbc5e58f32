// A tray host's requests to the exported menu come from another program: whatever ids, depths,
// event names and property names it sends, in whatever order, the exporter must answer without
// crashing, recursing without bound or triggering anything but an enabled item's action.

#include "DBusMenuExporter.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new QApplication(argc, argv);
    }();
    (void)app;
    QMenu menu;
    menu.addAction("&Settings…");
    menu.addSeparator();
    QMenu* sub = menu.addMenu("Response");
    sub->addAction("Direct")->setCheckable(true);
    menu.addAction("Quit")->setEnabled(false);
    vantor::DBusMenuExporter exporter(menu, QDBusConnection(QString()), "/MenuBar");
    const QStringList names{"label", "enabled", "type", "", "toggle-state"};
    const QStringList events{"clicked", "hovered", "opened", QString()};
    for (std::size_t i = 0; i + 3 <= size; i += 3) {
        int id = static_cast<std::int8_t>(data[i + 1]);
        int value = static_cast<std::int8_t>(data[i + 2]);
        vantor::DBusMenuLayoutItem layout;
        QList<int> errors;
        switch (data[i] % 6) {
        case 0:
            exporter.GetLayout(id, value, {names[std::abs(value) % names.size()]}, layout);
            break;
        case 1:
            exporter.Event(id, events[std::abs(value) % events.size()], QDBusVariant(0), 0);
            break;
        case 2:
            exporter.AboutToShow(id);
            break;
        case 3:
            exporter.GetProperty(id, names[std::abs(value) % names.size()]);
            break;
        case 4:
            exporter.AboutToShowGroup({id, value}, errors);
            break;
        default:
            exporter.GetGroupProperties({id, value}, {});
            break;
        }
    }
    QCoreApplication::processEvents();
    return 0;
}
