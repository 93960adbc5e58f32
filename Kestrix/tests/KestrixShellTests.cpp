// The broker program's shell offscreen: the tray menu, the icon, the start-up sequence.
#include "AppDelegate.h"
#include "KestrixProtocol/LineConnection.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "MenuBarIcon.h"
#include "Permission.h"
#include "StatusMenu.h"
#include "ShellTestApp.h"
#include "TempFolder.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kestrix;
using Item = StatusMenuItem;
using testsupport::readFile;
using testsupport::TempFolder;

namespace {

SpaceMouseDevice device(std::string id, std::optional<smk::SpaceMouseModel::Knowledge> knowledge) {
    SpaceMouseDevice d;
    d.id = id;
    d.name = id.substr(7);
    d.transport = "USB";
    d.knowledge = knowledge;
    return d;
}

// The titles, "---" for a separator, with "+" after those that can be chosen, "*" after those
// checked and their tool tips after "|".
std::vector<QString> titles(const std::vector<Item>& items) {
    std::vector<QString> out;
    for (const auto& i : items)
        out.push_back(i.kind == Item::Kind::separator
                          ? "---"
                          : i.title + (i.enabled ? "+" : "") + (i.checked ? "*" : "") +
                                (i.toolTip.isEmpty() ? "" : "|" + i.toolTip));
    return out;
}

} // namespace

TEST(StatusMenu, devicesOrNoneThenDriverHolderWaitingLogAndVersionFillTheMenuWithActions) {
    BrokerStatus status;
    EXPECT_EQ(titles(statusMenuItems(status, 15)),
              (std::vector<QString>{"No SpaceMouse connected", "---", "Not in use", "---",
                                    "Show Log+", "Kestrix 15"}));
    status.driver = true;
    Claim claim{{}, true};
    status.clients = {BrokerStatus::Client{1, "Blender", 10, claim, false},
                      BrokerStatus::Client{2, "Vantor", 11, claim, true},
                      BrokerStatus::Client{3, "Other", 12, claim, true}};
    using K = smk::SpaceMouseModel::Knowledge;
    status.devices = {device("serial:A", K::checked), device("serial:B", K::guessed),
                      device("serial:C", K::published), device("serial:D", std::nullopt)};
    status.devices[1].enabled = false;
    status.devices[3].serialNumber = "ABC";
    status.devices[3].battery = 80;
    auto items = statusMenuItems(status, 16);
    EXPECT_EQ(titles(items),
              (std::vector<QString>{"SpaceMouse", "A (USB)+*|serial:A",
                                    "B (USB)+|serial:B\nNot yet checked at a device",
                                    "C (USB)+*|serial:C\nNot yet checked at a device",
                                    "D ABC (USB) \u2013 80 %+*|serial:D",
                                    "Through the spacenavd driver", "---", "In use by Vantor",
                                    "Waiting: Blender", "---", "Show Log+", "Kestrix 16"}));
    // The menu they fill: its actions run the callbacks.
    ensureApplication();
    QMenu menu;
    menu.addAction("stale"); // replaced
    QString toggled;
    int logs = 0;
    fillMenu(
        menu, items, [&](const QString& d) { toggled = d; }, [&] { ++logs; });
    QList<QAction*> actions = menu.actions();
    ASSERT_EQ(actions.size(), 12);
    EXPECT_TRUE(menu.toolTipsVisible());
    EXPECT_TRUE(actions[0]->isSeparator()); // the section header
    EXPECT_EQ(actions[2]->text(), "B (USB)");
    EXPECT_FALSE(actions[2]->isChecked());
    EXPECT_TRUE(actions[3]->isChecked());
    actions[2]->trigger();
    EXPECT_EQ(toggled, "serial:B");
    actions[10]->trigger();
    EXPECT_EQ(logs, 1);
    EXPECT_FALSE(actions[11]->isEnabled());
}

TEST(MenuBarIcon, baseIsHalfToneCapIsSolidAndTheGapsAreClear) {
    ensureApplication();
    QImage image = MenuBarIcon::image(QSize(72, 72)); // u = 4 pixels
    auto alpha = [&](double x, double yUp) { return qAlpha(image.pixel(int(x), int(72 - yUp))); };
    EXPECT_NEAR(alpha(12, 20), 140, 3); // the base, left of the cap
    EXPECT_EQ(alpha(12, 34), 0);        // above the base's far rim
    EXPECT_EQ(alpha(36, 38), 255);      // the middle of the cap
    EXPECT_LT(alpha(36, 44.8), 10);     // the rim line at the front of the cap top
    EXPECT_LT(alpha(36, 19), 10);       // the gap where the cap meets the base
    EXPECT_NEAR(alpha(36, 12), 140, 3); // the base in front of the cap
    EXPECT_EQ(alpha(2, 70), 0);         // nothing in the corner
    // The base's outline, where a unit is 40 pixels: (x, y) in units.
    QImage big = MenuBarIcon::image(QSize(720, 720));
    auto at = [&](double x, double y) { return qAlpha(big.pixel(int(x * 40), int(720 - y * 40))); };
    EXPECT_NEAR(at(1.3, 3.5), 140, 3);  // inside the lower rim at the left
    EXPECT_NEAR(at(1.3, 4.84), 140, 3); // the side, between the lower and the upper rim
    EXPECT_EQ(at(17.5, 4), 0);          // right of the base
    EXPECT_EQ(at(17.5, 5.2), 0);
}

struct Delegate : ::testing::Test {
    TempFolder t;
    VirtualMainLoop loop;
    UserDefaults settings{t.path + "/kestrix.json"};
    BrokerPlace place{t.path + "/home"};
    int terminated = -1;
    std::unique_ptr<AppDelegate> delegate;

    void SetUp() override { ensureApplication(); }
    bool launch() {
        AppDelegate::Options options;
        options.executable = "/opt/kestrix";
        options.hasDisplay = true;
        options.usesDevices = false;
        options.terminate = [this](int code) { terminated = code; };
        delegate = std::make_unique<AppDelegate>(loop, place, settings, options);
        bool launched = delegate->launch();
        loop.runPending();
        return launched;
    }
    std::string log() const { return readFile(place.log().string()); }
};

TEST_F(Delegate, trayItemFollowsShowsMenuBarItemAndItsIconAndMenuTheHolder) {
    ASSERT_TRUE(launch());
    EXPECT_FALSE(delegate->statusItem());
    EXPECT_EQ(log().find("menu bar item"), std::string::npos);
    EXPECT_NE(log().find("permission to listen (hidraw access): " + hidrawAccess() +
                         " \u2014 /opt/kestrix"),
              std::string::npos);

    // Another program (or the user) switches it on: the item appears at once.
    t.write("other.json", R"({"showsMenuBarItem": true})");
    ::rename((t.path + "/other.json").c_str(), (t.path + "/kestrix.json").c_str());
    ASSERT_TRUE(loop.runUntil([&] { return delegate->statusItem() != nullptr; }));
    EXPECT_NE(log().find("menu bar item shown (showsMenuBarItem)"), std::string::npos);
    EXPECT_TRUE(delegate->iconDimmed());
    delegate->menuNeedsUpdate();
    EXPECT_EQ(delegate->menu()->actions()[2]->text(), "Not in use");

    auto client = LineConnection<ClientMessage, BrokerMessage>::create(
        loop, UnixSocket::connect(place.socket().string()).value());
    bool holding = false;
    client->onMessage = [&](const BrokerMessage& m) {
        if (auto* h = m.as<BrokerMessage::Holding>()) holding = h->holding;
    };
    client->start();
    client->send(ClientMessage{Hello{2, 15, 77, "Vantor", Claim{{}, true}}});
    loop.advance(0.3);
    ASSERT_TRUE(loop.runUntil([&] { return holding; }));
    EXPECT_FALSE(delegate->iconDimmed());
    delegate->menuNeedsUpdate();
    EXPECT_EQ(delegate->menu()->actions()[2]->text(), "In use by Vantor");
    client.reset();
    ASSERT_TRUE(loop.runUntil([&] { return delegate->iconDimmed(); }));

    settings.set("showsMenuBarItem", false);
    loop.runPending();
    EXPECT_FALSE(delegate->statusItem());
    EXPECT_NE(log().find("menu bar item hidden (showsMenuBarItem)"), std::string::npos);
    EXPECT_EQ(terminated, -1);
}

TEST_F(Delegate, aFailedElectionEndsTheProgramBeforeAnyBroker) {
    t.write("file", "x");
    place = BrokerPlace(t.path + "/file/home"); // cannot be created
    EXPECT_FALSE(launch());
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(delegate->broker());
}

TEST_F(Delegate, aBrokerThatCannotListenHasTheLastWordInTheLog) {
    settings.set("showsMenuBarItem", true); // would log that there is no display to show it on
    place = BrokerPlace(t.path + "/" + std::string(120, 'k')); // too long for a socket address
    EXPECT_FALSE(launch());
    EXPECT_EQ(terminated, 1); // a failed start, as the other refusals are
    const std::string text = log();
    const std::string last = text.substr(text.rfind('\n', text.size() - 2) + 1);
    EXPECT_NE(last.find("] cannot listen: path too long"), std::string::npos) << text;
}

TEST(Permission, hidrawAccessIsUndeterminedWithoutNodes) {
    TempFolder t;
    EXPECT_EQ(hidrawAccess(t.path), "not determined");
    EXPECT_EQ(hidrawAccess(t.path + "/missing"), "not determined");
    t.write("hidraw0", "");
    ::chmod((t.path + "/hidraw0").c_str(), ::geteuid() == 0 ? 0600 : 0);
    EXPECT_EQ(hidrawAccess(t.path), ::geteuid() == 0 ? "granted" : "denied");
}
