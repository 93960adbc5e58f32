// The Scroller's tick loop: while the cap moves (or the glide coasts), a fixed-rate timer turns
// the last axes into scroll and gesture steps for the current sink, and stops by itself once
// everything has come to rest.
#include "Vantor/Log.h"
#include "Vantor/Scroller.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vantor {

using scroll::Activity;
using scroll::GesturePhase;
using scroll::ScrollPhase;

namespace {

// Gaps between ticks longer than this are cut, so a stalled main loop makes no huge step.
constexpr double maxDeltaTime = 0.1;
// Axes older than this count as zero: motion cannot run away when reports stop.
constexpr double staleAxes = 0.25;

} // namespace

void Scroller::startTicking() {
    if (ticking_) return;
    if (!warnedPermission_ && !system_.hasPermission()) {
        warnedPermission_ = true;
        Log::error("no permission to post events: " + permissionAdvice());
    }
    ticking_ = true;
    lastTick_.reset();
    // The axes are only used at the tick: while it runs, the broker's messages are read there,
    // all that came since the last one at once, rather than at the device's report rate.
    if (kestrix_) kestrix_->holdReading(true);
    std::weak_ptr<Scroller*> weak = self_;
    ticker_->start(1.0 / settings_.tickRate, [weak] {
        if (auto self = weak.lock(); self && *self) (*self)->tick();
    });
}

void Scroller::tick() {
    if (kestrix_) kestrix_->readWaiting();
    if (!ticking_) return;
    double now = system_.now();
    // The first tick after a start moves by one nominal period (taken directly rather than as
    // now minus (now - period), which loses the period's last bits).
    double dt = std::min(lastTick_ ? now - *lastTick_ : 1.0 / settings_.tickRate, maxDeltaTime);
    lastTick_ = now;
    diagnostics_.ticks += 1;

    smk::SpaceMouseAxes input{};
    if (takesDevice_)
        input = axes_;
    else
        glide_.reset();
    if (now - axesTime_ > staleAxes) input = {};

    auto preset = applied_.shaping();
    scroll::RoleValues values = preset.shaped(input, fullScale_).roleValues(applied_.mapping);

    scroll::GestureKindSet running;
    for (const auto& motion : gestures_)
        if (motion.active) running.insert(motion.kind);
    scroll::ActivitySet activities = values.activities(running, applied_.simultaneous);

    if (!activities.contains(Activity::scroll)) endScroll();
    for (auto kind : GestureKind::allCases())
        if (!activities.contains(kind.activity()))
            for (const auto& step : gestures_[kind].end())
                emit(step, kind);

    bool scrolling = activities.contains(Activity::scroll) && scroll(values, dt);
    for (auto kind : GestureKind::allCases())
        if (activities.contains(kind.activity())) drive(kind, values[kind.role()], dt);

    if (!scrolling && !values.isMoving()) cameToRest();
}

bool Scroller::scroll(const scroll::RoleValues& values, double dt) {
    using Role = scroll::AxisMapping::Role;
    double speed = applied_.effectiveScrollSpeed();
    auto velocity =
        glide_.apply(values[Role::horizontal] * speed, values[Role::vertical] * speed, dt);
    if (velocity.coasting) {
        diagnostics_.coastSeconds += dt;
        diagnostics_.coastPixels += dt * std::hypot(velocity.x, velocity.y);
    }
    for (const auto& step : motion_.step(velocity.x, velocity.y, dt, velocity.coasting))
        emit(step);
    return velocity.x != 0 || velocity.y != 0;
}

void Scroller::drive(GestureKind kind, double value, double dt) {
    for (const auto& step : gestures_[kind].step(value * applied_.rate(kind), dt))
        emit(step, kind);
}

void Scroller::endScroll() {
    glide_.reset();
    for (const auto& step : motion_.end())
        emit(step);
}

void Scroller::endGesture() {
    endScroll();
    for (auto kind : GestureKind::allCases())
        for (const auto& step : gestures_[kind].end())
            emit(step, kind);
}

void Scroller::cameToRest() {
    ticker_->stop();
    ticking_ = false;
    if (kestrix_) kestrix_->holdReading(false);
    lastTick_.reset();
    if (settings_.diagnostics) Log::info(diagnostics_.flush(system_.now()));
}

EventPosting& Scroller::sink() {
    if (postsToPreview_ && preview_) return *preview_->first;
    return *poster_;
}

void Scroller::emit(const scroll::ScrollStep& step) {
    if (settings_.diagnostics) {
        if (step.phase == ScrollPhase::began) diagnostics_.start = system_.now();
        diagnostics_.events += 1;
        diagnostics_.pixelsX += step.x;
        diagnostics_.pixelsY += step.y;
        if (step.phase != ScrollPhase::changed && step.phase != ScrollPhase::momentumChanged)
            Log::info(std::string("gesture ") + caseName(step.phase));
    }
    sink().post(step);
}

void Scroller::emit(const scroll::GestureStep& step, GestureKind kind) {
    if (settings_.diagnostics) {
        if (step.phase == GesturePhase::began) diagnostics_.start = system_.now();
        diagnostics_.events += 1;
        if (kind == GestureKind::zoom)
            diagnostics_.zoomFactor *= 1 + step.amount;
        else
            diagnostics_.rotationDegrees += step.amount;
        if (step.phase != GesturePhase::changed)
            Log::info(std::string(kind == GestureKind::zoom ? "pinch " : "rotation ") +
                      caseName(step.phase));
    }
    sink().post(step, kind);
}

std::string Scroller::Diagnostics::flush(double now) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "%.2f s: %lld axis events, %lld ticks, %lld scroll events, %lld px x, %lld px y, "
                  "coasting %.2f s %.0f px, zoom ×%.2f, rotation %.0f°",
                  now - start, axisEvents, ticks, events, pixelsX, pixelsY, coastSeconds,
                  coastPixels, zoomFactor, rotationDegrees);
    *this = Diagnostics{};
    start = now;
    return line;
}

} // namespace vantor
