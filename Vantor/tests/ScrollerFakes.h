#pragma once

// Simulated services for the Scroller: a broker connection driven by the caller, a ticker fired
// by hand, and a sink that records steps. Used by the tests and the benchmarks.

#include "Vantor/DispatchTicker.h"
#include "Vantor/EventPosting.h"
#include "Vantor/SpaceMouseInput.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vantor::testing {

class FakeInput final : public SpaceMouseInput {
public:
    void setOnEvent(std::function<void(const Event&)> handler) override { onEvent = handler; }
    void setOnAppsWithOwnClient(std::function<void(const std::set<std::string>&)> h) override {
        onApps = h;
    }
    const std::vector<kestrix::SpaceMouseDevice>& devices() const override { return devices_; }
    bool holds() const override { return holds_; }
    const std::set<std::string>& appsWithOwnClient() const override { return apps_; }
    void start() override { started = true; }
    // As the broker connection does, a stop reports the disconnection at once.
    void stop() override {
        *stopped = true;
        if (onEvent) onEvent(Event::disconnected());
    }
    void setClaim(const kestrix::Claim& claim) override { claims.push_back(claim); }
    void holdReading(bool hold) override { held = hold; }
    void readWaiting() override { ++waitingReads; }
    bool held = false;
    int waitingReads = 0;

    // Delivers an event the way the connection does, updating its own state first.
    void deliver(const Event& event) {
        if (auto holding = event.as<Event::Holding>()) holds_ = holding->holds;
        if (auto devices = event.as<Event::Devices>()) devices_ = devices->list;
        if (onEvent) onEvent(event);
    }
    void setAppsWithOwnClient(std::set<std::string> apps) {
        apps_ = std::move(apps);
        if (onApps) onApps(apps_);
    }

    std::function<void(const Event&)> onEvent;
    std::function<void(const std::set<std::string>&)> onApps;
    std::vector<kestrix::Claim> claims;
    bool started = false;
    // Shared, so a test can still read it once the Scroller has dropped the connection.
    std::shared_ptr<bool> stopped = std::make_shared<bool>(false);

private:
    std::vector<kestrix::SpaceMouseDevice> devices_;
    bool holds_ = false;
    std::set<std::string> apps_;
};

// A ticker the test fires by hand.
class ManualTicker final : public Ticking {
public:
    void start(double interval, std::function<void()> tick) override {
        this->interval = interval;
        this->tick = std::move(tick);
        starts += 1;
    }
    void stop() override { tick = nullptr; }
    double interval = 0;
    int starts = 0;
    std::function<void()> tick;
};

// A step as a sink saw it.
struct Posted {
    std::variant<scroll::ScrollStep, std::pair<scroll::GestureStep, scroll::GestureKind>> step;
    const scroll::ScrollStep* scroll() const { return std::get_if<scroll::ScrollStep>(&step); }
};

class RecordingSink final : public EventPosting {
public:
    void post(const scroll::ScrollStep& step) override { steps.push_back({step}); }
    void post(const scroll::GestureStep& step, scroll::GestureKind kind) override {
        steps.push_back({std::make_pair(step, kind)});
    }
    std::vector<scroll::ScrollPhase> scrollPhases() const {
        std::vector<scroll::ScrollPhase> out;
        for (const auto& posted : steps)
            if (auto step = posted.scroll()) out.push_back(step->phase);
        return out;
    }
    std::vector<Posted> steps;
};

} // namespace vantor::testing
