#include "FrontApp/DesktopAppIndex.h"

#include "FrontApp/DesktopEntry.h"
#include "KestrixProtocol/MainLoop.h"

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace kestrix::core {

DesktopAppIndex::Apps DesktopAppIndex::read(const std::vector<std::string>& dirs) {
    Apps apps;
    for (const auto& [id, path] : desktopEntryFiles(dirs)) {
        if (!FrontAppIdentity::isID(id)) continue;
        auto entry = DesktopEntry::read(path);
        // A hidden entry stands for a deleted one.
        if (!entry || entry->flag("Hidden")) continue;
        apps.push_back({id, entry->value("StartupWMClass").value_or("")});
    }
    return apps;
}

std::shared_ptr<const DesktopAppIndex::Apps> DesktopAppIndex::apps() {
    if (!current_) current_ = first_.get();
    return current_;
}

void DesktopAppIndex::update(std::shared_ptr<const Apps> apps) {
    current_ = std::move(apps);
    onUpdate();
}

namespace {

class FixedDesktopAppIndex final : public DesktopAppIndex {
public:
    explicit FixedDesktopAppIndex(std::vector<std::string> dirs)
        : DesktopAppIndex(std::async(std::launch::deferred, [dirs = std::move(dirs)] {
                              return std::make_shared<const Apps>(read(dirs));
                          }).share()) {}
};

// The folders to watch: each application folder and its subfolders (as deep as desktop files are
// looked for), and for a folder that does not exist yet, its parent, where it would appear.
struct Folders {
    std::vector<std::string> folders;
    std::map<std::string, std::string> parents; // parent -> the missing folder's name
};

Folders foldersOf(const std::vector<std::string>& dirs) {
    namespace fs = std::filesystem;
    Folders out;
    for (const auto& dir : dirs) {
        std::error_code error;
        if (!fs::is_directory(dir, error)) {
            fs::path path(dir);
            if (fs::is_directory(path.parent_path(), error))
                out.parents[path.parent_path().string()] = path.filename().string();
            continue;
        }
        out.folders.push_back(dir);
        fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied,
                                            error);
        if (error) continue;
        for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
            if (error) break;
            if (it.depth() > 4) it.disable_recursion_pending();
            if (it->is_directory(error)) out.folders.push_back(it->path().string());
        }
    }
    return out;
}

class WatchedDesktopAppIndex final : public DesktopAppIndex {
public:
    WatchedDesktopAppIndex(MainLoop& loop, std::vector<std::string> dirs,
                           std::promise<std::shared_ptr<const Apps>> first)
        : DesktopAppIndex(first.get_future().share())
        , loop_(loop)
        , dirs_(std::move(dirs))
        , firstReading_(std::move(first))
        , inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (inotify_ >= 0) watch_ = loop_.watchReadable(inotify_, [this] { readEvents(); });
        worker_ = std::thread([this] { work(); });
    }

    ~WatchedDesktopAppIndex() override {
        *alive_ = false;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        worker_.join();
        watch_.reset();
        if (inotify_ >= 0) ::close(inotify_);
    }

private:
    void request() {
        {
            std::lock_guard lock(mutex_);
            requested_ = true;
        }
        wake_.notify_one();
    }

    // On the worker: watch the folders first, so that a change made while they are read asks
    // for another reading.
    void work() {
        std::unique_lock lock(mutex_);
        for (bool first = true;; first = false) {
            wake_.wait(lock, [&] { return requested_ || stopping_ || first; });
            if (stopping_) return;
            requested_ = false;
            lock.unlock();
            watchFolders();
            auto apps = std::make_shared<const Apps>(read(dirs_));
            if (first) firstReading_.set_value(apps);
            std::weak_ptr<bool> alive = alive_;
            loop_.post([this, alive, apps] {
                if (auto a = alive.lock(); a && *a) update(apps);
            });
            lock.lock();
        }
    }

    void watchFolders() {
        if (inotify_ < 0) return;
        Folders folders = foldersOf(dirs_);
        constexpr std::uint32_t changes = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE |
                                          IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF |
                                          IN_MOVE_SELF;
        std::map<int, std::string> parents;
        for (const auto& folder : folders.folders)
            ::inotify_add_watch(inotify_, folder.c_str(), changes);
        for (const auto& [parent, name] : folders.parents) {
            int wd = ::inotify_add_watch(inotify_, parent.c_str(),
                                         IN_CREATE | IN_MOVED_TO | IN_MASK_ADD);
            if (wd >= 0) parents[wd] = name;
        }
        std::lock_guard lock(mutex_);
        parents_ = std::move(parents);
    }

    // On the loop: any change in an application folder, or the arrival of a missing one, asks
    // for a new reading. Changes that come together make one.
    void readEvents() {
        alignas(inotify_event) char buffer[16384];
        bool changed = false;
        for (;;) {
            ssize_t length = ::read(inotify_, buffer, sizeof buffer);
            if (length <= 0) break;
            std::lock_guard lock(mutex_);
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                auto parent = parents_.find(event->wd);
                if (parent == parents_.end())
                    changed = true;
                else if (event->len > 0 && parent->second == event->name)
                    changed = true;
            }
        }
        if (changed) request();
    }

    MainLoop& loop_;
    const std::vector<std::string> dirs_;
    std::promise<std::shared_ptr<const Apps>> firstReading_;
    int inotify_;
    std::unique_ptr<Watch> watch_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    std::mutex mutex_;
    std::condition_variable wake_;
    bool requested_ = false;
    bool stopping_ = false;
    std::map<int, std::string> parents_; // watches of parents of missing folders
    std::thread worker_;
};

} // namespace

std::shared_ptr<DesktopAppIndex> DesktopAppIndex::fixed(std::vector<std::string> dirs) {
    return std::make_shared<FixedDesktopAppIndex>(std::move(dirs));
}

std::shared_ptr<DesktopAppIndex> DesktopAppIndex::watched(MainLoop& loop,
                                                          std::vector<std::string> dirs) {
    return std::make_shared<WatchedDesktopAppIndex>(loop, std::move(dirs),
                                                    std::promise<std::shared_ptr<const Apps>>());
}

} // namespace kestrix::core
