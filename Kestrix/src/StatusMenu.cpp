#include "StatusMenu.h"

#include "KestrixProtocol/Kestrix.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

using kestrix::BrokerStatus;
using kestrix::SpaceMouseDevice;

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("Kestrix", text);
}

StatusMenuItem disabled(QString title) {
    StatusMenuItem item;
    item.title = std::move(title);
    return item;
}

StatusMenuItem separator() {
    StatusMenuItem item;
    item.kind = StatusMenuItem::Kind::separator;
    return item;
}

} // namespace

QString deviceTitle(const SpaceMouseDevice& device) {
    QString title = QString::fromStdString(device.name);
    if (device.serialNumber) title += " " + QString::fromStdString(*device.serialNumber);
    title += " (" + QString::fromStdString(device.transport) + ")";
    if (device.battery)
        title += QString::fromUtf8(" \u2013 ") + QString::number(*device.battery) + " %";
    return title;
}

std::vector<StatusMenuItem> statusMenuItems(const BrokerStatus& status, std::int64_t version) {
    std::vector<StatusMenuItem> items;
    if (status.devices.empty()) {
        items.push_back(disabled(tr("No SpaceMouse connected")));
    } else {
        StatusMenuItem header;
        header.kind = StatusMenuItem::Kind::header;
        header.title = tr("SpaceMouse");
        items.push_back(header);
        for (const auto& device : status.devices) {
            StatusMenuItem item;
            item.title = deviceTitle(device);
            item.enabled = true;
            item.checkable = true;
            item.checked = device.enabled;
            item.action = StatusMenuItem::Action::toggleDevice;
            item.device = QString::fromStdString(device.id);
            item.toolTip = item.device;
            using Knowledge = smk::SpaceMouseModel::Knowledge;
            if (device.knowledge && (*device.knowledge == Knowledge::published ||
                                     *device.knowledge == Knowledge::guessed))
                item.toolTip += "\n" + tr("Not yet checked at a device");
            items.push_back(item);
        }
    }
    if (status.driver.value_or(false))
        items.push_back(disabled(tr("Through the spacenavd driver")));
    items.push_back(separator());
    const BrokerStatus::Client* holder = nullptr;
    for (const auto& client : status.clients)
        if (client.holds && !holder) holder = &client;
    if (holder)
        items.push_back(disabled(tr("In use by %1").arg(QString::fromStdString(holder->name))));
    else
        items.push_back(disabled(tr("Not in use")));
    for (const auto& client : status.clients)
        if (!client.holds)
            items.push_back(disabled(tr("Waiting: %1").arg(QString::fromStdString(client.name))));
    items.push_back(separator());
    StatusMenuItem log;
    log.title = tr("Show Log");
    log.enabled = true;
    log.action = StatusMenuItem::Action::showLog;
    items.push_back(log);
    items.push_back(disabled(
        QString::fromUtf8(kestrix::Kestrix::appName.data(), int(kestrix::Kestrix::appName.size())) +
        " " + QString::number(version)));
    return items;
}

void fillMenu(QMenu& menu, const std::vector<StatusMenuItem>& items,
              const std::function<void(const QString& device)>& toggle,
              const std::function<void()>& showLog) {
    menu.clear();
    menu.setToolTipsVisible(true);
    for (const auto& item : items) {
        switch (item.kind) {
        case StatusMenuItem::Kind::separator:
            menu.addSeparator();
            continue;
        case StatusMenuItem::Kind::header:
            menu.addSection(item.title);
            continue;
        case StatusMenuItem::Kind::item:
            break;
        }
        QAction* action = menu.addAction(item.title);
        action->setEnabled(item.enabled);
        action->setCheckable(item.checkable);
        action->setChecked(item.checked);
        if (!item.toolTip.isEmpty()) action->setToolTip(item.toolTip);
        if (item.action == StatusMenuItem::Action::toggleDevice) {
            QString device = item.device;
            QObject::connect(action, &QAction::triggered, &menu,
                             [toggle, device] { toggle(device); });
        } else if (item.action == StatusMenuItem::Action::showLog) {
            QObject::connect(action, &QAction::triggered, &menu, [showLog] { showLog(); });
        }
    }
}
