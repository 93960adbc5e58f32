#include "ScrollerTestSupport.h"

#include <numeric>

namespace vantor::testing {
namespace {

using Event = SpaceMouseInput::Event;
using scroll::GesturePhase;
using scroll::ScrollPhase;

long long pixelsY(const RecordingSink& sink) {
    long long total = 0;
    for (const auto& posted : sink.steps)
        if (auto step = posted.scroll()) total += step->y;
    return total;
}

TEST_F(ScrollerTest, pushAndReleaseScrollsThenGlidesToRest) {
    running();
    sendAxes(0, 350);
    EXPECT_TRUE(scroller->ticking());
    EXPECT_TRUE(input->held); // read at the tick while it runs
    loop.advance(0.2);
    EXPECT_EQ(input->waitingReads, 25); // the first tick at once, then 24 in 0.2 s
    sendAxes(0, 0);
    loop.advance(3.0);
    EXPECT_FALSE(scroller->ticking());
    EXPECT_FALSE(input->held);

    auto phases = poster->scrollPhases();
    ASSERT_GE(phases.size(), 6u);
    EXPECT_EQ(phases.front(), ScrollPhase::began);
    auto ended = std::find(phases.begin(), phases.end(), ScrollPhase::ended);
    ASSERT_NE(ended, phases.end());
    EXPECT_TRUE(
        std::all_of(phases.begin() + 1, ended, [](auto p) { return p == ScrollPhase::changed; }));
    ASSERT_LT(ended + 1, phases.end());
    EXPECT_EQ(*(ended + 1), ScrollPhase::momentumBegan);
    EXPECT_EQ(phases.back(), ScrollPhase::momentumEnded);
    EXPECT_TRUE(std::all_of(ended + 2, phases.end() - 1,
                            [](auto p) { return p == ScrollPhase::momentumChanged; }));
    EXPECT_EQ(loop.pendingTimers(), 0u); // the timer stopped by itself
}

TEST_F(ScrollerTest, firstTickStepsOneNominalPeriodAndLongGapsAreCut) {
    defaults->set("momentum_preset", "off"); // the glide passes the input through
    manualTicks = true;
    running();
    sendAxes(0, 350); // full deflection: 3000 px/s
    ASSERT_TRUE(manual->tick);
    EXPECT_DOUBLE_EQ(manual->interval, 1.0 / 120);
    manual->tick();
    EXPECT_EQ(pixelsY(*poster), 25); // one nominal period: 3000 / 120
    poster->steps.clear();
    loop.advance(0.2);
    sendAxes(0, 350);
    manual->tick(); // 0.2 s after the previous tick: cut to 0.1 s
    EXPECT_EQ(pixelsY(*poster), 300);
}

TEST_F(ScrollerTest, tickerRunsAtTheTickRateAndStartsOnce) {
    defaults->set("tick_rate", "60");
    manualTicks = true;
    running();
    sendAxes(0, 350);
    sendAxes(0, 300);
    EXPECT_EQ(manual->starts, 1);
    EXPECT_DOUBLE_EQ(manual->interval, 1.0 / 60);
}

TEST_F(ScrollerTest, staleAxesCountAsZeroAndTheGlideTakesOver) {
    running();
    sendAxes(0, 350);
    loop.advance(0.2);
    // No axes for 0.3 s while the cap is still deflected: the scroll ends and momentum begins.
    loop.advance(0.3);
    auto phases = poster->scrollPhases();
    EXPECT_NE(std::find(phases.begin(), phases.end(), ScrollPhase::ended), phases.end());
    EXPECT_NE(std::find(phases.begin(), phases.end(), ScrollPhase::momentumBegan), phases.end());
}

TEST_F(ScrollerTest, losingTheDeviceMidGlideEndsWithoutMomentum) {
    running();
    sendAxes(0, 350);
    loop.advance(0.2);
    sendAxes(0, 0);
    loop.advance(0.05); // gliding now
    ASSERT_EQ(poster->scrollPhases().back(), ScrollPhase::momentumChanged);
    input->deliver(Event::holding(false));
    EXPECT_FALSE(scroller->takesDevice());
    EXPECT_EQ(poster->scrollPhases().back(), ScrollPhase::momentumEnded);
    EXPECT_TRUE(logged("Kestrix takes the SpaceMouse back"));
    std::size_t count = poster->steps.size();
    loop.advance(1.0);
    EXPECT_EQ(poster->steps.size(), count); // no momentum after the device is gone
    EXPECT_FALSE(scroller->ticking());
}

TEST_F(ScrollerTest, zoomEndsWhenScrollTakesTheLead) {
    running();
    sendAxes(0, 0, 350); // push: zoom
    loop.advance(0.1);
    ASSERT_FALSE(poster->steps.empty());
    sendAxes(0, 350, 0); // now a slide: scroll leads, zoom ends on this tick
    loop.advance(1.0 / 120);
    bool zoomEnded = false;
    for (const auto& posted : poster->steps)
        if (auto gesture =
                std::get_if<std::pair<scroll::GestureStep, scroll::GestureKind>>(&posted.step))
            zoomEnded = zoomEnded || (gesture->second == scroll::GestureKind::zoom &&
                                      gesture->first.phase == GesturePhase::ended);
    EXPECT_TRUE(zoomEnded);
}

TEST_F(ScrollerTest, missingPermissionIsLoggedOnceAndPostingGoesOn) {
    permission = false;
    running();
    sendAxes(0, 350);
    loop.advance(0.2);
    sendAxes(0, 0);
    loop.advance(3.0);
    sendAxes(0, 350);
    loop.advance(0.1);
    auto errors = std::count_if(logs.begin(), logs.end(), [](const std::string& line) {
        return line.rfind("E no permission to post events", 0) == 0;
    });
    EXPECT_EQ(errors, 1);
    EXPECT_FALSE(poster->steps.empty());
}

// The log says what would let Vantor post: the system knows whether the module or the rule is
// missing.
TEST_F(ScrollerTest, missingPermissionLogsWhatLetsVantorPost) {
    const std::string rule = "install the udev rule that lets you write /dev/uinput";
    const std::string module = "/dev/uinput is missing: load the uinput module (sudo modprobe uinput)";
    struct Case {
        std::optional<std::string> advice;
        std::string says;
    };
    for (const Case& c : std::initializer_list<Case>{{std::nullopt, rule}, {rule, rule},
                                                     {module, module}}) {
        SCOPED_TRACE(c.says);
        scroller.reset();
        logs.clear();
        permission = false;
        permissionAdvice = c.advice;
        running();
        sendAxes(0, 350);
        loop.advance(0.1);
        EXPECT_TRUE(logged("no permission to post events yet; " + c.says));
        EXPECT_TRUE(logged("E no permission to post events: " + c.says));
    }
}

TEST_F(ScrollerTest, diagnosticsLogPhasesAndFlushOnRest) {
    defaults->set("diagnostics", "1");
    defaults->set("momentum_preset", "off");
    running();
    sendAxes(0, 350);
    loop.advance(0.1);
    sendAxes(0, 0);
    loop.advance(0.1);
    EXPECT_TRUE(logged("gesture began"));
    EXPECT_TRUE(logged("gesture ended"));
    auto flush = std::find_if(logs.begin(), logs.end(), [](const std::string& line) {
        return line.find(" axis events, ") != std::string::npos;
    });
    ASSERT_NE(flush, logs.end());
    EXPECT_NE(flush->find("2 axis events"), std::string::npos) << *flush;
    EXPECT_NE(flush->find("px x, "), std::string::npos);
    EXPECT_NE(flush->find("zoom ×1.00, rotation 0°"), std::string::npos) << *flush;
    EXPECT_EQ(scroller->diagnostics().events, 0); // reset by the flush
}

TEST_F(ScrollerTest, aHugeStoredScrollSpeedStillComesToRest) {
    // Each value is accepted on its own, but their product is beyond the largest double.
    defaults->set("scroll_speed", "1e308");
    defaults->set("speed", "4");
    // Without a glide the release must end the scroll on the next tick (a glide from such a speed
    // takes minutes to fall below its stop speed).
    defaults->set("momentum_preset", "off");
    running();
    sendAxes(0, 350);
    loop.advance(0.2);
    sendAxes(0, 0);
    loop.advance(1.0);
    EXPECT_FALSE(scroller->ticking());
    EXPECT_EQ(loop.pendingTimers(), 0u);
    auto phases = poster->scrollPhases();
    ASSERT_FALSE(phases.empty());
    EXPECT_EQ(phases.front(), ScrollPhase::began);
    EXPECT_EQ(phases.back(), ScrollPhase::ended);
}

TEST(ScrollerDiagnostics, flushLineFormat) {
    Scroller::Diagnostics d;
    d.axisEvents = 12;
    d.ticks = 30;
    d.events = 9;
    d.pixelsX = -4;
    d.pixelsY = 250;
    d.coastSeconds = 0.456;
    d.coastPixels = 80.4;
    d.zoomFactor = 1.234;
    d.rotationDegrees = -12.6;
    d.start = 10;
    EXPECT_EQ(d.flush(11.5), "1.50 s: 12 axis events, 30 ticks, 9 scroll events, -4 px x, "
                             "250 px y, coasting 0.46 s 80 px, zoom ×1.23, rotation -13°");
    EXPECT_EQ(d.axisEvents, 0);
    EXPECT_EQ(d.zoomFactor, 1);
    EXPECT_EQ(d.start, 11.5);
}

} // namespace
} // namespace vantor::testing
