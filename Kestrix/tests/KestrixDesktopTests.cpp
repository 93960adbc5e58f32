// A real `kestrix` on a real X server: the app in front decides who holds the device.
#include "ProcessSupport.h"
#include "X11TestDesktop.h"

using namespace proc;

TEST(KestrixDesktop, theClaimantOfTheAppInFrontHoldsTheDevice) {
    x11test::Xvfb server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    Home home;
    home.devices(R"({"devices": []})");
    x11test::FakeDesktop desktop(server.display());
    // Process ids that no process has: the apps are known by their window class.
    xcb_window_t modeller = desktop.window(2000000001, "Modeller");
    xcb_window_t editor = desktop.window(2000000002, "Editor");
    proc::Broker broker(home, {{"DISPLAY", server.display()},
                               {"XDG_DATA_HOME", home.path + "/data"},
                               {"XDG_DATA_DIRS", home.path + "/data"}});
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();

    VirtualMainLoop loop;
    auto client = connect(loop, home);
    ASSERT_TRUE(client);
    auto holding = [&] {
        auto all = client->all<BrokerMessage::Holding>();
        return !all.empty() && all.back().holding;
    };
    client->send(ClientMessage{hello("Modeller plug-in", Claim{{"Modeller"}, false, {}, {}})});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<BrokerMessage::Welcome>() == 1; }));

    desktop.activate(modeller);
    ASSERT_TRUE(loop.runUntil(holding));
    // The broker tells the client before it writes its log line.
    EXPECT_TRUE(waitInFolder(home.path + "/home", [&] {
        return home.log().find("holder: Modeller plug-in (front: Modeller)") != std::string::npos;
    }));

    desktop.activate(editor);
    ASSERT_TRUE(loop.runUntil([&] { return !holding(); }));

    client->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<BrokerStatus>() == 1; }));
    EXPECT_EQ(client->all<BrokerStatus>().front().frontmostApp, "Editor");
}
