#pragma once

// Vantor's tray icon as an org.kde.StatusNotifierItem of its own, for desktops whose tray is a
// StatusNotifier host (KDE Plasma, GNOME's AppIndicator extension, waybar, swaybar, Xfce). The
// item says it is a menu and exports the tray menu over com.canonical.dbusmenu, so a host that
// draws menus shows it on either click. A host that cannot draw it asks the app instead
// (Activate, or ContextMenu: swaybar turns a left click on a menu item into that); the app then
// opens its settings window, because a menu the app showed itself would be a window of its own on
// Wayland. The item registers with the host's watcher, and again whenever a watcher appears.

#include "DBusMenuExporter.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QIcon>
#include <QObject>
#include <functional>
#include <memory>

class QDBusServiceWatcher;

namespace vantor {

// One picture of the icon: width, height and ARGB32 pixels in network byte order, (iiay).
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray data;
};
using SniPixmapList = QList<SniPixmap>;

// (sa(iiay)ss): icon name, pictures, title, description.
struct SniToolTip {
    QString iconName;
    SniPixmapList pixmaps;
    QString title;
    QString description;
};

class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(QString IconName READ empty)
    Q_PROPERTY(QList<vantor::SniPixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(QList<vantor::SniPixmap> OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(QList<vantor::SniPixmap> AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(vantor::SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char* itemPath = "/StatusNotifierItem";
    static constexpr const char* menuPath = "/MenuBar";

    // Offers `menu` and the item on `bus` and registers with the watcher, if there is one.
    StatusNotifierItem(QMenu& menu, QDBusConnection bus, const QString& id, const QString& title);
    ~StatusNotifierItem() override;

    // The host asked the app to act: a click on a bar that cannot draw the menu.
    std::function<void()> onActivate;

    void setIcon(const QIcon& icon);
    void setToolTip(const QString& text);
    // The service name the item is known by on the bus; empty when it is not on a bus.
    const QString& serviceName() const { return serviceName_; }
    // Whether the watcher accepted the item the last time it was asked.
    bool registered() const { return registered_; }
    DBusMenuExporter& menuExporter() { return *exporter_; }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return id_; }
    QString title() const { return title_; }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString empty() const { return {}; }
    SniPixmapList iconPixmap() const { return pixmaps_; }
    SniPixmapList noPixmaps() const { return {}; }
    SniToolTip toolTip() const { return {{}, {}, toolTip_, {}}; }
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menu() const { return QDBusObjectPath(QString::fromLatin1(menuPath)); }

    // The pictures of `icon` at the sizes panels draw tray icons at.
    static SniPixmapList pixmaps(const QIcon& icon);

public Q_SLOTS:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    void registerWithWatcher();
    void activate();

    QDBusConnection bus_;
    QString id_;
    QString title_;
    QString toolTip_;
    QString serviceName_;
    SniPixmapList pixmaps_;
    bool exported_ = false;
    bool registered_ = false;
    std::unique_ptr<DBusMenuExporter> exporter_;
    std::unique_ptr<QDBusServiceWatcher> watcher_;
};

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip);

} // namespace vantor

Q_DECLARE_METATYPE(vantor::SniPixmap)
Q_DECLARE_METATYPE(vantor::SniToolTip)
