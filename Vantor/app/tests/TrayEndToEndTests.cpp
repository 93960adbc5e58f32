// The real vantor under headless sway with a real StatusNotifier host: waybar (which draws the
// exported menu) and swaybar (which cannot). The item registers with the bar's watcher, its menu
// can be fetched as a host fetches it, and what a bar sends on a click (Activate, or ContextMenu,
// which swaybar sends for either button on an item that is a menu) opens the settings window and
// nothing else: no menu of vantor's ever becomes a toplevel of its own. A bar that starts after
// vantor gets the item all the same, and the message that the tray is missing goes.
#include "AppTestSupport.h"
#include "PrivateBus.h"
#include "TempFolder.h"
#include "WaylandTestDesktop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <fstream>
#include <gtest/gtest.h>

namespace vantor::testing {
namespace {

// The titles of vantor's toplevels in sway's tree, found without recursion.
QStringList vantorWindows(const wltest::Sway& sway) {
    QProcess tree;
    tree.start("swaymsg", {"--socket", QString::fromStdString(sway.ipc()), "-t", "get_tree", "-r"});
    if (!tree.waitForFinished(10000)) return {"no tree"};
    QStringList titles;
    QJsonArray pending{QJsonDocument::fromJson(tree.readAllStandardOutput()).object()};
    while (!pending.isEmpty()) {
        QJsonObject node = pending.takeAt(pending.size() - 1).toObject();
        if (node.value("app_id").toString() == "me.orvella.Vantor" ||
            node.value("app_id").toString() == "vantor")
            titles << node.value("name").toString();
        for (const char* list : {"nodes", "floating_nodes"})
            for (const QJsonValue& child : node.value(list).toArray())
                pending.append(child);
    }
    return titles;
}

struct Bar {
    const char* name;
    std::string swayConfig;
    std::vector<std::string> command; // {folder} is the test's folder
    // The bar starts after vantor, which a hand started: till then the desktop has no tray.
    bool late = false;
};

class TrayEndToEnd : public ::testing::TestWithParam<Bar> {};

TEST_P(TrayEndToEnd, theItemRegistersItsMenuCanBeFetchedAndAClickOpensOnlyTheSettingsWindow) {
    testApp();
    const Bar& bar = GetParam();
    wltest::Sway sway(bar.swayConfig);
    ASSERT_FALSE(sway.socket().empty()) << sway.logText();
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    QDBusConnection host = QDBusConnection::connectToBus(bus.address(), QStringLiteral("e2e-host"));
    ASSERT_TRUE(host.isConnected());

    std::string log = sway.folder() + "/bar.log";
    std::ofstream(sway.folder() + "/waybar.json")
        << R"({"position": "bottom", "height": 24, "modules-right": ["tray"]})";
    std::ofstream(sway.folder() + "/waybar.css") << "* { font-size: 12px; }";
    std::vector<std::string> command;
    for (std::string part : bar.command) {
        if (auto at = part.find("{folder}"); at != std::string::npos)
            part.replace(at, 8, sway.folder());
        if (auto at = part.find("{ipc}"); at != std::string::npos) part.replace(at, 5, sway.ipc());
        command.push_back(part);
    }
    wltest::Child panel;
    auto startPanel = [&] {
        panel = wltest::Child(command,
                              {{"WAYLAND_DISPLAY", sway.socket()},
                               {"XDG_RUNTIME_DIR", sway.clientRuntime()},
                               {"DBUS_SESSION_BUS_ADDRESS", bus.address().toStdString()},
                               {"SWAYSOCK", sway.ipc()}},
                              log);
        auto watcher = [&] {
            return host.interface()->isServiceRegistered("org.kde.StatusNotifierWatcher").value();
        };
        return waitFor(watcher, 30000);
    };
    if (!bar.late) {
        ASSERT_TRUE(startPanel()) << wltest::readFile(log);
    }

    testsupport::TempFolder home;
    QString root = QString::fromStdString(home.path);
    QProcess vantor;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "QT_SCALE_FACTOR", "XDG_CURRENT_DESKTOP"})
        env.remove(name);
    env.insert("QT_QPA_PLATFORM", "wayland");
    env.insert("WAYLAND_DISPLAY", QString::fromStdString(sway.socket()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(sway.clientRuntime()));
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    env.insert("XDG_CONFIG_HOME", root + "/config");
    env.insert("XDG_DATA_HOME", root + "/data");
    env.insert("KESTRIX_HOME", root + "/kestrix");
    // With the bar after vantor, the broker vantor starts shows its tray icon too.
    if (bar.late) home.write("config/kestrix.json", R"({"showsMenuBarItem": true})");
    vantor.setProcessEnvironment(env);
    vantor.setProcessChannelMode(QProcess::MergedChannels);
    // Started as at login: no About window of its own comes up. Started by hand for the first
    // time without a tray: the About window, the settings window and the message that the tray
    // is missing.
    vantor.start(VANTOR_EXECUTABLE, bar.late ? QStringList{} : QStringList{"--login-item"});
    ASSERT_TRUE(vantor.waitForStarted());
    auto output = [&] {
        return (QString::fromUtf8(vantor.readAll()) + "\nbar:\n" +
                QString::fromStdString(wltest::readFile(log)))
            .toStdString();
    };
    auto windows = [&] {
        QStringList titles = vantorWindows(sway);
        titles.sort();
        return titles;
    };
    const QStringList shown = bar.late ? QStringList{"About Vantor", "Vantor"} : QStringList{};
    auto brokerLog = [&] { return wltest::readFile(home.path + "/kestrix/broker.log"); };
    if (bar.late) {
        ASSERT_TRUE(waitFor([&] {
            return windows() == QStringList{"About Vantor", "No System Tray", "Vantor"} &&
                   brokerLog().find("no system tray on this desktop yet") != std::string::npos;
        })) << output()
            << brokerLog();
        ASSERT_TRUE(startPanel()) << output();
    }

    // The bar's watcher lists the item.
    QString service;
    QStringList items;
    const QString own = QStringLiteral("org.kde.StatusNotifierItem-%1-").arg(vantor.processId());
    auto registered = [&] {
        QDBusMessage get = QDBusMessage::createMethodCall("org.kde.StatusNotifierWatcher",
                                                          "/StatusNotifierWatcher",
                                                          "org.freedesktop.DBus.Properties", "Get");
        get << "org.kde.StatusNotifierWatcher"
            << "RegisteredStatusNotifierItems";
        QDBusMessage reply = host.call(get, QDBus::BlockWithGui, 5000);
        if (reply.arguments().isEmpty()) return false;
        items = reply.arguments()[0].value<QDBusVariant>().variant().toStringList();
        for (const QString& item : items)
            if (item.contains(own)) service = item.section('/', 0, 0);
        return !service.isEmpty();
    };
    ASSERT_TRUE(waitFor(registered, 30000)) << output();
    if (bar.late) {
        EXPECT_TRUE(waitFor([&] { return registered() && items.size() == 2; })) << brokerLog();
    }

    // The menu as a host fetches it.
    QDBusMessage layout =
        QDBusMessage::createMethodCall(service, "/MenuBar", "com.canonical.dbusmenu", "GetLayout");
    layout << 0 << -1 << QStringList{};
    QDBusMessage menu = host.call(layout, QDBus::BlockWithGui, 5000);
    ASSERT_EQ(menu.type(), QDBusMessage::ReplyMessage) << menu.errorMessage().toStdString();
    // The message that the tray is missing has gone with the tray's coming.
    waitFor([&] { return windows() == shown; });
    EXPECT_EQ(windows(), shown) << output();

    struct Click {
        const char* method;
        QStringList windows;
    };
    for (const Click& click : {Click{"ContextMenu", {"Vantor"}}, Click{"Activate", {"Vantor"}}}) {
        // Each click starts with no window of vantor's on screen.
        sway.command("[app_id=\"me.orvella.Vantor\"] kill");
        ASSERT_TRUE(waitFor([&] { return vantorWindows(sway).isEmpty(); })) << output();
        QDBusMessage call = QDBusMessage::createMethodCall(
            service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", click.method);
        call << 20 << 700;
        QDBusMessage reply = host.call(call, QDBus::BlockWithGui, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        waitFor([&] { return vantorWindows(sway) == click.windows; });
        // Whatever else was to come has come by the time a second look at the tree is answered.
        QDBusMessage ping = QDBusMessage::createMethodCall(
            service, "/MenuBar", "org.freedesktop.DBus.Properties", "Get");
        ping << "com.canonical.dbusmenu"
             << "Version";
        host.call(ping, QDBus::BlockWithGui, 5000);
        EXPECT_EQ(vantorWindows(sway), click.windows) << bar.name << " " << click.method << "\n"
                                                      << output();
    }
    vantor.terminate();
    vantor.waitForFinished(10000);
    QDBusConnection::disconnectFromBus(QStringLiteral("e2e-host"));
}

INSTANTIATE_TEST_SUITE_P(
    Bars, TrayEndToEnd,
    ::testing::Values(
        Bar{"waybar", "", {"waybar", "-c", "{folder}/waybar.json", "-s", "{folder}/waybar.css"}},
        // sway starts no bar of its own here: the test starts swaybar as root, with the bus.
        Bar{"swaybar",
            "bar {\n  id tray\n  swaybar_command true\n}\n",
            {"swaybar", "-s", "{ipc}", "-b", "tray"}},
        Bar{"waybarAfterVantor",
            "",
            {"waybar", "-c", "{folder}/waybar.json", "-s", "{folder}/waybar.css"},
            true}),
    [](const ::testing::TestParamInfo<Bar>& info) { return std::string(info.param.name); });

} // namespace
} // namespace vantor::testing
