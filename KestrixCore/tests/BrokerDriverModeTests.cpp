#include "BrokerFakes.h"

using namespace brokertest;
using Axes = BrokerMessage::Axes;
using Buttons = BrokerMessage::Buttons;
using Holding = BrokerMessage::Holding;
using Devices = BrokerMessage::Devices;

namespace {

DriverWatch::Helper running(std::optional<double> launched, bool finished = true) {
    return DriverWatch::Helper{launched, finished};
}

int count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

} // namespace

TEST_F(BrokerTest, helperStartingSwitchesToDriverModeAndTellsEveryClient) {
    makeSettled();
    auto c = claimant("Vantor", front({"a.app"}));
    c->got.clear();
    watch->set(running(loop.now()));
    EXPECT_TRUE(broker->driverMode());
    EXPECT_EQ(count(lines, "spacenavd runs: through the driver"), 1);
    EXPECT_TRUE(devices->holds);
    EXPECT_EQ(devices->wants.back(), false);
    EXPECT_EQ(driver->starts, 1);
    ASSERT_TRUE(waitFor<Devices>(*c)); // the devices are now listed as held by the driver
    EXPECT_TRUE(broker->status().driver.value());
    // The same state again changes nothing.
    auto lineCount = lines.size();
    watch->set(running(loop.now()));
    EXPECT_EQ(lines.size(), lineCount);
    EXPECT_EQ(driver->starts, 1);
}

TEST_F(BrokerTest, aDriverRunningAtStartIsFoundByStartUnlessNoDevicesAreUsed) {
    for (bool usesDevices : {true, false}) {
        make(usesDevices, false);
        watch->set(running(50.0));
        broker->start(-1);
        EXPECT_EQ(broker->driverMode(), usesDevices);
        EXPECT_EQ(driver->starts, usesDevices ? 1 : 0);
        EXPECT_EQ(devices->started, usesDevices);
        watch->set(std::nullopt);
        watch->set(running(50.0));
        EXPECT_EQ(broker->driverMode(), usesDevices);
        broker.reset();
    }
    watch = nullptr;
}

TEST_F(BrokerTest, inDriverModeOnlyFrontClaimsHoldAndTheHelperQuittingSeizesAgain) {
    makeSettled();
    auto bg = claimant("Background", background(), 1);
    ASSERT_TRUE(waitFor<Holding>(*bg));
    watch->set(running(loop.now(), false));
    ASSERT_TRUE(waitFor<Holding>(*bg, 2));
    EXPECT_FALSE(bg->all<Holding>().back().holding);
    EXPECT_TRUE(logged("holder: nobody"));
    EXPECT_EQ(driver->wants.back(), false);
    auto app = claimant("App", front({"a.app"}), 2);
    frontApp->activate(FrontmostApp{"a.app", 2});
    ASSERT_TRUE(waitFor<Holding>(*app));
    EXPECT_EQ(driver->wants.back(), true);
    EXPECT_EQ(devices->wants.back(), false);

    loop.advance(30.0);
    ASSERT_TRUE(devices->problem);
    watch->set(std::nullopt);
    EXPECT_FALSE(broker->driverMode());
    EXPECT_EQ(count(lines, "spacenavd gone: seizing again"), 1);
    EXPECT_EQ(driver->stops, 1);
    EXPECT_FALSE(devices->holds);
    EXPECT_FALSE(devices->problem);
    EXPECT_TRUE(logged("driver problem over"));
    EXPECT_EQ(devices->wants.back(), true); // the holder gets the devices seized
}

TEST_F(BrokerTest, healthCheckRunsEveryFiveSecondsAndReportsASlowLaunchAfterThirtySeconds) {
    makeSettled();
    // Launched 29 s before driver mode begins, and never answering.
    double launched = loop.now() - 29.0;
    watch->set(running(launched, false));
    EXPECT_FALSE(devices->problem);
    loop.advance(4.9);
    EXPECT_FALSE(devices->problem);
    auto c = claimant("Listener", std::nullopt); // listeners hear about problems too
    c->got.clear();
    loop.advance(0.1); // the first check, 5 s after entering: 34 s after launch
    ASSERT_TRUE(devices->problem);
    EXPECT_EQ(devices->problem->code, "helperNotResponding");
    std::string expected =
        "spacenavd has not finished launching (launched " +
        Broker::stamp(wall + std::chrono::seconds(1) - std::chrono::seconds(29)) + ")";
    EXPECT_EQ(devices->problem->detail, expected);
    EXPECT_TRUE(logged("driver problem: " + expected));
    ASSERT_TRUE(waitFor<Devices>(*c));
    EXPECT_EQ(c->all<Devices>().size(), 1u);
    // Unchanged at the next checks: neither logged nor announced again.
    loop.advance(10.0);
    EXPECT_EQ(count(lines, "driver problem: " + expected), 1);
    settleSockets();
    EXPECT_EQ(c->all<Devices>().size(), 1u);
}

TEST_F(BrokerTest, launchDateUnknownCountsFromWhenTheBrokerSawTheHelper) {
    makeSettled();
    watch->set(running(std::nullopt, false));
    loop.advance(25.0);
    EXPECT_FALSE(devices->problem);
    loop.advance(5.0); // 30 s after it was seen
    ASSERT_TRUE(devices->problem);
    EXPECT_EQ(devices->problem->code, "helperNotResponding");
}

TEST_F(BrokerTest, registrationFailingFromTheThirdTimeIsAProblem) {
    makeSettled();
    watch->set(running(loop.now()));
    driver->failed = 2;
    driver->onChange();
    EXPECT_FALSE(devices->problem);
    driver->failed = 3;
    driver->onChange();
    ASSERT_TRUE(devices->problem);
    EXPECT_EQ(devices->problem->detail, "the registration with spacenavd keeps failing: unknown");
    driver->reason = "no socket";
    driver->onChange();
    EXPECT_TRUE(logged("driver problem: the registration with spacenavd keeps failing: no socket"));
    driver->onChange();
    EXPECT_EQ(
        count(lines, "driver problem: the registration with spacenavd keeps failing: no socket"),
        1);
    driver->id = 7; // registered after all
    driver->onChange();
    EXPECT_FALSE(devices->problem);
    EXPECT_TRUE(logged("driver problem over"));
}

TEST_F(BrokerTest, helperRestartingWithinFiveSecondsStartsANewHealthChain) {
    makeSettled();
    watch->set(running(loop.now(), false));
    loop.advance(2.0);
    watch->set(std::nullopt);
    loop.advance(1.0);
    double restarted = loop.now();
    watch->set(running(restarted - 27.5, false));
    // The old chain would have checked at 6 s (27.5 + 2 = 29.5 s: no problem anyway), the new one
    // checks at restart + 5 s, when the launch is 32.5 s old.
    loop.advance(4.9);
    EXPECT_FALSE(devices->problem);
    loop.advance(0.1);
    EXPECT_TRUE(devices->problem);
    EXPECT_EQ(loop.pendingTimers(), 2u); // the next health check and the linger
}

TEST_F(BrokerTest, driverInputGoesToTheHolderAsTheFirstEnabledDeviceAndTheLEDToTheDriver) {
    makeSettled();
    devices->devices = {device("serial:B"), device("serial:A")};
    devices->models.emplace("serial:A", *smk::SpaceMouseModel::matching(0x256f, 0xc635));
    auto app = claimant("App", front({"a.app"}));
    watch->set(running(loop.now()));
    frontApp->activate(FrontmostApp{"a.app", 1});
    ASSERT_TRUE(waitFor<Holding>(*app));
    driver->onAxes(smk::SpaceMouseAxes{1, 2, 3, 4, 5, 6});
    driver->onButtons(0x1);
    ASSERT_TRUE(waitFor<Buttons>(*app));
    EXPECT_EQ(app->all<Axes>().front().device, "serial:A");
    auto model = *smk::SpaceMouseModel::matching(0x256f, 0xc635);
    EXPECT_EQ(app->all<Buttons>().front(), (Buttons{"serial:A", model.buttons(0x1)}));

    broker->setEnabled(false, "serial:A");
    EXPECT_EQ(broker->driverDevice()->id, "serial:B");
    broker->setEnabled(false, "serial:B");
    EXPECT_FALSE(broker->driverDevice());
    settleSockets();
    app->got.clear();
    driver->onAxes(smk::SpaceMouseAxes{9, 9, 9, 9, 9, 9});
    driver->onButtons(0x3);
    settleSockets();
    EXPECT_EQ(app->count<Axes>(), 0);
    EXPECT_EQ(app->count<Buttons>(), 0);
    // The LED goes through the registered driver.
    driver->id = 3;
    app->send(ClientMessage{ClientMessage::SetLED{"serial:A", true}});
    ASSERT_TRUE(loop.runUntil([&] { return !driver->leds.empty(); }));
    EXPECT_TRUE(driver->leds.front());
    EXPECT_TRUE(devices->leds.empty());
}
