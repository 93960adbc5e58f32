#pragma once

// A temporary folder for one test, removed with everything in it when the test ends, and a whole
// file read as text. Shared by the tests of the broker's subsystems.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace testsupport {

struct TempFolder {
    std::string path;
    TempFolder() {
        char pattern[] = "/tmp/kestrix-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path = made ? made : "";
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Writes a file below the folder, making the folders on its way.
    void write(const std::string& relative, const std::string& text) const {
        std::filesystem::path full = std::filesystem::path(path) / relative;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full) << text;
    }
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace testsupport
