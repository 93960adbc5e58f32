// spacenavd's pid file and the /proc stat file of the process it names are read whenever the run
// folder changes: any bytes in them must give a running daemon or none, never a crash. The input
// is the pid file, a zero byte, then the stat file of the process it names (this fuzzer's own
// process when the pid file part is empty, so that the stat file is always looked at).
#include "KestrixCore/DriverWatch.h"
#include "KestrixProtocol/VirtualMainLoop.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

struct Setup {
    std::string folder;
    kestrix::VirtualMainLoop loop;
    kestrix::core::SpacenavdWatch::Paths paths;
    std::unique_ptr<kestrix::core::SpacenavdWatch> watch;

    Setup() {
        char pattern[] = "/tmp/fuzz-spacenavd-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made) std::abort();
        folder = made;
        paths.runDirectory = folder + "/run";
        paths.procRoot = folder + "/proc";
        std::filesystem::create_directories(paths.runDirectory);
        std::filesystem::create_directories(paths.procRoot + "/" + std::to_string(::getpid()));
        watch = std::make_unique<kestrix::core::SpacenavdWatch>(loop, paths,
                                                               [](const std::string&) {});
    }
};

void write(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t cut = input.find('\0');
    std::string_view pidFile = input.substr(0, cut);
    std::string_view stat = cut == std::string_view::npos ? "" : input.substr(cut + 1);
    std::string ownPid = std::to_string(::getpid());
    write(setup.paths.runDirectory + "/" + setup.paths.pidFile,
          pidFile.empty() ? std::string_view(ownPid) : pidFile);
    write(setup.paths.procRoot + "/" + ownPid + "/stat", stat);
    (void)setup.watch->helper();
    setup.loop.runPending();
    return 0;
}
