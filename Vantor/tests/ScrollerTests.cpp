#include "ScrollerTestSupport.h"

namespace vantor::testing {
namespace {

using Event = SpaceMouseInput::Event;
using scroll::ScrollPhase;

TEST_F(ScrollerTest, startSendsSortedClaimOfAllowedMinusExcludedApps) {
    defaults->set("allowed_apps", "org.b,org.a,com.autodesk.fusion360");
    make().start();
    ASSERT_EQ(connectClaims.size(), 1u);
    EXPECT_EQ(connectClaims[0].apps, (std::vector<std::string>{"org.a", "org.b"}));
    EXPECT_FALSE(connectClaims[0].background);
    EXPECT_FALSE(connectClaims[0].raw.has_value());
    EXPECT_TRUE(input->started);
    EXPECT_TRUE(logged("using Kestrix"));
    // The first claim went with the connection; an unchanged claim is not sent again.
    EXPECT_TRUE(input->claims.empty());
}

TEST_F(ScrollerTest, summaryLineWithDefaults) {
    make().start();
    EXPECT_TRUE(logged("settings: speed 1.0, scroll 3000.0 px/s, response balanced, tick 120.0 Hz, "
                       "zoom ×10.0/s, rotate 180.0°/s, momentum medium, diagonal true, "
                       "simultaneous zoom,rotate, own settings , on in , excluded "
                       "blender cockos-reaper com.autodesk.fusion360 com.cockos.reaper "
                       "com.google.GoogleEarthPro google-earth-pro org.blender.Blender "
                       "org.blenderfoundation.blender, new apps off"));
}

TEST_F(ScrollerTest, deviceListSetsConnectionAndLogsEachDevice) {
    make().start();
    input->deliver(Event::devices({}));
    EXPECT_EQ(scroller->connection().kind, Scroller::Connection::disconnected);
    EXPECT_TRUE(logged("devices: "));
    input->deliver(Event::devices({device("serial:A"), device("serial:B", std::nullopt)}));
    EXPECT_EQ(scroller->connection().kind, Scroller::Connection::connected);
    EXPECT_TRUE(logged("devices: SpaceMouse Compact serial:A (open, full scale 350), "
                       "SpaceMouse Compact serial:B (open, full scale unknown)"));
    EXPECT_EQ(scroller->connectionDescription().first, "SpaceMouse Compact, SpaceMouse Compact");
    EXPECT_EQ(scroller->connectionDescription().second, "Vantor (direct)");
}

// The broker's texts (a device's name and id, an app) are logged on one line and cut short.
TEST_F(ScrollerTest, theBrokersTextsAreLoggedOnOneLineAndCutShort) {
    make().start();
    kestrix::SpaceMouseDevice forged = device("serial:\x1B[2J");
    forged.name = "Mouse\nscroll: taking the SpaceMouse (frontmost org.forged)" +
                  std::string(1000, 'm');
    input->deliver(Event::devices({forged}));
    input->setAppsWithOwnClient({"org.a\rorg.b"});
    auto mentioned = [&](const std::string& part) {
        return std::count_if(logs.begin(), logs.end(), [&](const std::string& line) {
            return line.find(part) != std::string::npos;
        });
    };
    EXPECT_EQ(mentioned("devices: Mouse\\nscroll: taking the SpaceMouse (frontmost org.forged)"
                        "mmm"),
              1);
    EXPECT_EQ(mentioned(" serial:\\x1B[2J (open, full scale 350)"), 1);
    EXPECT_TRUE(logged("apps with their own client: org.a\\rorg.b"));
    EXPECT_EQ(mentioned("\n") + mentioned("\r") + mentioned("\x1B"), 0);
    EXPECT_EQ(mentioned(std::string(300, 'm')), 0);
}

TEST_F(ScrollerTest, connectionDescriptionTexts) {
    make().start();
    EXPECT_EQ(scroller->connectionDescription().first, "Looking for the SpaceMouse…");
    input->deliver(Event::unavailable("Kestrix could not be reached"));
    EXPECT_EQ(scroller->connectionDescription().first, "SpaceMouse not available");
    EXPECT_TRUE(logged("E Kestrix could not be reached"));
    EXPECT_EQ(scroller->connectionProblem(), "Kestrix could not be reached");
    auto d = device();
    d.state = "busy";
    input->deliver(Event::devices({d}));
    EXPECT_EQ(scroller->connectionDescription().second, "Not available");
    EXPECT_EQ(scroller->connectionProblem(), std::nullopt);
    d.state = "driver";
    input->deliver(Event::devices({d, device()}));
    EXPECT_EQ(scroller->connectionDescription().second, "spacenavd");
}

TEST_F(ScrollerTest, fullScaleFromListModelOrFallback) {
    running();
    sendAxes(0, 0);
    EXPECT_EQ(scroller->fullScale(), 350);
    input->deliver(Event::devices({device("serial:A", 0), device("serial:B", std::nullopt)}));
    sendAxes(0, 0, 0, 0, "serial:A");
    EXPECT_EQ(scroller->fullScale(), 1); // a reported 0 would divide by zero
    sendAxes(0, 0, 0, 0, "serial:B");
    EXPECT_GE(scroller->fullScale(), 1); // the model's own full scale
    sendAxes(0, 0, 0, 0, "serial:unknown");
    EXPECT_EQ(scroller->fullScale(), 350);
}

TEST_F(ScrollerTest, zeroAxesStartNoTick) {
    running();
    sendAxes(0, 0);
    EXPECT_FALSE(scroller->ticking());
    sendAxes(0, 100);
    EXPECT_TRUE(scroller->ticking());
}

TEST_F(ScrollerTest, takesDeviceOnlyWhileHoldingForAnAllowedAppInFront) {
    defaults->set("allowed_apps", "org.example.Editor");
    workspace->activate(RunningApp{"org.example.Editor", "Editor"});
    make().start();
    EXPECT_FALSE(scroller->takesDevice());
    input->deliver(Event::holding(true));
    EXPECT_TRUE(scroller->takesDevice());
    EXPECT_TRUE(logged("Kestrix gives the SpaceMouse"));
    EXPECT_TRUE(logged("taking the SpaceMouse (frontmost org.example.Editor)"));
    workspace->activate(RunningApp{"org.other.App", "Other"});
    EXPECT_FALSE(scroller->takesDevice());
    EXPECT_TRUE(logged("leaving the SpaceMouse (frontmost org.other.App)"));
    workspace->activate(std::nullopt);
    EXPECT_FALSE(scroller->takesDevice());
}

TEST_F(ScrollerTest, previewAddsOwnIdToClaimButOnlyTakesWhenOwnAppInFront) {
    workspace->activate(RunningApp{"org.other.App", "Other"});
    make().start();
    input->deliver(Event::holding(true));
    auto canvas = std::make_shared<RecordingSink>();
    scroller->setPreview(canvas, std::nullopt);
    ASSERT_FALSE(input->claims.empty());
    EXPECT_EQ(input->claims.back().apps, std::vector<std::string>{own});
    EXPECT_FALSE(scroller->postsToPreview());
    EXPECT_FALSE(scroller->takesDevice());

    workspace->activate(RunningApp{own, "Vantor"});
    EXPECT_TRUE(scroller->postsToPreview());
    EXPECT_TRUE(scroller->takesDevice());
    sendAxes(0, 350);
    loop.advance(0.05);
    EXPECT_FALSE(canvas->steps.empty());
    EXPECT_TRUE(poster->steps.empty());

    // Leaving the preview ends the running motion in the preview before switching sinks.
    scroller->setPreview(nullptr, std::nullopt);
    EXPECT_EQ(canvas->scrollPhases().back(), ScrollPhase::ended);
    EXPECT_TRUE(poster->steps.empty());
    EXPECT_EQ(input->claims.back().apps, std::vector<std::string>{});
}

TEST_F(ScrollerTest, appWithOwnClientIsLeftAlone) {
    defaults->set("new_apps_on", "1");
    make().start();
    input->setAppsWithOwnClient({"org.own.Client"});
    EXPECT_TRUE(logged("apps with their own client: org.own.Client"));
    workspace->activate(RunningApp{"org.own.Client", "Own"});
    EXPECT_TRUE(scroller->frontmostHasOwnClient());
    EXPECT_FALSE(scroller->settings().allowedApps.contains("org.own.Client"));
    input->setAppsWithOwnClient({});
    EXPECT_TRUE(logged("apps with their own client: none"));
}

TEST_F(ScrollerTest, newAppsOnSwitchesAppInFrontOnAndStoresIt) {
    defaults->set("new_apps_on", "1");
    make().start();
    workspace->activate(RunningApp{"org.new.App", "New"});
    EXPECT_TRUE(logged("SpaceMouse on for org.new.App: new apps start on"));
    EXPECT_TRUE(scroller->settings().allowedApps.contains("org.new.App"));
    EXPECT_EQ(defaults->get<std::string>("allowed_apps"), "org.new.App");
    EXPECT_EQ(input->claims.back().apps, std::vector<std::string>{"org.new.App"});
}

TEST_F(ScrollerTest, eventsOfAReplacedOrStoppedConnectionAreDropped) {
    running();
    auto handler = input->onEvent;
    auto stopped = input->stopped;
    scroller->stop();
    EXPECT_TRUE(*stopped);
    logs.clear();
    handler(Event::devices({}));
    EXPECT_TRUE(logs.empty());
}

TEST_F(ScrollerTest, disconnectedZeroesAxesAndEndsMotion) {
    running();
    sendAxes(0, 350);
    loop.advance(0.1);
    input->deliver(Event::disconnected());
    EXPECT_EQ(poster->scrollPhases().back(), ScrollPhase::ended);
    EXPECT_TRUE(scroller->axes().isZero());
    EXPECT_EQ(scroller->connection().kind, Scroller::Connection::starting);
    EXPECT_TRUE(logged("Kestrix gone; reconnecting"));
}

TEST_F(ScrollerTest, aStopSaysNothingOfKestrixGoingAway) {
    running();
    logs.clear();
    scroller->stop();
    EXPECT_FALSE(logged("Kestrix gone; reconnecting"));
}

TEST_F(ScrollerTest, perAppOperationsLogTheOverrides) {
    workspace->activate(RunningApp{"org.example.Editor", "Editor"});
    make().start();
    scroller->setForFrontmostApp(scroll::ScrollSettings::AppSetting::speed,
                                 [](scroll::ScrollSettings& s) { s.speed = 2.0; });
    EXPECT_TRUE(logged("own settings for org.example.Editor: [\"speed\": \"2.0\"]"));
    EXPECT_EQ(scroller->applied().speed, 2.0);
    scroller->followDefaultInFrontmostApp(std::nullopt);
    EXPECT_TRUE(logged("own settings for org.example.Editor: [:]"));
    EXPECT_FALSE(defaults->value("app_settings").has_value());
    scroller->setDeviceForFrontmostApp(false);
    EXPECT_TRUE(logged("SpaceMouse off for org.example.Editor"));
    EXPECT_TRUE(scroller->settings().excludedApps.contains("org.example.Editor"));
}

} // namespace
} // namespace vantor::testing
