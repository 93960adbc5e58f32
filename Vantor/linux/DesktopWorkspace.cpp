#include "DesktopEntry.h"
#include "KestrixCore/FrontApp.h"
#include "KestrixCore/FrontAppIdentity.h"
#include "Vantor/Log.h"
#include "Vantor/Workspace.h"

#include <fstream>
#include <string_view>
#include <vector>

namespace vantor {

std::optional<std::string> desktopEntryName(const std::string& id,
                                            const std::vector<std::string>& dirs) {
    for (const auto& dir : dirs) {
        std::ifstream file(dir + "/" + id + ".desktop");
        if (!file) continue;
        bool inEntry = false;
        for (std::string line; std::getline(file, line);) {
            if (!line.empty() && line.front() == '[')
                inEntry = line == "[Desktop Entry]";
            else if (inEntry && line.rfind("Name=", 0) == 0)
                return line.substr(5);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

namespace {

// The desktop's app in front, from the broker library's X11 watcher.
class DesktopWorkspace final : public Workspace {
public:
    explicit DesktopWorkspace(std::unique_ptr<kestrix::core::FrontApp> front)
        : front_(std::move(front)) {
        front_->onActivate = [this] {
            if (onActivate) onActivate(frontmost());
        };
    }

    std::optional<RunningApp> frontmost() override {
        auto app = front_->frontmost();
        if (!app) return std::nullopt;
        RunningApp running{app->bundleID, std::nullopt};
        if (app->bundleID)
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

std::unique_ptr<Workspace> makeDesktopWorkspace(kestrix::MainLoop& loop) {
    return std::make_unique<DesktopWorkspace>(
        kestrix::core::makeFrontApp(loop, [](const std::string& line) { Log::info(line); }));
}

} // namespace vantor
