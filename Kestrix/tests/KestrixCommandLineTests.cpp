#include "ProcessSupport.h"

#include <filesystem>

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
        const std::string out = home.path + "/out.txt";
        proc::Broker run(
            home, {}, [&] { ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1); },
            c.arguments);
        std::string label = c.arguments.front() + " " + c.arguments.back();
        EXPECT_EQ(run.waitExit(10), c.status) << label;
        const std::string o = proc::readFile(out), e = run.stderrText();
        EXPECT_TRUE(*c.out ? o.find(c.out) != std::string::npos : o.empty()) << label << ": " << o;
        EXPECT_TRUE(*c.err ? e.find(c.err) != std::string::npos : e.empty()) << label << ": " << e;
        // Nothing was started: no election, no log, no socket.
        EXPECT_TRUE(std::filesystem::is_empty(home.path + "/home")) << label;
    }
}
