#include "DesktopEntry.h"
#include "KestrixCore/FrontApp.h"
#include "Vantor/Log.h"
#include "Vantor/Workspace.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace vantor {

std::vector<std::string> applicationDirs() {
    std::vector<std::string> dirs;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome == '/')
        dirs.push_back(std::string(dataHome) + "/applications");
    else if (home)
        dirs.push_back(std::string(home) + "/.local/share/applications");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    std::stringstream stream(list);
    for (std::string dir; std::getline(stream, dir, ':');)
        if (!dir.empty() && dir.front() == '/') dirs.push_back(dir + "/applications");
    return dirs;
}

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
                desktopEntryName(*app->bundleID, applicationDirs()).value_or(*app->bundleID);
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
