#include "KestrixProtocol/UserDefaults.h"

#include "KestrixProtocol/BoundedJson.h"

#include "KestrixProtocol/MainLoop.h"
#include "SettingsFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix {

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

std::string folderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// mkdir -p with 0700 for new folders.
void makeFolders(const std::string& folder) {
    if (folder.empty()) return;
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = folder.find('/', pos + 1);
        partial = folder.substr(0, pos);
        if (!partial.empty()) ::mkdir(partial.c_str(), 0700);
    }
}

} // namespace

UserDefaults::UserDefaults(std::string path)
    : path_(std::move(path)) {}

UserDefaults::~UserDefaults() {
    watch_.reset();
    if (inotify_ >= 0) ::close(inotify_);
}

std::string UserDefaults::configFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return config;
    return settingsfile::homeFolder(std::getenv("HOME")) + "/.config";
}

std::string UserDefaults::standardPath(std::string_view name) {
    return configFolder() + "/" + std::string(name) + ".json";
}

UserDefaults::Stamp UserDefaults::stampNow() const {
    struct stat st {};
    Stamp s;
    if (::stat(path_.c_str(), &st) != 0) return s;
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = static_cast<std::uint64_t>(st.st_size);
    s.seconds = st.st_mtim.tv_sec;
    s.nanoseconds = st.st_mtim.tv_nsec;
    // A new owner or mode changes only this time.
    s.changeSeconds = st.st_ctim.tv_sec;
    s.changeNanoseconds = st.st_ctim.tv_nsec;
    return s;
}

void UserDefaults::load(const Stamp& stamp) {
    using settingsfile::Read;
    stamp_ = stamp;
    loaded_ = true;
    held_ = false;
    values_ = nlohmann::json::object();
    if (!stamp.exists) return tell(std::nullopt);
    Read read = settingsfile::readRegular(path_, maximumFileSize);
    if (read.outcome == Read::Outcome::missing) return tell(std::nullopt);
    if (read.outcome != Read::Outcome::read) {
        // Whatever the file holds is unknown: it must not be replaced by what this process has.
        held_ = true;
        settingsfile::Problem problem = settingsfile::whatWentWrong(path_, read, maximumFileSize);
        return tell(problem.what +
                    "; running on default settings, which are not saved, and the file is left "
                    "as it is" +
                    (problem.fix.empty() ? "" : "; " + problem.fix));
    }
    if (read.text.find_first_not_of(" \t\r\n") == std::string::npos)
        return tell(std::nullopt); // an empty file holds no settings
    std::string what;
    nlohmann::json parsed;
    if (nestsDeeperThan(read.text, maximumFileNesting)) {
        what = path_ + " nests more than " + std::to_string(maximumFileNesting) + " levels deep";
    } else if (auto place = settingsfile::parse(read.text, parsed)) {
        what = path_ + " is not valid JSON (line " + std::to_string(place->line) + ", column " +
               std::to_string(place->column) + ")";
    } else if (!parsed.is_object()) {
        what = path_ + " is not a JSON object";
    } else {
        values_ = std::move(parsed);
        return tell(std::nullopt);
    }
    // The next write replaces the file: what the user wrote is kept beside it first.
    std::string error;
    if (auto copy = settingsfile::keepCopy(path_, read.text, error)) {
        tell(what + "; its settings are ignored, and a copy of it is kept in " + *copy);
        copied_ = true;
        return;
    }
    held_ = true;
    tell(what + "; its settings are ignored, and as no copy of it could be kept (" + error +
         "), it is left as it is and settings are not saved");
}

void UserDefaults::tell(std::optional<std::string> problem) {
    // Where the broken file's copy is stays to be seen while the file is the one this process
    // put in its place; a file put right by someone else ends it.
    if (!problem && copyReplaced_ && stamp_ == written_) return;
    copied_ = false;
    copyReplaced_ = false;
    if (problem == problem_) return;
    problem_ = std::move(problem);
    if (problem_) log(*problem_);
}

std::optional<std::string> UserDefaults::problem() {
    if (!watch_ || !loaded_) refreshIfChanged();
    return problem_;
}

void UserDefaults::refreshIfChanged() {
    Stamp now = stampNow();
    if (loaded_ && now == stamp_) return;
    bool first = !loaded_;
    nlohmann::json before = values_;
    load(now);
    if (first) return;
    std::vector<std::string> changed;
    std::set<std::string> keys;
    for (auto& [k, v] : before.items())
        keys.insert(k);
    for (auto& [k, v] : values_.items())
        keys.insert(k);
    for (const auto& k : keys) {
        auto a = before.find(k);
        auto b = values_.find(k);
        bool inA = a != before.end(), inB = b != values_.end();
        if (inA != inB || (inA && *a != *b)) changed.push_back(k);
    }
    notify(changed);
}

void UserDefaults::reload() {
    stamp_ = Stamp{.exists = true, .device = ~0ull}; // forces a read
    refreshIfChanged();
}

std::optional<nlohmann::json> UserDefaults::value(const std::string& key) {
    // While the folder is watched, outside changes arrive through the watch; reads (some happen
    // for every device report) then cost no file-system call.
    if (!watch_ || !loaded_) refreshIfChanged();
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return *it;
}

std::optional<std::string> UserDefaults::text(const nlohmann::json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
    return std::nullopt;
}

bool UserDefaults::set(const std::string& key, nlohmann::json value) {
    return change({{key, std::move(value)}});
}

bool UserDefaults::remove(const std::string& key) {
    return change({{key, std::nullopt}});
}

bool UserDefaults::change(std::vector<Change> changes) {
    refreshIfChanged();
    std::vector<std::string> changed;
    for (auto& [key, value] : changes) {
        auto it = values_.find(key);
        if (value) {
            if (it != values_.end() && *it == *value) continue;
            values_[key] = std::move(*value);
        } else {
            if (it == values_.end()) continue;
            values_.erase(it);
        }
        changed.push_back(key);
    }
    if (changed.empty()) return true;
    bool ok = write();
    notify(changed);
    return ok;
}

// A writer killed between creating its temporary file and renaming it leaves the file behind;
// the name carries the writer's process id, so one whose writer is gone can go.
void UserDefaults::removeLeftOverTemps(const std::string& folder) {
    tempsChecked_ = true;
    const std::string prefix = nameOf(path_) + ".tmp.";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) continue;
        std::string_view digits = name.substr(prefix.size());
        if (digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
            continue;
        const pid_t writer = static_cast<pid_t>(std::stol(std::string(digits)));
        if (writer == ::getpid() || writer <= 0) continue;
        if (::kill(writer, 0) == 0 || errno != ESRCH) continue; // still there
        ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

bool UserDefaults::write() {
    if (held_) return false; // said once, when the file was read
    std::string folder = folderOf(path_);
    makeFolders(folder);
    if (!tempsChecked_) removeLeftOverTemps(folder);
    std::string temp = path_ + ".tmp." + std::to_string(::getpid());
    // JSON holds UTF-8 only: bytes of a text that are not are written as U+FFFD rather than
    // losing the whole file.
    std::string text = values_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        log("cannot write " + path_ + ": " + errorText(errno));
        return false;
    }
    // A file that did not reach the disk whole never replaces the one there.
    if (!settingsfile::writeAndClose(fd, text) || ::rename(temp.c_str(), path_.c_str()) != 0) {
        int error = errno;
        ::unlink(temp.c_str());
        log("cannot write " + path_ + ": " + errorText(error));
        return false;
    }
    stamp_ = written_ = stampNow();
    loaded_ = true;
    copyReplaced_ = copied_;
    return true;
}

void UserDefaults::notify(const std::vector<std::string>& keys) {
    if (keys.empty()) return;
    auto observers = observers_; // an observer may add or remove observers
    for (const auto& key : keys)
        for (auto& [token, observer] : observers)
            if (observers_.count(token)) observer(key);
}

int UserDefaults::addObserver(Observer observer) {
    refreshIfChanged(); // later changes are measured against what the file holds now
    int token = nextToken_++;
    observers_[token] = std::move(observer);
    return token;
}

void UserDefaults::removeObserver(int token) {
    observers_.erase(token);
}

bool UserDefaults::watch(MainLoop& loop) {
    if (watch_) return true;
    std::string folder = folderOf(path_);
    makeFolders(folder);
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        log("cannot watch " + folder + ": " + errorText(errno));
        return false;
    }
    // Atomic writers rename a new file over the old one, so the folder is watched, not the file.
    if (::inotify_add_watch(fd, folder.c_str(),
                            IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_CREATE | IN_ATTRIB) < 0) {
        log("cannot watch " + folder + ": " + errorText(errno));
        ::close(fd);
        return false;
    }
    inotify_ = fd;
    refreshIfChanged();
    watch_ = loop.watchReadable(fd, [this] { folderChanged(); });
    return true;
}

void UserDefaults::folderChanged() {
    alignas(inotify_event) char buffer[4096];
    bool ours = false;
    std::string name = nameOf(path_);
    for (;;) {
        ssize_t n = ::read(inotify_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            auto* event = reinterpret_cast<inotify_event*>(buffer + at);
            if (event->len > 0 && name == event->name) ours = true;
            if (event->mask & IN_Q_OVERFLOW) ours = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (ours) refreshIfChanged();
}

} // namespace kestrix
