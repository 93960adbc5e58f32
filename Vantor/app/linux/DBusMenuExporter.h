#pragma once

// A QMenu offered on the session bus as com.canonical.dbusmenu, for a StatusNotifier host that
// draws the menu itself (a menu the app showed on Wayland would be a window of its own). Item 0
// is the menu; every other item is one of its actions, numbered as the exporter first meets it.
// A host asks for the layout, shows it, and sends "clicked" back, which triggers the action.
// Actions that are widgets (the speed slider) cannot be drawn by a host and are left out.

#include "DBusMenuTypes.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QAction;
class QMenu;

namespace vantor {

class DBusMenuExporter : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    // The deepest layout sent: the tray menu has one level of submenus.
    static constexpr int maxDepth = 4;

    DBusMenuExporter(QMenu& menu, QDBusConnection bus, const QString& path);
    ~DBusMenuExporter() override;
    // Whether the menu is on the bus.
    bool exported() const { return exported_; }
    // The layout's revision: it grows each time items come or go.
    uint revision() const { return revision_; }

    uint version() const { return 3; }
    QString textDirection() const;
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

    // The label of an action as the protocol writes it: '_' marks the mnemonic, "__" is a '_'.
    static QString label(const QString& text);

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   vantor::DBusMenuLayoutItem& layout);
    // The bus knows the types by their own names, not by the aliases.
    QList<vantor::DBusMenuItemProperties> GetGroupProperties(const QList<int>& ids,
                                                             const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const QList<vantor::DBusMenuEvent>& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

Q_SIGNALS:
    void ItemsPropertiesUpdated(const QList<vantor::DBusMenuItemProperties>& updatedProps,
                                const QList<vantor::DBusMenuItemKeys>& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The id of an action, given on first sight; its submenu is watched from then on.
    int idOf(QAction* action);
    // The menu of an item: the root for 0, an action's submenu otherwise; null when none.
    QMenu* menuOf(int id) const;
    QAction* actionOf(int id) const;
    // Whether the item's action is still there (0 always is); the host may name stale ids.
    bool known(int id) const { return id == 0 || actionOf(id) != nullptr; }
    QVariantMap properties(int id, const QStringList& names) const;
    // The item and its children down to `depth` levels (any negative depth: all, up to
    // maxDepth).
    DBusMenuLayoutItem layoutOf(int id, int depth, const QStringList& names, int level = 0);
    // The actions a host can draw, without separators at the ends or doubled.
    QList<QAction*> shownActions(QMenu& menu);
    bool clicked(int id, const QString& eventId);
    void watch(QMenu* menu);
    void scheduleUpdate();
    void sendUpdates();

    QPointer<QMenu> menu_;
    QDBusConnection bus_;
    QString path_;
    bool exported_ = false;
    uint revision_ = 1;
    int nextId_ = 1;
    QHash<const QObject*, int> ids_;
    QHash<int, QPointer<QAction>> actions_;
    bool layoutChanged_ = false;
    QList<int> changedItems_;
    QTimer updates_;
};

} // namespace vantor
