#pragma once

#include "KestrixProtocol/ProtocolRecords.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

class QMenu;

// The tray menu, rebuilt from the broker's status each time it opens.
struct StatusMenuItem {
    enum class Kind { item, header, separator };
    enum class Action { none, toggleDevice, showLog };

    Kind kind = Kind::item;
    QString title;
    bool enabled = false;
    bool checkable = false;
    bool checked = false;
    QString toolTip;
    Action action = Action::none;
    QString device; // the device id, for toggleDevice

    bool operator==(const StatusMenuItem&) const = default;
};

// The items for this status, in order: the devices (or that none is connected), the driver line,
// who holds the device and who waits, "Show Log" and the program's name and version.
std::vector<StatusMenuItem> statusMenuItems(const kestrix::BrokerStatus& status,
                                            std::int64_t version);

// A device's title: name, serial number, transport in parentheses, battery level.
QString deviceTitle(const kestrix::SpaceMouseDevice& device);

// Replaces the menu's items with these; `toggle` and `showLog` run the two actions.
void fillMenu(QMenu& menu, const std::vector<StatusMenuItem>& items,
              const std::function<void(const QString& device)>& toggle,
              const std::function<void()>& showLog);
