#include "FrontApp/DesktopEntry.h"
#include "FrontApp/FrontApp.h"
#include "FrontApp/FrontAppIdentity.h"
#include "Vantor/Log.h"
#include "Vantor/Workspace.h"

#include <string_view>
#include <vector>

namespace vantor {

using kestrix::core::desktopEntryName;

namespace {

// The desktop's app in front, from the front-app library's source for the session.
class DesktopWorkspace final : public Workspace {
public:
    explicit DesktopWorkspace(std::unique_ptr<kestrix::core::FrontApp> front)
        : front_(std::move(front)) {
        front_->onActivate = [this] {
            if (onActivate) onActivate(frontmost());
        };
        front_->onStatusChange = [this] {
            Log::info(front_->status().logLine());
            if (onStatusChange) onStatusChange();
        };
    }

    kestrix::core::FrontAppStatus status() const override { return front_->status(); }

    std::optional<RunningApp> frontmost() override {
        auto app = front_->frontmost();
        if (!app) return std::nullopt;
        RunningApp running{app->bundleID, app->name};
        if (app->bundleID && !running.name)
            running.name =
                desktopEntryName(*app->bundleID,
                                 kestrix::core::FrontAppIdentity::standardApplicationDirs())
                    .value_or(*app->bundleID);
        return running;
    }

private:
    std::unique_ptr<kestrix::core::FrontApp> front_;
};

} // namespace

std::unique_ptr<Workspace> makeDesktopWorkspace(kestrix::MainLoop& loop,
                                                std::optional<std::string> ownApp) {
    return std::make_unique<DesktopWorkspace>(kestrix::core::makeFrontApp(
        loop, [](const std::string& line) { Log::info(line); }, std::move(ownApp)));
}

} // namespace vantor
