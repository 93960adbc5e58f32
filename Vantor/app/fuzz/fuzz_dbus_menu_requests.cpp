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
#include <cstring>

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
    // Each request: a byte that picks it, then an id and a second number (a depth, an event's or
    // a property's index, another id) of four bytes each, the whole range of a D-Bus int32.
    auto number = [data](std::size_t at) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, data + at, sizeof bits);
        return static_cast<int>(bits);
    };
    for (std::size_t i = 0; i + 9 <= size; i += 9) {
        int id = number(i + 1);
        int value = number(i + 5);
        auto pick = [value](const QStringList& list) {
            return list[static_cast<qsizetype>(static_cast<std::uint32_t>(value) % list.size())];
        };
        vantor::DBusMenuLayoutItem layout;
        QList<int> errors;
        switch (data[i] % 6) {
        case 0:
            exporter.GetLayout(id, value, {pick(names)}, layout);
            break;
        case 1:
            exporter.Event(id, pick(events), QDBusVariant(0), 0);
            break;
        case 2:
            exporter.AboutToShow(id);
            break;
        case 3:
            exporter.GetProperty(id, pick(names));
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
