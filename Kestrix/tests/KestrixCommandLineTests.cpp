#include "ProcessSupport.h"

#include <filesystem>

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs kestrix with these arguments in `home`, with the given standard output and error files.
Outcome runKestrix(const proc::Home& home, const std::vector<std::string>& arguments) {
    std::string out = home.path + "/out.txt", err = home.path + "/err.txt";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("KESTRIX_HOME", (home.path + "/home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home.path + "/config").c_str(), 1);
        ::setenv("KESTRIX_DEVICES", ("sim:" + home.path + "/devices.json").c_str(), 1);
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        std::vector<char*> argv{const_cast<char*>(KESTRIX_EXECUTABLE)};
        for (const auto& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(KESTRIX_EXECUTABLE, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), proc::readFile(out),
            proc::readFile(err)};
}

} // namespace

TEST(KestrixCommandLine, helpAndVersionAnswerAndBadArgumentsAreUsageErrorsWithoutABroker) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* out; // a part of standard output ("" for none at all)
        const char* err; // a part of standard error ("" for none at all)
    } cases[] = {
        {{"--help"}, 0, "Usage: kestrix [options]", ""},
        {{"-h"}, 0, "--version", ""},
        {{"-platform", "offscreen", "--help"}, 0, "Usage: kestrix", ""},
        {{"--version"}, 0, "kestrix 1.0.0 (release 15)\n", ""},
        {{"-v"}, 0, "(release 15)", ""},
        {{"--bogus-flag"}, 2, "", "Unknown option 'bogus-flag'"},
        {{"--help", "--bogus-flag"}, 2, "", "Usage: kestrix"},
        {{"stray"}, 2, "", "unexpected argument 'stray'"},
    };
    for (const auto& c : cases) {
        proc::Home home;
        Outcome o = runKestrix(home, c.arguments);
        std::string label = c.arguments.front() + " " + c.arguments.back();
        EXPECT_EQ(o.status, c.status) << label;
        EXPECT_TRUE(*c.out ? o.out.find(c.out) != std::string::npos : o.out.empty())
            << label << ": " << o.out;
        EXPECT_TRUE(*c.err ? o.err.find(c.err) != std::string::npos : o.err.empty())
            << label << ": " << o.err;
        // Nothing was started: no election, no log, no socket.
        EXPECT_TRUE(std::filesystem::is_empty(home.path + "/home")) << label;
    }
}
