#pragma once

// Simulated services for the Scroller: a broker connection driven by the test, a sink that
// records steps, user defaults in a temporary file, virtual time.

#include "KestrixProtocol/UserDefaults.h"
#include "KestrixProtocol/VirtualMainLoop.h"
#include "ScrollerFakes.h"
#include "Vantor/DispatchTicker.h"
#include "Vantor/Log.h"
#include "Vantor/Scroller.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace vantor::testing {

class ScrollerTest : public ::testing::Test {
protected:
    static constexpr const char* own = "me.orvella.Vantor";

    ScrollerTest() {
        folder_ = std::filesystem::temp_directory_path() /
                  ("vantor-scroller-" + std::to_string(::getpid()) + "-" +
                   std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::create_directories(folder_);
        defaults = std::make_unique<kestrix::UserDefaults>((folder_ / "vantor.json").string());
        Log::setSink([this](Log::Level level, std::string_view line) {
            logs.push_back((level == Log::Level::error ? "E " : "") + std::string(line));
        });
    }
    ~ScrollerTest() override {
        scroller.reset();
        Log::setSink({});
        std::filesystem::remove_all(folder_);
    }

    // Makes the Scroller with these services (not started).
    Scroller& make() {
        ScrollerSystem system;
        system.defaults = defaults.get();
        system.now = [this] { return loop.now(); };
        system.makeTicker = [this]() -> std::unique_ptr<Ticking> {
            if (!manualTicks) return std::make_unique<DispatchTicker>(loop);
            auto ticker = std::make_unique<ManualTicker>();
            manual = ticker.get();
            return ticker;
        };
        system.connect = [this](const kestrix::Claim& claim) -> std::unique_ptr<SpaceMouseInput> {
            connectClaims.push_back(claim);
            auto fake = std::make_unique<FakeInput>();
            input = fake.get();
            return fake;
        };
        system.poster = poster;
        system.ownBundleID = own;
        system.hasPermission = [this] { return permission; };
        if (permissionAdvice) system.permissionAdvice = [this] { return *permissionAdvice; };
        system.workspace = workspace;
        scroller = std::make_unique<Scroller>(system);
        return *scroller;
    }

    // Started, holding, with `app` in front and switched on.
    Scroller& running(const std::string& app = "org.example.Editor") {
        defaults->set("allowed_apps", app);
        workspace->activate(RunningApp{app, "Editor"});
        make().start();
        input->deliver(SpaceMouseInput::Event::devices({device()}));
        input->deliver(SpaceMouseInput::Event::holding(true));
        return *scroller;
    }

    static kestrix::SpaceMouseDevice device(std::string id = "serial:A",
                                            std::optional<std::int64_t> fullScale = 350) {
        kestrix::SpaceMouseDevice d;
        d.id = std::move(id);
        d.vendorID = 0x256f;
        d.productID = 0xc635;
        d.name = "SpaceMouse Compact";
        d.transport = "USB";
        d.state = "open";
        d.axisFullScale = fullScale;
        return d;
    }

    void sendAxes(int x, int y, int z = 0, int rz = 0, std::string id = "serial:A") {
        smk::SpaceMouseAxes axes{};
        axes.x = x;
        axes.y = y;
        axes.z = z;
        axes.rz = rz;
        input->deliver(SpaceMouseInput::Event::axes(axes, std::move(id)));
    }

    bool logged(const std::string& line) const {
        return std::find(logs.begin(), logs.end(), line) != logs.end();
    }

    kestrix::VirtualMainLoop loop{1000.0};
    std::unique_ptr<kestrix::UserDefaults> defaults;
    std::shared_ptr<SimulatedWorkspace> workspace = std::make_shared<SimulatedWorkspace>();
    std::shared_ptr<RecordingSink> poster = std::make_shared<RecordingSink>();
    std::unique_ptr<Scroller> scroller;
    FakeInput* input = nullptr;
    std::vector<kestrix::Claim> connectClaims;
    std::vector<std::string> logs;
    bool permission = true;
    std::optional<std::string> permissionAdvice; // unset: the Scroller's own
    bool manualTicks = false; // make() uses a ManualTicker instead of the loop's timer
    ManualTicker* manual = nullptr;

private:
    std::filesystem::path folder_;
};

} // namespace vantor::testing
