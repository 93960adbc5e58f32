#include "FrontApp/DesktopAppIndex.h"

#include "FrontApp/DesktopEntry.h"
#include "KestrixProtocol/MainLoop.h"

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
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
// looked for), and for a folder that does not exist yet, its nearest folder that does, with the
// name of the next level on the way, where the missing one would begin to appear (a new account
// may lack ~/.local/share and more).
struct Folders {
    std::vector<std::string> folders;
    std::map<std::string, std::set<std::string>> awaited; // existing folder -> names on the way
};

Folders foldersOf(const std::vector<std::string>& dirs) {
    namespace fs = std::filesystem;
    Folders out;
    for (const auto& dir : dirs) {
        std::error_code error;
        if (!fs::is_directory(dir, error)) {
            fs::path missing = fs::path(dir).lexically_normal();
            if (!missing.has_filename()) missing = missing.parent_path();
            for (fs::path up = missing.parent_path(); !up.empty(); up = up.parent_path()) {
                if (fs::is_directory(up, error)) {
                    out.awaited[up.string()].insert(missing.filename().string());
                    break;
                }
                if (up == up.parent_path()) break;
                missing = up;
            }
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

    // Watches what foldersOf names and drops the watches no longer needed. A level that appears
    // between looking and watching is not missed: the folders are looked at again until they
    // stay the same.
    void watchFolders() {
        if (inotify_ < 0) return;
        constexpr std::uint32_t changes = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE |
                                          IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF |
                                          IN_MOVE_SELF;
        constexpr std::uint32_t arrivals = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
        Folders folders = foldersOf(dirs_);
        std::set<int> watched;
        std::map<int, std::set<std::string>> awaited;
        // Each round finds at least one more level, and a path has only so many.
        for (int round = 0; round < 64; ++round) {
            watched.clear();
            awaited.clear();
            for (const auto& folder : folders.folders) {
                int wd = ::inotify_add_watch(inotify_, folder.c_str(), changes);
                if (wd >= 0) watched.insert(wd);
            }
            for (const auto& [folder, names] : folders.awaited) {
                int wd = ::inotify_add_watch(inotify_, folder.c_str(), arrivals | IN_MASK_ADD);
                if (wd >= 0) awaited[wd].insert(names.begin(), names.end());
            }
            Folders now = foldersOf(dirs_);
            if (now.folders == folders.folders && now.awaited == folders.awaited) break;
            folders = std::move(now);
        }
        std::lock_guard lock(mutex_);
        for (const auto& [wd, names] : watches_.awaited)
            if (!watched.count(wd) && !awaited.count(wd)) ::inotify_rm_watch(inotify_, wd);
        for (int wd : watches_.folders)
            if (!watched.count(wd) && !awaited.count(wd)) ::inotify_rm_watch(inotify_, wd);
        watches_ = {std::move(watched), std::move(awaited)};
    }

    // On the loop: any change in an application folder, or the arrival of a level on the way to
    // a missing one, asks for a new reading. Changes that come together make one.
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
                if (watches_.folders.count(event->wd)) {
                    changed = true;
                    continue;
                }
                auto awaited = watches_.awaited.find(event->wd);
                if (awaited == watches_.awaited.end()) continue;
                if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF))
                    changed = true;
                else if (event->len > 0 && awaited->second.count(event->name))
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
    // The watches: of the application folders, and of the nearest existing folders on the way
    // to missing ones, with the names awaited there.
    struct Watches {
        std::set<int> folders;
        std::map<int, std::set<std::string>> awaited;
    } watches_;
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
