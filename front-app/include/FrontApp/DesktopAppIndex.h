#pragma once

#include "FrontApp/FrontAppIdentity.h"

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace kestrix {
class MainLoop;
}

namespace kestrix::core {

// The installed apps of the application folders, as the identity rule needs them, so that naming
// the app in front reads no file. A watched index reads the folders on a worker thread, at start
// and again whenever inotify reports a change in them; each new reading comes back through the
// loop's post(). apps() is for the loop's thread only.
class DesktopAppIndex {
public:
    using Apps = std::vector<DesktopApp>;

    // Every desktop file of the folders and their subfolders, by the id the Apps tab gives it (see
    // desktopEntryFiles), without hidden (deleted) entries and ids that cannot be ids; sorted by
    // id. Reads every file: for the worker, and for fixed().
    static Apps read(const std::vector<std::string>& dirs);

    // Read once, when first asked, on the asking thread; never updated. For tests and tools.
    static std::shared_ptr<DesktopAppIndex> fixed(std::vector<std::string> dirs);
    // Read on a worker and kept up to date. When inotify cannot be had, read once on the worker.
    static std::shared_ptr<DesktopAppIndex> watched(MainLoop& loop, std::vector<std::string> dirs);

    virtual ~DesktopAppIndex() = default;

    // The latest reading; waits for the first one when it has not come yet.
    std::shared_ptr<const Apps> apps();

    // A new reading replaced the apps. Called on the loop.
    std::function<void()> onUpdate = [] {};

protected:
    explicit DesktopAppIndex(std::shared_future<std::shared_ptr<const Apps>> first)
        : first_(std::move(first)) {}
    void update(std::shared_ptr<const Apps> apps);

private:
    std::shared_future<std::shared_ptr<const Apps>> first_;
    std::shared_ptr<const Apps> current_;
};

} // namespace kestrix::core
