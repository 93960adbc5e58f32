#pragma once

// The structures of com.canonical.dbusmenu as they travel on the bus, with their marshalling.
// Reading one never descends into a layout's children: they stay as variants for the reader to
// open one level at a time, so nothing recurses over what another program sent.

#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QStringList>
#include <QVariantMap>

namespace vantor {

// One item and its children: (ia{sv}av); each child is a variant holding a DBusMenuLayoutItem.
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<QDBusVariant> children;
};

// One item's properties: (ia{sv}).
struct DBusMenuItemProperties {
    int id = 0;
    QVariantMap properties;
};

// The names of the properties an item lost: (ias).
struct DBusMenuItemKeys {
    int id = 0;
    QStringList names;
};

// One event of EventGroup: (isvu).
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};

using DBusMenuItemPropertiesList = QList<DBusMenuItemProperties>;
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;
using DBusMenuEventList = QList<DBusMenuEvent>;

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);

// Makes the types known to QtDBus; once per process, before the first call.
void registerDBusMenuTypes();

} // namespace vantor

Q_DECLARE_METATYPE(vantor::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(vantor::DBusMenuItemProperties)
Q_DECLARE_METATYPE(vantor::DBusMenuItemKeys)
Q_DECLARE_METATYPE(vantor::DBusMenuEvent)
