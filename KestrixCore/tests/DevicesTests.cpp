#include "DevicesTestFixtures.h"

using namespace kestrix;
using namespace kestrix::core;
using namespace kestrix::core::testing;

namespace {

using DevicesDiscovery = DevicesFixture;
using DevicesSeizing = DevicesFixture;
using DevicesLED = DevicesFixture;
using DevicesList = DevicesFixture;
using DevicesReports = DevicesFixture;

// Serial numbers, Bluetooth addresses and ports as identities are met by the discovery tests;
// here the edges of the rules.
TEST(DevicesIdentity, anEmptyAddressOrOneOverUSBGivesThePortAMissingLocationZeros) {
    SpaceMouseDevice info;
    info.vendorID = 0x256F;
    info.productID = 0xC652;
    info.transport = "Bluetooth";
    info.bluetoothAddress = "";
    info.locationID = 0x14200000;
    EXPECT_EQ(Devices::identity(info, 1), "port:256f:c652@14200000/1");
    info.transport = "USB";
    info.bluetoothAddress = "aa:bb";
    info.locationID.reset();
    EXPECT_EQ(Devices::identity(info, 0), "port:256f:c652@00000000/0");
}

TEST_F(DevicesDiscovery, registersADeviceWithItsSerialNumberAndModelAndForgetsItWhenRemoved) {
    make({compact()});
    auto device = only();
    EXPECT_EQ(device.id, "serial:ABC123");
    EXPECT_EQ(device.state, "closed");
    EXPECT_EQ(device.axisFullScale, 350);
    EXPECT_EQ(device.hasLED, true);
    EXPECT_EQ(device.buttons, (smk::SpaceMouseButtons{smk::SpaceMouseButtons::left,
                                                      smk::SpaceMouseButtons::right}));
    EXPECT_EQ(lines,
              std::vector<std::string>{
                  "device appeared: SpaceMouse Compact (256F:C635, checked) serial:ABC123 (USB)"});
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(sim->featureReads(1).size(), 0u);
    // Removal releases and forgets it.
    devices->want(true);
    lines.clear();
    changes = 0;
    sim->remove(1);
    EXPECT_TRUE(ids().empty());
    EXPECT_EQ(lines, (std::vector<std::string>{"released serial:ABC123",
                                               "device gone: SpaceMouse Compact serial:ABC123"}));
    EXPECT_EQ(changes, 2);
    loop.runPending();
    EXPECT_EQ(sim->openHandles(1), 0);
}

// The serial number comes from feature report 8, read in the background. Without it over HID,
// a USB device is asked over the control pipe with its interface number; a Bluetooth device has
// its address; failing all, the port names it.
TEST_F(DevicesDiscovery, serialNumberReadAndItsFallbacks) {
    auto hid = compact(std::nullopt);
    hid.featureReports[8] = serialReport();
    auto usb = hid;
    usb.interface = 2;
    usb.hidFeatureFails = true;
    auto neither = compact(std::nullopt);
    neither.hidFeatureFails = true;
    neither.controlPipeFails = true;
    auto bluetooth = wirelessOverBluetooth("AA-BB-CC-DD-EE-0F");
    bluetooth.hidFeatureFails = true;
    const std::vector<SimulatedHIDBackend::ControlRequest> none;
    for (const auto& [device, id, pipe] :
         std::vector<std::tuple<SimulatedDevice, std::string,
                                std::vector<SimulatedHIDBackend::ControlRequest>>>{
             {hid, "serial:AB12345", none},
             {usb, "serial:AB12345", {{0x01230000, 2, 8, 8}}},
             {neither, "port:256f:c635@01230000", {{0x01230000, 0, 8, 8}}},
             {bluetooth, "bt:aa:bb:cc:dd:ee:0f", none},
         }) {
        lines.clear();
        make();
        sim->holdFeatureReads();
        sim->add(device);
        loop.runPending();
        EXPECT_TRUE(ids().empty()) << id; // not before the read comes back
        sim->releaseFeatureReads();
        settle();
        EXPECT_EQ(ids(), std::vector<std::string>{id});
        EXPECT_EQ(sim->controlRequests(), pipe) << id;
        EXPECT_EQ(sim->featureReads(1),
                  (std::vector<SimulatedHIDBackend::FeatureRead>{{8, 8, false}}))
            << id;
        EXPECT_EQ(sim->openHandles(1), 0) << id;
        const std::string told =
            "no serial number from feature report 8 of " + id + ": told apart by its port only";
        EXPECT_EQ(count(told), id.starts_with("serial:") ? 0 : 1) << id;
    }
}

TEST_F(DevicesDiscovery, universalReceiverInterfacesDifferOnlyByTheirSlot) {
    auto receiver = compact(std::nullopt);
    receiver.productID = 0xC652;
    auto second = receiver;
    second.interface = 1;
    auto other = compact(std::nullopt);
    other.productID = 0xC626;
    other.vendorID = 0x046D;
    other.interface = 1;
    other.locationID = 0x02100000;
    make({receiver, second, other});
    // Neither the receiver nor vendor 046D has a serial report: registered at once.
    EXPECT_EQ(devices->backgroundWork(), 0u);
    EXPECT_EQ(ids(),
              (std::vector<std::string>{"port:046d:c626@02100000", "port:256f:c652@01230000/0",
                                        "port:256f:c652@01230000/1"}));
    EXPECT_EQ(count("no serial number"), 0);
    EXPECT_TRUE(sim->featureReads(1).empty());
}

// A read that a removal overtakes names nothing; nor does it name the device that took its key.
TEST_F(DevicesDiscovery, serialReadsRacingARemovalAreDropped) {
    auto device = compact(std::nullopt);
    device.featureReports[8] = serialReport();
    make();
    sim->holdFeatureReads();
    auto key = sim->add(device);
    sim->remove(key);
    sim->releaseFeatureReads();
    settle();
    EXPECT_TRUE(ids().empty());
    EXPECT_EQ(changes, 0);
    // The first read's handle dies with the removal, so it comes back without a serial number.
    device.controlPipeFails = true;
    sim->holdFeatureReads();
    key = sim->add(device);
    sim->remove(key);
    sim->reattach(key); // a new read starts, held as well
    sim->releaseFeatureReads();
    settle();
    EXPECT_EQ(ids(), std::vector<std::string>{"serial:AB12345"});
    EXPECT_EQ(count("device appeared"), 1);
}

TEST_F(DevicesDiscovery,
       unmatchedAndVirtualDevicesAreSkippedSilentlyIgnoredProductsLoggedEachTime) {
    auto onVirtualBus = compact("V1");
    onVirtualBus.transport = "Some VIRTUAL bus";
    auto ignored = compact();
    ignored.productID = 0xC650;
    ignored.product.reset();
    auto noTransport = compact("N1");
    noTransport.transport.reset();
    // What the platform does not even match: another vendor, a device of another kind.
    auto stranger = compact("S1");
    stranger.vendorID = 0x1234;
    auto keyboard = compact("K1");
    keyboard.reportDescriptor = std::vector<std::uint8_t>{0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0xC0};
    make({onVirtualBus, ignored, noTransport, stranger, keyboard});
    sim->remove(2);
    sim->reattach(2);
    EXPECT_EQ(only().transport, "USB"); // a missing transport counts as USB
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "ignored 256F:C650 ? (USB)",
                         "device appeared: SpaceMouse Compact (256F:C635, checked) serial:N1 (USB)",
                         "ignored 256F:C650 ? (USB)"}));
}

TEST_F(DevicesSeizing, wantTwiceOpensOnceReleasingLogsEachDeviceStopReleasesAll) {
    make({compact()});
    devices->want(true);
    devices->want(true);
    sim->add(compact("DEF456")); // appearing while wanted: seized at once
    EXPECT_EQ(sim->opens(1, true), 1);
    EXPECT_EQ(sim->opens(2, true), 1);
    EXPECT_EQ(count("seized "), 2);
    devices->want(false);
    EXPECT_EQ(lines[lines.size() - 2], "released serial:ABC123");
    EXPECT_EQ(lines.back(), "released serial:DEF456");
    devices->want(false);
    EXPECT_EQ(count("released "), 2);
    devices->want(true);
    devices->stop();
    EXPECT_EQ(devices->list()[0].state, "closed");
    EXPECT_FALSE(devices->wanted());
    sim->add(compact("LATE1"));
    EXPECT_EQ(ids().size(), 2u);
}

TEST_F(DevicesSeizing, busyDeviceIsTriedTwentyOneTimesATenthApartWithOneLine) {
    auto device = compact();
    device.busy = true;
    make({device});
    devices->want(true);
    EXPECT_EQ(sim->opens(1, true), 1);
    EXPECT_EQ(only().state, "busy");
    int changesAfterFirst = changes;
    loop.advance(0.05);
    EXPECT_EQ(sim->opens(1, true), 1);
    for (int attempt = 2; attempt <= 21; ++attempt) {
        loop.advance(0.1);
        EXPECT_EQ(sim->opens(1, true), attempt);
    }
    loop.advance(10);
    EXPECT_EQ(sim->opens(1, true), 21);
    EXPECT_EQ(count("seize serial:ABC123: busy"), 1);
    EXPECT_EQ(count("seize "), 1);
    // Only the last attempt of the series announces the state.
    EXPECT_EQ(changes, changesAfterFirst + 1);

    // Retries used up: a later open neither retries nor logs.
    devices->want(false);
    devices->want(true);
    loop.advance(1);
    EXPECT_EQ(sim->opens(1, true), 22);
    EXPECT_EQ(count("seize "), 1);
}

// Retries pause while the device is not wanted; once freed it is seized and counts from zero.
TEST_F(DevicesSeizing, busyDeviceRetriesOnlyWhileWantedAndIsSeizedWhenFreed) {
    auto device = compact();
    device.busy = true;
    make({device});
    devices->want(true);
    loop.advance(0.15);
    devices->want(false);
    loop.advance(5);
    EXPECT_EQ(sim->opens(1, true), 2);
    devices->want(true);
    loop.advance(0.15);
    sim->setBusy(1, false);
    loop.advance(0.1);
    EXPECT_EQ(sim->opens(1, true), 5);
    EXPECT_EQ(only().state, "open");
    EXPECT_EQ(lines.back(), "seized serial:ABC123");
    loop.advance(5);
    EXPECT_EQ(sim->opens(1, true), 5);
    EXPECT_EQ(devices->lookup("serial:ABC123")->second->attempt, 0);
}

// Other failures show their code and are not retried; a device without handle is silently out of
// reach.
TEST_F(DevicesSeizing, otherOpenFailuresShowTheCodeAndAreNotRetried) {
    auto device = compact();
    device.openError = 13;
    make({device, compact("GONE")});
    sim->stop(); // the platform no longer reports removals: the entry outlives the device
    sim->remove(2);
    changes = 0;
    devices->want(true);
    loop.advance(5);
    EXPECT_EQ(devices->list()[0].state, "open failed (0x0000000D)");
    EXPECT_EQ(devices->list()[1].state, "not reachable");
    EXPECT_EQ(sim->opens(1, true), 1);
    EXPECT_EQ(lines.back(), "seize serial:ABC123: open failed (0x0000000D)");
    EXPECT_EQ(count("seize serial:GONE"), 0);
    EXPECT_EQ(changes, 1);
}

TEST_F(DevicesLED, anUnseizedDeviceIsSeizedBrieflyASeizedOneUsesItsHandleFailuresAreTold) {
    auto busy = compact("BUSY1");
    busy.busy = true;
    auto broken = compact("BROKEN1");
    broken.outputError = 5;
    make({compact(), wirelessOverBluetooth("aa:bb:cc:dd:ee:ff"), busy, broken});
    settle();
    EXPECT_EQ(devices->setLED(true, "serial:NOPE"), "no such device");
    EXPECT_EQ(devices->setLED(true, "bt:aa:bb:cc:dd:ee:ff"),
              "the LED lights only on the USB cable");
    EXPECT_EQ(sim->opens(2, true), 0);
    EXPECT_EQ(devices->setLED(true, "serial:BUSY1"), "device busy");
    EXPECT_EQ(devices->setLED(false, "serial:BROKEN1"), "LED not switched (0x00000005)");
    changes = 0;
    EXPECT_EQ(devices->setLED(true, "serial:ABC123"), std::nullopt);
    EXPECT_EQ(sim->outputReports(1), (std::vector<std::vector<std::uint8_t>>{{4, 1}}));
    EXPECT_EQ(sim->opens(1, true), 1);
    EXPECT_EQ(sim->openHandles(1), 0);
    EXPECT_EQ(changes, 1);
    auto list = devices->list(); // bt:..., serial:ABC123, serial:BROKEN1, serial:BUSY1
    EXPECT_EQ(list[1].led, true);
    EXPECT_EQ(list[1].state, "closed");
    for (std::size_t i : {0, 2, 3})
        EXPECT_FALSE(list[i].led.has_value()) << i;
    devices->want(true);
    EXPECT_EQ(devices->setLED(false, "serial:ABC123"), std::nullopt);
    EXPECT_EQ(sim->opens(1, true), 2);
    EXPECT_EQ(sim->outputReports(1), (std::vector<std::vector<std::uint8_t>>{{4, 1}, {4, 0}}));
    EXPECT_EQ(devices->list()[1].led, false);
}

TEST_F(DevicesList, sortedByIdEnabledByTheCallbackAndDriverForEveryDeviceNotOpen) {
    make({compact("ZZZ"), compact("AAA")});
    devices->want(true);
    sim->setBusy(1, true);
    devices->want(false);
    devices->want(true); // only AAA opens again
    disabled.insert("serial:ZZZ");
    devices->driverHolds = true;
    devices->driverProblem = DriverProblem{"driverNotAnswering", "x"};
    auto list = devices->list();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].id, "serial:AAA");
    EXPECT_TRUE(list[0].enabled);
    EXPECT_EQ(list[0].state, "open");
    EXPECT_FALSE(list[0].driverProblem.has_value());
    EXPECT_FALSE(list[1].enabled);
    EXPECT_EQ(list[1].state, "driver");
    EXPECT_EQ(list[1].driverProblem, devices->driverProblem);
}

// A disabled device forwards nothing but its battery, and that only when it changes.
TEST_F(DevicesReports, reportsOfASeizedEnabledDeviceReachTheCallbacksWithItsId) {
    make({compact()});
    sim->send(1, {1, 10, 0, 0, 0, 0, 0});
    EXPECT_TRUE(raw.empty()); // not open: nothing arrives, as with hardware
    devices->want(true);
    rawWanted = true;
    sim->send(1, {1, 10, 0, 0, 0, 0, 0});
    sim->send(1, {2, 0, 0, 0, 0, 5, 0});
    sim->send(1, {3, 1});
    ASSERT_EQ(axes.size(), 1u);
    EXPECT_EQ(axes[0].first, "serial:ABC123");
    EXPECT_EQ(axes[0].second, (smk::SpaceMouseAxes{10, 0, 0, 0, 0, 5}));
    EXPECT_EQ(buttons.size(), 1u);
    EXPECT_EQ(raw.size(), 3u);
    EXPECT_EQ(raw[2].second, (std::vector<std::uint8_t>{3, 1}));

    disabled.insert("serial:ABC123");
    changes = 0;
    sim->send(1, {2, 0, 0, 0, 0, 6, 0});
    sim->send(1, {3, 0});
    sim->send(1, {0x17, 80, 0});
    sim->send(1, {0x17, 80, 0});
    EXPECT_EQ(axes.size() + buttons.size() + raw.size(), 5u);
    EXPECT_EQ(only().battery, 80);
    EXPECT_EQ(only().charging, false);
    EXPECT_EQ(changes, 1);
    sim->send(1, {0x17, 80, 1});
    EXPECT_EQ(only().charging, true);
    EXPECT_EQ(changes, 2);
}

TEST_F(DevicesReports, scheduledReportsArriveOnlyWhileTheDeviceIsOpen) {
    auto device = compact();
    device.reports.push_back({0.5, 0.01, 100, {2, 0, 0, 0, 0, 1, 0}});
    device.reports.push_back({0.8, 0, 3, {2, 0, 0, 0, 0, 2, 0}}); // three at once
    loop.advance(100);                                            // times count from the start
    make({device});
    loop.advance(0.75);
    EXPECT_TRUE(axes.empty());
    devices->want(true);
    loop.advance(0.25);
    EXPECT_EQ(axes.size(), 25u + 3u);
    devices->want(false);
    loop.advance(1);
    EXPECT_EQ(axes.size(), 28u);
    EXPECT_EQ(sim->deliveredReports(1), 28u);
}

TEST_F(DevicesReports, closingFromInsideAReportCallbackIsSafe) {
    make({compact()});
    devices->want(true);
    devices->onAxes = [&](const std::string&, const smk::SpaceMouseAxes&) { devices->want(false); };
    sim->send(1, {2, 0, 0, 0, 0, 1, 0});
    sim->send(1, {2, 0, 0, 0, 0, 1, 0});
    loop.runPending();
    EXPECT_EQ(only().state, "closed");
    EXPECT_EQ(sim->openHandles(1), 0);
}

} // namespace
