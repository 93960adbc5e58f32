#include "TempFolder.h"
#include "AppDelegate.h"
#include "KestrixProtocol/LineConnection.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "MenuBarIcon.h"
#include "Permission.h"
#include "StatusMenu.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrix;
using Item = StatusMenuItem;

namespace {

using testsupport::TempFolder;
using testsupport::readFile;

void ensureApplication() {
    static int argc = 1;
    static char name[] = "KestrixTests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    (void)app;
}

SpaceMouseDevice device(std::string id, std::string name) {
    SpaceMouseDevice d;
    d.id = std::move(id);
    d.name = std::move(name);
    d.transport = "USB";
    d.state = "open";
    return d;
}

std::vector<QString> titles(const std::vector<Item>& items) {
    std::vector<QString> out;
    for (const auto& i : items)
        out.push_back(i.kind == Item::Kind::separator ? QString("---") : i.title);
    return out;
}



} // namespace

TEST(StatusMenu, noDeviceWithTheDriverRunning) {
    BrokerStatus status;
    status.driver = true;
    auto items = statusMenuItems(status, 15);
    EXPECT_EQ(titles(items),
              (std::vector<QString>{"No SpaceMouse connected", "Through the spacenavd driver",
                                    "---", "Not in use", "---", "Show Log", "Kestrix 15"}));
    EXPECT_FALSE(items[0].enabled);
    EXPECT_FALSE(items[1].enabled);
    EXPECT_TRUE(items[5].enabled);
    EXPECT_EQ(items[5].action, Item::Action::showLog);
    EXPECT_FALSE(items[6].enabled);
}

TEST(StatusMenu, deviceTitleCarriesSerialTransportAndBattery) {
    auto d = device("serial:ABC", "SpaceMouse Wireless");
    d.serialNumber = "ABC";
    d.battery = 80;
    EXPECT_EQ(deviceTitle(d), QString::fromUtf8("SpaceMouse Wireless ABC (USB) \u2013 80 %"));
    auto plain = device("port:1", "SpaceMouse Compact");
    plain.transport = "Bluetooth";
    EXPECT_EQ(deviceTitle(plain), "SpaceMouse Compact (Bluetooth)");
}

TEST(StatusMenu, devicesAreCheckableTogglesWithKnowledgeInTheirTooltips) {
    BrokerStatus status;
    auto a = device("serial:A", "A");
    a.knowledge = smk::SpaceMouseModel::Knowledge::checked;
    auto b = device("serial:B", "B");
    b.enabled = false;
    b.knowledge = smk::SpaceMouseModel::Knowledge::guessed;
    auto c = device("serial:C", "C");
    c.knowledge = smk::SpaceMouseModel::Knowledge::published;
    status.devices = {a, b, c};
    auto items = statusMenuItems(status, 15);
    ASSERT_GE(items.size(), 4u);
    EXPECT_EQ(items[0].kind, Item::Kind::header);
    EXPECT_EQ(items[0].title, "SpaceMouse");
    EXPECT_TRUE(items[1].checkable && items[1].checked && items[1].enabled);
    EXPECT_EQ(items[1].toolTip, "serial:A");
    EXPECT_FALSE(items[2].checked);
    EXPECT_EQ(items[2].toolTip, "serial:B\nNot yet checked at a device");
    EXPECT_EQ(items[3].toolTip, "serial:C\nNot yet checked at a device");
    EXPECT_EQ(items[3].action, Item::Action::toggleDevice);
    EXPECT_EQ(items[3].device, "serial:C");
}

TEST(StatusMenu, holderFirstThenTheWaitingClients) {
    BrokerStatus status;
    Claim claim{{}, true, std::nullopt, std::nullopt};
    status.clients = {BrokerStatus::Client{1, "Blender", 10, claim, false},
                      BrokerStatus::Client{2, "Vantor", 11, claim, true},
                      BrokerStatus::Client{3, "Other", 12, claim, false}};
    auto t = titles(statusMenuItems(status, 15));
    EXPECT_EQ(t, (std::vector<QString>{"No SpaceMouse connected", "---", "In use by Vantor",
                                       "Waiting: Blender", "Waiting: Other", "---", "Show Log",
                                       "Kestrix 15"}));
}

TEST(StatusMenu, fillMenuBuildsActionsThatRunTheirCallbacks) {
    ensureApplication();
    BrokerStatus status;
    status.devices = {device("serial:A", "A")};
    QMenu menu;
    menu.addAction("stale");
    QString toggled;
    int logs = 0;
    fillMenu(
        menu, statusMenuItems(status, 15), [&](const QString& d) { toggled = d; }, [&] { ++logs; });
    QList<QAction*> actions = menu.actions();
    ASSERT_EQ(actions.size(), 7);
    EXPECT_TRUE(actions[0]->isSeparator()); // the section header
    EXPECT_EQ(actions[1]->text(), "A (USB)");
    EXPECT_TRUE(actions[1]->isChecked());
    actions[1]->trigger();
    EXPECT_EQ(toggled, "serial:A");
    EXPECT_EQ(actions[5]->text(), "Show Log");
    actions[5]->trigger();
    EXPECT_EQ(logs, 1);
    EXPECT_FALSE(actions[6]->isEnabled());
}

TEST(MenuBarIcon, baseIsHalfToneCapIsSolidAndTheGapsAreClear) {
    ensureApplication();
    QImage image = MenuBarIcon::image(QSize(72, 72)); // u = 4 pixels
    auto alpha = [&](double x, double yUp) { return qAlpha(image.pixel(int(x), int(72 - yUp))); };
    EXPECT_NEAR(alpha(12, 20), 140, 3); // the base, left of the cap
    EXPECT_EQ(alpha(36, 38), 255);      // the middle of the cap
    EXPECT_LT(alpha(36, 44.8), 10);     // the rim line at the front of the cap top
    EXPECT_LT(alpha(36, 19), 10);       // the gap where the cap meets the base
    EXPECT_NEAR(alpha(36, 12), 140, 3); // the base in front of the cap
    EXPECT_EQ(alpha(2, 70), 0);         // nothing in the corner
    QImage small = MenuBarIcon::image(QSize(18, 18));
    EXPECT_EQ(small.size(), QSize(18, 18));
}

TEST(AppDelegate, trayItemFollowsShowsMenuBarItemWhileRunning) {
    ensureApplication();
    TempFolder t;
    VirtualMainLoop loop;
    UserDefaults settings(t.path + "/kestrix.json");
    BrokerPlace place(t.path + "/home");
    AppDelegate::Options options;
    options.executable = "/opt/kestrix";
    options.hasDisplay = true;
    options.usesDevices = false;
    int terminated = -1;
    options.terminate = [&](int code) { terminated = code; };
    AppDelegate delegate(loop, place, settings, options);
    ASSERT_TRUE(delegate.launch());
    loop.runPending();
    EXPECT_FALSE(delegate.statusItem());
    std::string log = readFile(place.log().string());
    EXPECT_EQ(log.find("menu bar item"), std::string::npos);
    EXPECT_NE(log.find("permission to listen (hidraw access): "), std::string::npos);
    EXPECT_NE(log.find(" \u2014 /opt/kestrix"), std::string::npos);

    // Another program (or the user) switches it on: the item appears at once.
    std::ofstream(t.path + "/other.json") << R"({"showsMenuBarItem": true})";
    ::rename((t.path + "/other.json").c_str(), (t.path + "/kestrix.json").c_str());
    ASSERT_TRUE(loop.runUntil([&] { return delegate.statusItem() != nullptr; }));
    EXPECT_NE(readFile(place.log().string()).find("menu bar item shown (showsMenuBarItem)"),
              std::string::npos);
    EXPECT_TRUE(delegate.iconDimmed());

    delegate.menuNeedsUpdate();
    QList<QAction*> actions = delegate.menu()->actions();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_EQ(actions[0]->text(), "No SpaceMouse connected");
    EXPECT_EQ(actions[2]->text(), "Not in use");
    EXPECT_EQ(actions[5]->text(), "Kestrix 15");

    settings.set("showsMenuBarItem", false);
    loop.runPending();
    EXPECT_FALSE(delegate.statusItem());
    EXPECT_NE(readFile(place.log().string()).find("menu bar item hidden (showsMenuBarItem)"),
              std::string::npos);
    EXPECT_EQ(terminated, -1);
}

TEST(AppDelegate, aLostElectionEndsTheProgramBeforeAnyBroker) {
    ensureApplication();
    TempFolder t;
    VirtualMainLoop loop;
    UserDefaults settings(t.path + "/kestrix.json");
    std::ofstream(t.path + "/file") << "x";
    BrokerPlace place(t.path + "/file/home"); // cannot be created
    AppDelegate::Options options;
    options.executable = "/opt/kestrix";
    int terminated = -1;
    options.terminate = [&](int code) { terminated = code; };
    AppDelegate delegate(loop, place, settings, options);
    EXPECT_FALSE(delegate.launch());
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(delegate.broker());
}

TEST(AppDelegate, aBrokerThatCannotListenHasTheLastWordInTheLog) {
    ensureApplication();
    TempFolder t;
    VirtualMainLoop loop;
    UserDefaults settings(t.path + "/kestrix.json");
    settings.set("showsMenuBarItem", true); // would log that there is no display to show it on
    BrokerPlace place(t.path + "/" + std::string(120, 'k')); // too long for a socket address
    AppDelegate::Options options;
    options.usesDevices = false;
    int terminated = -1;
    options.terminate = [&](int code) { terminated = code; };
    AppDelegate delegate(loop, place, settings, options);
    EXPECT_FALSE(delegate.launch());
    loop.runPending();
    EXPECT_EQ(terminated, 0);
    std::string log = readFile(place.log().string());
    std::string last = log.substr(log.rfind('\n', log.size() - 2) + 1);
    EXPECT_NE(last.find("] cannot listen: path too long"), std::string::npos) << log;
}

TEST(AppDelegate, iconAndMenuFollowTheHolder) {
    ensureApplication();
    TempFolder t;
    VirtualMainLoop loop;
    UserDefaults settings(t.path + "/kestrix.json");
    settings.set("showsMenuBarItem", true);
    BrokerPlace place(t.path + "/home");
    AppDelegate::Options options;
    options.executable = "/opt/kestrix";
    options.hasDisplay = true;
    options.usesDevices = false;
    options.terminate = [](int) {};
    AppDelegate delegate(loop, place, settings, options);
    ASSERT_TRUE(delegate.launch());
    loop.runPending();
    ASSERT_TRUE(delegate.statusItem());
    EXPECT_TRUE(delegate.iconDimmed());

    auto fd = UnixSocket::connect(place.socket().string());
    ASSERT_TRUE(fd);
    auto client = LineConnection<ClientMessage, BrokerMessage>::create(loop, *fd);
    bool holding = false;
    client->onMessage = [&](const BrokerMessage& m) {
        if (auto* h = m.as<BrokerMessage::Holding>()) holding = h->holding;
    };
    client->start();
    client->send(ClientMessage{Hello{2, 15, 77, "Vantor", Claim{{}, true, {}, {}}}});
    loop.advance(0.3);
    ASSERT_TRUE(loop.runUntil([&] { return holding; }));
    EXPECT_FALSE(delegate.iconDimmed());
    delegate.menuNeedsUpdate();
    EXPECT_EQ(delegate.menu()->actions()[2]->text(), "In use by Vantor");

    client.reset();
    ASSERT_TRUE(loop.runUntil([&] { return delegate.iconDimmed(); }));
}

TEST(Permission, hidrawAccessIsUndeterminedWithoutNodes) {
    TempFolder t;
    EXPECT_EQ(hidrawAccess(t.path), "not determined");
    EXPECT_EQ(hidrawAccess(t.path + "/missing"), "not determined");
    std::ofstream(t.path + "/hidraw0") << "";
    ::chmod((t.path + "/hidraw0").c_str(), 0600);
    if (::geteuid() == 0) {
        EXPECT_EQ(hidrawAccess(t.path), "granted");
    } else {
        ::chmod((t.path + "/hidraw0").c_str(), 0);
        EXPECT_EQ(hidrawAccess(t.path), "denied");
    }
}
