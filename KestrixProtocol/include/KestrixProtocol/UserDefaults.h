#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrix {

class MainLoop;
class Watch;

// A program's user defaults: one JSON object in one file, key to value (strings, numbers,
// booleans, lists and objects). Every change is written at once and atomically (a complete new
// file replaces the old one). Another process may change the file at any time: reads notice it
// (the file's identity and time stamp are checked on every read), or, once watch() has set up an
// inotify watch on the folder, the loop picks the change up as it happens and tells the observers
// (reads then cost no file-system call).
//
// A file that cannot be read (another user's, a FIFO or a device in its place, larger than
// maximumFileSize) is never written over: the settings are the defaults, changes stay in this
// process, and `log` hears once why and how to put it right. A file that is not a JSON object
// (not JSON at all, with the line and column where it fails) is copied to "<file>.bad" (or
// "<file>.bad.2" ...) before anything replaces it, and `log` hears once where the copy is.
class UserDefaults {
public:
    // Called with the key whose value changed (through this object or from outside).
    using Observer = std::function<void(const std::string& key)>;

    explicit UserDefaults(std::string path);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The user's folder of settings: $XDG_CONFIG_HOME, or ~/.config when XDG_CONFIG_HOME is unset
    // or not an absolute path (the home folder is the account's in the user database when HOME
    // is unset or empty).
    static std::string configFolder();
    // <configFolder>/<name>.json.
    static std::string standardPath(std::string_view name);

    const std::string& path() const { return path_; }

    // The stored value, absent when the key is missing.
    std::optional<nlohmann::json> value(const std::string& key);

    // The value converted to T; absent when missing or of another JSON type. Text is read as
    // text() reads it.
    template <class T> std::optional<T> get(const std::string& key) {
        std::optional<nlohmann::json> v = value(key);
        if constexpr (std::is_same_v<T, std::string>)
            if (v) return text(*v);
        if (!v || !fits<T>(*v)) return std::nullopt;
        try {
            return v->template get<T>();
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    // A value read where a setting is text: a string as it is, and true and false (which files
    // written by hand say for flags) as "1" and "0"; absent for anything else.
    static std::optional<std::string> text(const nlohmann::json& value);

    // The longest settings file that is read.
    static constexpr std::size_t maximumFileSize = std::size_t(1) << 20;

    // Why the file's settings are not in use (what `log` heard of it), for the user to see;
    // absent when the file was read or is missing. Once this process has written over a broken
    // file, where its copy is kept stays here until someone else changes the file.
    std::optional<std::string> problem();

    // Stores the value and writes the file; false when the file could not be written (with a
    // log line) or is not to be written over (said once already), in which case the value is
    // still kept in memory for this process.
    bool set(const std::string& key, nlohmann::json value);
    bool remove(const std::string& key);
    // Sets (a value) or removes (none) several keys with one write of the file, so that neither
    // another reader nor an interruption ever finds some of the changes without the others.
    using Change = std::pair<std::string, std::optional<nlohmann::json>>;
    bool change(std::vector<Change> changes);

    // Reads the file again now and tells the observers about every key whose value changed.
    void reload();

    // Follows outside changes as they happen: an inotify watch on the folder, read on the loop.
    // Returns false when inotify is not available (reads still notice changes).
    bool watch(MainLoop& loop);

    // True once watch() has succeeded: outside changes then reach the observers by themselves.
    bool watching() const { return watch_ != nullptr; }

    int addObserver(Observer observer);
    void removeObserver(int token);

    // Receives a line for every failure to read or write the file.
    std::function<void(const std::string&)> log = [](const std::string&) {};

private:
    struct Stamp {
        bool exists = false;
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t seconds = 0, nanoseconds = 0;
        std::int64_t changeSeconds = 0, changeNanoseconds = 0;
        bool operator==(const Stamp&) const = default;
    };

    template <class T> static bool fits(const nlohmann::json& v) {
        if constexpr (std::is_same_v<T, bool>)
            return v.is_boolean();
        else if constexpr (std::is_arithmetic_v<T>)
            return v.is_number();
        else if constexpr (std::is_same_v<T, std::string>)
            return v.is_string();
        else
            return true;
    }

    Stamp stampNow() const;
    void refreshIfChanged();
    void load(const Stamp& stamp);
    // Keeps the file's problem (or that there is none) and logs a new one.
    void tell(std::optional<std::string> problem);
    bool write();
    void removeLeftOverTemps(const std::string& folder);
    void notify(const std::vector<std::string>& keys);
    void folderChanged();

    std::string path_;
    nlohmann::json values_ = nlohmann::json::object();
    Stamp stamp_;
    Stamp written_; // the file as this process last wrote it
    bool loaded_ = false;
    bool held_ = false; // the file could not be read: never written over
    std::optional<std::string> problem_;
    bool copied_ = false;       // problem_ says where a copy of the broken file is kept
    bool copyReplaced_ = false; // ... and this process has replaced that file since
    bool tempsChecked_ = false; // temporary files of writers that died were looked for
    std::map<int, Observer> observers_;
    int nextToken_ = 1;
    int inotify_ = -1;
    std::unique_ptr<Watch> watch_;
};

} // namespace kestrix
