#include "Vantor/Workspace.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "KestrixCore/FrontApp.h"
#include "Vantor/Log.h"

namespace vantor {

namespace {

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
        if (!dir.empty() && dir.front() == '/')
            dirs.push_back(dir + "/applications");
    return dirs;
}

// The Name of the [Desktop Entry] group of the app's desktop file, if one is installed.
std::optional<std::string> desktopName(const std::string& id) {
    for (const auto& dir : applicationDirs()) {
        std::ifstream file(dir + "/" + id + ".desktop");
        if (!file)
            continue;
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

// The desktop's app in front, from the broker library's X11 watcher.
class DesktopWorkspace final : public Workspace {
public:
    explicit DesktopWorkspace(std::unique_ptr<kestrix::core::FrontApp> front)
        : front_(std::move(front)) {
        front_->onActivate = [this] {
            if (onActivate)
                onActivate(frontmost());
        };
    }

    std::optional<RunningApp> frontmost() override {
        auto app = front_->frontmost();
        if (!app)
            return std::nullopt;
        RunningApp running{app->bundleID, std::nullopt};
        if (app->bundleID)
            running.name = desktopName(*app->bundleID).value_or(*app->bundleID);
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
