#include "KestrixClient/Launcher.h"

#include "BundledBroker.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kestrix::client {

namespace detail {

std::vector<std::string> bundledCandidates(const std::string& executablePath) {
    const std::filesystem::path folder = std::filesystem::path(executablePath).parent_path();
    return {
        (folder / ".." / "libexec" / "vantor" / "kestrix").lexically_normal().string(),
        (folder / "kestrix").lexically_normal().string(),
        (folder / ".." / "Kestrix" / "kestrix").lexically_normal().string(),
        (folder / ".." / ".." / "Kestrix" / "kestrix").lexically_normal().string(),
    };
}

std::string ownExecutablePath() {
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

} // namespace detail

namespace {

bool isExecutableFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

// The child broker runs in a session of its own and outlives this program, but while this
// program runs it is still its parent: a thread waits for it so that a broker that ends does not
// stay behind as a zombie.
void reapLater(pid_t child) {
    std::thread([child] {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

void spawn(const Launcher::Executable& executable) {
    std::vector<std::string> words;
    words.reserve(executable.arguments.size() + 1);
    words.push_back(executable.path);
    words.insert(words.end(), executable.arguments.begin(), executable.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    if (posix_spawnattr_init(&attributes) != 0) return;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        posix_spawnattr_destroy(&attributes);
        return;
    }
    // Signal mask and ignored signals survive exec: the app blocks SIGINT, SIGTERM and SIGHUP (it
    // reads them from a descriptor) and ignores SIGPIPE, and a broker inheriting that could not
    // be ended by a plain kill. It starts with nothing blocked and every signal at its default.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    // A session of its own: the broker must not end with this program's terminal or process
    // group. Its output goes nowhere; it writes its own log.
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);

    pid_t child = 0;
    int result =
        posix_spawn(&child, executable.path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result == 0) reapLater(child);
}

} // namespace

Launcher Launcher::bundled() {
    std::vector<std::string> candidates = detail::bundledCandidates(detail::ownExecutablePath());
    for (const std::string& candidate : candidates) {
        if (isExecutableFile(candidate)) return executable(candidate);
    }
    return executable(candidates.front());
}

Launcher Launcher::bundledIfPresent() {
    Launcher launcher = bundled();
    const auto& program = std::get<Executable>(launcher.how);
    return isExecutableFile(program.path) ? launcher : none();
}

std::optional<std::string> startLauncher(const Launcher& launcher) {
    if (const auto* program = std::get_if<Launcher::Executable>(&launcher.how)) {
        spawn(*program);
        return std::nullopt;
    }
    if (const auto* app = std::get_if<Launcher::App>(&launcher.how))
        return "application bundles cannot be opened on Linux (" + app->path + ")";
    return std::nullopt;
}

} // namespace kestrix::client
