// The user-defaults files are written by the user and by other programs: any bytes must read as
// values or as a file whose settings are ignored, and every value read must copy, compare and
// print without running out of stack. A file that does not read is told with a problem and
// copied aside, and reading never throws.

#include "KestrixProtocol/UserDefaults.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string& path() {
    static const std::string made = [] {
        char pattern[] = "/tmp/fuzz-user-defaults-XXXXXX";
        const char* folder = ::mkdtemp(pattern);
        if (!folder) std::abort();
        return std::string(folder) + "/defaults.json";
    }();
    return made;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::ofstream(path(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    kestrix::UserDefaults defaults(path());
    for (const char* key : {"disabledDevices", "showsMenuBarItem", "allowed_apps", "app_settings",
                            "momentum_apps", "speed", ""}) {
        if (auto value = defaults.value(key)) {
            nlohmann::json copy = *value;
            if (!(copy == *value)) __builtin_trap();
            (void)copy.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        }
        (void)defaults.get<std::vector<std::string>>(key);
        (void)defaults.get<std::string>(key);
        (void)defaults.get<double>(key);
        (void)defaults.get<bool>(key);
    }
    defaults.reload();
    if (auto problem = defaults.problem(); problem && problem->empty()) __builtin_trap();
    // Copies of broken files: one run's are gone before the next.
    for (const char* copy : {".bad", ".bad.2"})
        std::remove((path() + copy).c_str());
    return 0;
}
