#include "DBusMenuExporter.h"

#include <QAction>
#include <QActionEvent>
#include <QActionGroup>
#include <QGuiApplication>
#include <QMenu>
#include <QWidgetAction>

namespace vantor {

DBusMenuExporter::DBusMenuExporter(QMenu& menu, QDBusConnection bus, const QString& path)
    : menu_(&menu)
    , bus_(std::move(bus))
    , path_(path) {
    registerDBusMenuTypes();
    watch(&menu);
    // Changes come in bursts (a rebuild removes and adds every item): one signal after each.
    updates_.setSingleShot(true);
    updates_.setInterval(0);
    connect(&updates_, &QTimer::timeout, this, &DBusMenuExporter::sendUpdates);
    exported_ = bus_.isConnected() && bus_.registerObject(path_, this,
                                                          QDBusConnection::ExportAllSlots |
                                                              QDBusConnection::ExportAllSignals |
                                                              QDBusConnection::ExportAllProperties);
}

DBusMenuExporter::~DBusMenuExporter() {
    if (exported_) bus_.unregisterObject(path_);
}

QString DBusMenuExporter::textDirection() const {
    return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl")
                                                                 : QStringLiteral("ltr");
}

QString DBusMenuExporter::label(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == QLatin1Char('_')) {
            out += QLatin1String("__");
        } else if (c == QLatin1Char('&')) {
            // "&&" is a '&'; a lone '&' at the end is dropped; "&x" marks x.
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                out += QLatin1Char('&');
                ++i;
            } else if (i + 1 < text.size()) {
                out += QLatin1Char('_');
            }
        } else {
            out += c;
        }
    }
    return out;
}

void DBusMenuExporter::watch(QMenu* menu) {
    if (!menu || menu->property("vantorDBusMenuWatched").toBool()) return;
    menu->setProperty("vantorDBusMenuWatched", true);
    menu->installEventFilter(this);
}

int DBusMenuExporter::idOf(QAction* action) {
    auto found = ids_.constFind(action);
    if (found != ids_.constEnd()) return *found;
    int id = nextId_++;
    ids_.insert(action, id);
    actions_.insert(id, action);
    connect(action, &QObject::destroyed, this, [this, id](QObject* gone) {
        ids_.remove(gone);
        actions_.remove(id);
    });
    watch(action->menu());
    return id;
}

QAction* DBusMenuExporter::actionOf(int id) const {
    return id == 0 ? nullptr : actions_.value(id).data();
}

QMenu* DBusMenuExporter::menuOf(int id) const {
    if (id == 0) return menu_.data();
    QAction* action = actionOf(id);
    return action ? action->menu() : nullptr;
}

QList<QAction*> DBusMenuExporter::shownActions(QMenu& menu) {
    QList<QAction*> shown;
    for (QAction* action : menu.actions()) {
        if (qobject_cast<QWidgetAction*>(action) || !action->isVisible()) continue;
        // A separator needs an item before it and none right before it.
        if (action->isSeparator() && (shown.isEmpty() || shown.back()->isSeparator())) continue;
        shown.push_back(action);
    }
    while (!shown.isEmpty() && shown.back()->isSeparator())
        shown.pop_back();
    return shown;
}

QVariantMap DBusMenuExporter::properties(int id, const QStringList& names) const {
    QVariantMap all;
    if (id == 0) {
        all.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (QAction* action = actionOf(id)) {
        if (action->isSeparator()) {
            all.insert(QStringLiteral("type"), QStringLiteral("separator"));
        } else {
            all.insert(QStringLiteral("label"), label(action->text()));
            if (action->menu())
                all.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
            if (action->isCheckable()) {
                QActionGroup* group = action->actionGroup();
                bool radio =
                    group && group->exclusionPolicy() != QActionGroup::ExclusionPolicy::None;
                all.insert(QStringLiteral("toggle-type"),
                           radio ? QStringLiteral("radio") : QStringLiteral("checkmark"));
                all.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
            }
        }
        all.insert(QStringLiteral("enabled"), action->isEnabled());
        all.insert(QStringLiteral("visible"), action->isVisible());
    }
    if (names.isEmpty()) return all;
    QVariantMap chosen;
    for (const QString& name : names)
        if (all.contains(name)) chosen.insert(name, all.value(name));
    return chosen;
}

DBusMenuLayoutItem DBusMenuExporter::layoutOf(int id, int depth, const QStringList& names,
                                              int level) {
    DBusMenuLayoutItem item;
    item.id = id;
    item.properties = properties(id, names);
    QMenu* menu = menuOf(id);
    if (!menu || depth == 0 || level >= maxDepth) return item;
    // Any negative depth asks for every level; a positive one shrinks by a level per step.
    const int below = depth < 0 ? -1 : depth - 1;
    for (QAction* action : shownActions(*menu)) {
        DBusMenuLayoutItem child = layoutOf(idOf(action), below, names, level + 1);
        item.children.push_back(QDBusVariant(QVariant::fromValue(child)));
    }
    return item;
}

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layout) {
    layout = known(parentId) ? layoutOf(parentId, recursionDepth, propertyNames)
                             : DBusMenuLayoutItem{parentId, {}, {}};
    return revision_;
}

QList<DBusMenuItemProperties>
DBusMenuExporter::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
    DBusMenuItemPropertiesList list;
    for (int id : ids)
        if (known(id)) list.push_back({id, properties(id, propertyNames)});
    return list;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name) {
    return QDBusVariant(properties(id, {name}).value(name, QString()));
}

bool DBusMenuExporter::clicked(int id, const QString& eventId) {
    QAction* action = actionOf(id);
    if (!action) return id == 0;
    if (eventId != QLatin1String("clicked")) return true;
    if (!action->isEnabled() || action->menu() || action->isSeparator()) return true;
    // After the reply: the action may rebuild the menu and so delete itself.
    QPointer<QAction> target(action);
    QTimer::singleShot(0, this, [target] {
        if (target) target->trigger();
    });
    return true;
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    clicked(id, eventId);
}

QList<int> DBusMenuExporter::EventGroup(const QList<DBusMenuEvent>& events) {
    QList<int> errors;
    for (const DBusMenuEvent& event : events)
        if (!clicked(event.id, event.eventId)) errors.push_back(event.id);
    return errors;
}

bool DBusMenuExporter::AboutToShow(int id) {
    QMenu* menu = menuOf(id);
    if (!menu) return false;
    uint before = revision_;
    // The menu fills itself as it is about to open (the tray menu is rebuilt each time).
    Q_EMIT menu->aboutToShow();
    if (layoutChanged_) sendUpdates();
    return revision_ != before;
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    QList<int> updates;
    idErrors.clear();
    for (int id : ids) {
        if (!known(id))
            idErrors.push_back(id);
        else if (AboutToShow(id))
            updates.push_back(id);
    }
    return updates;
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ActionAdded:
    case QEvent::ActionRemoved:
        layoutChanged_ = true;
        scheduleUpdate();
        break;
    case QEvent::ActionChanged: {
        auto* action = static_cast<QActionEvent*>(event)->action();
        auto found = ids_.constFind(action);
        if (found != ids_.constEnd() && !changedItems_.contains(*found)) {
            changedItems_.push_back(*found);
            scheduleUpdate();
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void DBusMenuExporter::scheduleUpdate() {
    if (!updates_.isActive()) updates_.start();
}

void DBusMenuExporter::sendUpdates() {
    updates_.stop();
    if (!changedItems_.isEmpty()) {
        DBusMenuItemPropertiesList changed;
        for (int id : changedItems_)
            if (known(id)) changed.push_back({id, properties(id, {})});
        changedItems_.clear();
        if (!changed.isEmpty()) Q_EMIT ItemsPropertiesUpdated(changed, {});
    }
    if (layoutChanged_) {
        layoutChanged_ = false;
        ++revision_;
        Q_EMIT LayoutUpdated(revision_, 0);
    }
}

} // namespace vantor
