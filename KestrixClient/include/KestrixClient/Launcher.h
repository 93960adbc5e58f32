#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrix::client {

// How a client starts a broker when none answers.
struct Launcher {
    // An application bundle. Bundles exist only on the other platform: a newest-broker record
    // written there can name one, but nothing here can open it.
    struct App {
        std::string path;
        bool operator==(const App&) const = default;
    };
    // A program, spawned with these arguments in a session of its own.
    struct Executable {
        std::string path;
        std::vector<std::string> arguments;
        bool operator==(const Executable&) const = default;
    };
    // Never start anything.
    struct None {
        bool operator==(const None&) const = default;
    };

    std::variant<None, App, Executable> how;

    static Launcher app(std::string path) { return {App{std::move(path)}}; }
    static Launcher executable(std::string path, std::vector<std::string> arguments = {}) {
        return {Executable{std::move(path), std::move(arguments)}};
    }
    static Launcher none() { return {None{}}; }

    // The `kestrix` program installed beside this program: libexec/vantor/kestrix next to the
    // bin folder, else `kestrix` in the program's own folder, else the build tree's
    // Kestrix/kestrix beside the program's folder. The first of these that exists; the
    // installed location when none does.
    static Launcher bundled();
    // bundled() when its program exists, else none().
    static Launcher bundledIfPresent();

    bool isNone() const { return std::holds_alternative<None>(how); }
    bool operator==(const Launcher&) const = default;
};

// Starts what the launcher names and does not wait for it. Returns an error text only when an
// application bundle could not be opened; a program that cannot be spawned fails silently (the
// connection keeps trying and reports an unreachable broker in time).
std::optional<std::string> startLauncher(const Launcher& launcher);

} // namespace kestrix::client
