#include "Vantor/Log.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <syslog.h>

namespace vantor {

namespace {

std::string& category() {
    static std::string value = "scroll";
    return value;
}

Log::Sink& sink() {
    static Log::Sink value;
    return value;
}

void writeSystem(Log::Level level, std::string_view message) {
    static const bool opened = [] {
        static const std::string ident(Log::subsystem);
        openlog(ident.c_str(), LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    std::string line = category() + ": " + std::string(message);
    syslog(level == Log::Level::error ? LOG_ERR : LOG_INFO, "%s", line.c_str());
    // On standard error the line starts with the program's name, as other programs' lines do.
    std::fprintf(stderr, "%s: %.*s\n", program_invocation_short_name,
                 static_cast<int>(message.size()), message.data());
}

} // namespace

void Log::setCategory(std::string_view value) {
    category() = std::string(value);
}

void Log::setSink(Sink value) {
    sink() = std::move(value);
}

void Log::write(Level level, std::string_view message) {
    if (sink())
        sink()(level, message);
    else
        writeSystem(level, message);
}

} // namespace vantor
