// The StatusNotifier item and its exported menu on a private session bus, called as a tray host
// calls them: the item's properties, its registration with the watcher (again when a watcher
// comes back), the menu's layout, clicks on its items, and the signals that tell of changes.
#include "AppTestSupport.h"
#include "PrivateBus.h"
#include "StatusNotifierItem.h"
#include "Vantor/Log.h"

#include <QActionGroup>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QSlider>
#include <QWidgetAction>
#include <climits>

namespace vantor::testing {
namespace {

// The tray host's side: a watcher that records the items that register, and refuses them in
// words of its own when it has any.
class FakeWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    QStringList items;
    QString refusal;
public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) {
        items << service;
        if (!refusal.isEmpty()) sendErrorReply(QStringLiteral("org.example.Refused"), refusal);
    }
};

// What the host hears from the menu.
class MenuSignals : public QObject {
    Q_OBJECT
public:
    int layouts = 0;
    int propertyChanges = 0;
public Q_SLOTS:
    void layoutUpdated(uint, int) { ++layouts; }
    void itemsPropertiesUpdated(const QDBusMessage&) { ++propertyChanges; }
};

class StatusNotifierTest : public ::testing::Test {
protected:
    StatusNotifierTest() { registerDBusMenuTypes(); }
    ~StatusNotifierTest() override {
        item.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("vantor-app"));
        QDBusConnection::disconnectFromBus(QStringLiteral("tray-host"));
    }
    bool start() {
        if (bus.address().isEmpty()) return false;
        const QString& address = bus.address();
        host = QDBusConnection::connectToBus(address, QStringLiteral("tray-host"));
        QDBusConnection app = QDBusConnection::connectToBus(address, QStringLiteral("vantor-app"));
        if (!host.registerObject("/StatusNotifierWatcher", &watcher,
                                 QDBusConnection::ExportAllSlots) ||
            !host.registerService(StatusNotifierItem::watcherService))
            return false;
        item = std::make_unique<StatusNotifierItem>(menu, app, "vantor", "Vantor");
        item->onActivate = [this] { ++activations; };
        return waitFor([&] { return watcher.items.size() == 1; });
    }
    // A call as the host makes it; the reply's arguments (empty on an error, which `error` gets).
    QList<QVariant> call(const QString& path, const QString& interface, const QString& method,
                         const QList<QVariant>& arguments, QString* error = nullptr) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(item->serviceName(), path, interface, method);
        message.setArguments(arguments);
        QDBusMessage reply = host.call(message, QDBus::BlockWithGui, 10000);
        if (error) *error = reply.errorName();
        return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments() : QList<QVariant>{};
    }
    QVariant property(const QString& name) {
        auto reply = call(StatusNotifierItem::itemPath, "org.freedesktop.DBus.Properties", "Get",
                          {"org.kde.StatusNotifierItem", name});
        return reply.isEmpty() ? QVariant() : reply[0].value<QDBusVariant>().variant();
    }
    QList<QVariant> menuCall(const QString& method, const QList<QVariant>& arguments) {
        return call(StatusNotifierItem::menuPath, "com.canonical.dbusmenu", method, arguments);
    }
    // The layout as lines "label [properties]", two spaces deeper per level, read one level at a
    // time from the reply as a host does.
    std::vector<std::string> layout(int depth = -1) {
        auto reply = menuCall("GetLayout", {0, depth, QStringList{}});
        if (reply.size() != 2) return {"no layout"};
        std::vector<std::string> lines;
        std::vector<std::pair<DBusMenuLayoutItem, int>> pending;
        pending.push_back({qdbus_cast<DBusMenuLayoutItem>(reply[1]), -1});
        while (!pending.empty()) {
            auto [node, depth] = pending.back();
            pending.pop_back();
            const QVariantMap& p = node.properties;
            if (depth >= 0) {
                std::string line(static_cast<std::size_t>(depth) * 2, ' ');
                line += p.value("type").toString() == "separator"
                            ? std::string("-")
                            : p.value("label").toString().toStdString();
                if (p.contains("toggle-type"))
                    line += " " + p.value("toggle-type").toString().toStdString() + "=" +
                            p.value("toggle-state").toString().toStdString();
                if (!p.value("enabled", true).toBool()) line += " disabled";
                if (p.value("children-display").toString() == "submenu") line += " >";
                lines.push_back(line);
            }
            for (auto child = node.children.rbegin(); child != node.children.rend(); ++child)
                pending.push_back(
                    {qdbus_cast<DBusMenuLayoutItem>(child->variant().value<QDBusArgument>()),
                     depth + 1});
        }
        return lines;
    }
    // The id of the item labelled `label` in the first level of the layout.
    int idOf(const QString& label) {
        auto reply = menuCall("GetLayout", {0, 1, QStringList{"label"}});
        if (reply.size() != 2) return -1;
        auto root = qdbus_cast<DBusMenuLayoutItem>(reply[1]);
        for (const QDBusVariant& child : root.children) {
            auto node = qdbus_cast<DBusMenuLayoutItem>(child.variant().value<QDBusArgument>());
            if (node.properties.value("label").toString() == label) return node.id;
        }
        return -1;
    }

    // The application comes before the menu.
    struct AppFirst {
        AppFirst() { testApp(); }
    } appFirst;
    PrivateBus bus;
    QDBusConnection host{QString()};
    FakeWatcher watcher;
    QMenu menu;
    std::unique_ptr<StatusNotifierItem> item;
    int activations = 0;
};

TEST_F(StatusNotifierTest, theItemSaysItIsAMenuAndNamesTheMenuAndItsIcon) {
    ASSERT_TRUE(start());
    EXPECT_TRUE(item->registered() || waitFor([&] { return item->registered(); }));
    EXPECT_EQ(watcher.items, QStringList{item->serviceName()});
    EXPECT_EQ(property("ItemIsMenu").toBool(), true);
    EXPECT_EQ(property("Menu").value<QDBusObjectPath>().path(), "/MenuBar");
    EXPECT_EQ(property("Id").toString(), "vantor");
    EXPECT_EQ(property("Title").toString(), "Vantor");
    EXPECT_EQ(property("Status").toString(), "Active");
    EXPECT_EQ(property("Category").toString(), "ApplicationStatus");

    // A red opaque pixel travels as ARGB in network byte order.
    QPixmap red(16, 16);
    red.fill(Qt::red);
    item->setIcon(QIcon(red));
    auto pixmaps = qdbus_cast<SniPixmapList>(property("IconPixmap").value<QDBusArgument>());
    ASSERT_FALSE(pixmaps.isEmpty());
    const SniPixmap& first = pixmaps.front();
    ASSERT_EQ(first.data.size(), first.width * first.height * 4);
    EXPECT_EQ(QByteArray(first.data.constData(), 4), QByteArray("\xff\xff\x00\x00", 4));

    // A watcher that starts again (the panel restarted) gets the item again.
    host.unregisterService(StatusNotifierItem::watcherService);
    ASSERT_TRUE(host.registerService(StatusNotifierItem::watcherService));
    EXPECT_TRUE(waitFor([&] { return watcher.items.size() == 2; }));
}

TEST_F(StatusNotifierTest, aHostThatCannotDrawTheMenuAsksTheItemAndTheAppActs) {
    ASSERT_TRUE(start());
    struct Case {
        const char* method;
        int activations;
    };
    for (const Case& c :
         {Case{"Activate", 1}, Case{"ContextMenu", 2}, Case{"SecondaryActivate", 2}}) {
        QString error;
        call(StatusNotifierItem::itemPath, "org.kde.StatusNotifierItem", c.method, {3, 4}, &error);
        EXPECT_TRUE(error.isEmpty()) << c.method << ": " << error.toStdString();
        EXPECT_TRUE(waitFor([&] { return activations == c.activations; })) << c.method;
    }
}

TEST_F(StatusNotifierTest, theHostGetsTheMenusLayoutWithoutItsWidgets) {
    menu.addAction("&Settings…");
    menu.addAction("Check for Updates…")->setEnabled(false);
    QAction* on = menu.addAction("Use the SpaceMouse in Tom_&&_Jerry");
    on->setCheckable(true);
    on->setChecked(true);
    QMenu* response = menu.addMenu("Response");
    auto* group = new QActionGroup(response);
    for (const char* title : {"Direct", "Balanced"}) {
        QAction* choice = response->addAction(title);
        choice->setCheckable(true);
        choice->setChecked(QString(title) == "Balanced");
        group->addAction(choice);
    }
    QMenu* speed = menu.addMenu("Speed");
    speed->addAction("Default");
    speed->addSeparator();
    auto* slider = new QWidgetAction(speed);
    slider->setDefaultWidget(new QSlider);
    speed->addAction(slider);
    menu.addSeparator();
    menu.addSeparator();
    menu.addAction("Quit Vantor");
    ASSERT_TRUE(start());
    EXPECT_EQ(layout(),
              (std::vector<std::string>{"_Settings…", "Check for Updates… disabled",
                                        "Use the SpaceMouse in Tom__&__Jerry checkmark=1",
                                        "Response >", "  Direct radio=0", "  Balanced radio=1",
                                        "Speed >", "  Default", "-", "Quit Vantor"}));
    // Whatever a peer sends: any negative depth is -1; an id never given has no children.
    for (int depth : {-2, INT_MIN, INT_MAX})
        EXPECT_EQ(layout(depth), layout()) << depth;
    for (int id : {INT_MIN, -1, INT_MAX}) {
        auto reply = menuCall("GetLayout", {id, INT_MIN, QStringList{}});
        ASSERT_EQ(reply.size(), 2) << id;
        EXPECT_TRUE(qdbus_cast<DBusMenuLayoutItem>(reply[1]).children.isEmpty()) << id;
    }
}

// The watcher's words for a refusal reach the log as one line, cut short as any peer's text.
TEST_F(StatusNotifierTest, aWatchersRefusalIsLoggedOnOneLineCutShort) {
    std::vector<std::string> logs;
    Log::setSink([&](Log::Level, std::string_view line) { logs.emplace_back(line); });
    watcher.refusal = "full\nvantor: connected to Kestrix 99" + QString(100000, 'x');
    ASSERT_TRUE(start());
    waitFor([&] { return !logs.empty(); });
    Log::setSink({});
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_TRUE(logs[0].starts_with("the tray did not take Vantor's icon: full\\nvantor: "))
        << logs[0].substr(0, 80);
    EXPECT_TRUE(logs[0].ends_with("… (100036 bytes)")) << logs[0].size();
    EXPECT_LT(logs[0].size(), 300u);
}

TEST_F(StatusNotifierTest, aClickOnAnItemTriggersItsActionAndChangesAreSignalled) {
    QAction* settings = menu.addAction("Settings…");
    QAction* off = menu.addAction("Check for Updates…");
    off->setEnabled(false);
    int opened = 0, checks = 0;
    QObject::connect(settings, &QAction::triggered, [&] { ++opened; });
    QObject::connect(off, &QAction::triggered, [&] { ++checks; });
    // The menu fills itself as it is about to show, as the tray menu does.
    QObject::connect(&menu, &QMenu::aboutToShow, [&] { menu.addAction("Quit Vantor"); });
    ASSERT_TRUE(start());
    MenuSignals heard;
    ASSERT_TRUE(host.connect(item->serviceName(), "/MenuBar", "com.canonical.dbusmenu",
                             "LayoutUpdated", &heard, SLOT(layoutUpdated(uint, int))));
    ASSERT_TRUE(host.connect(item->serviceName(), "/MenuBar", "com.canonical.dbusmenu",
                             "ItemsPropertiesUpdated", &heard,
                             SLOT(itemsPropertiesUpdated(QDBusMessage))));

    struct Case {
        QString label;
        int opened, checks;
    };
    for (const Case& c : {Case{"Settings…", 1, 0}, Case{"Check for Updates…", 1, 0}}) {
        int id = idOf(c.label);
        ASSERT_GT(id, 0) << c.label.toStdString();
        menuCall("Event", {id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
        waitFor([&] { return opened == c.opened && checks == c.checks; });
        EXPECT_EQ(opened, c.opened) << c.label.toStdString();
        EXPECT_EQ(checks, c.checks) << c.label.toStdString();
    }
    auto group =
        menuCall("GetGroupProperties",
                 {QVariant::fromValue(QList<int>{idOf("Settings…"), 4711}), QStringList{"label"}});
    ASSERT_EQ(group.size(), 1);
    auto items = qdbus_cast<QList<DBusMenuItemProperties>>(group[0]);
    ASSERT_EQ(items.size(), 1) << "the stale id is left out";
    EXPECT_EQ(items[0].properties, (QVariantMap{{"label", "Settings…"}}));
    // A stale id is an error of the group, not a crash.
    auto errors =
        menuCall("EventGroup",
                 {QVariant::fromValue(DBusMenuEventList{{4711, "clicked", QDBusVariant(0), 0}})});
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(qdbus_cast<QList<int>>(errors[0]), QList<int>{4711});

    auto needsUpdate = menuCall("AboutToShow", {0});
    ASSERT_EQ(needsUpdate.size(), 1);
    EXPECT_TRUE(needsUpdate[0].toBool());
    EXPECT_TRUE(waitFor([&] { return heard.layouts >= 1; }));
    EXPECT_GT(idOf("Quit Vantor"), 0);

    off->setEnabled(true);
    EXPECT_TRUE(waitFor([&] { return heard.propertyChanges >= 1; }));
}

} // namespace
} // namespace vantor::testing

#include "StatusNotifierItemTests.moc"
