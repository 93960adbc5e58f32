#pragma once

#include <functional>
#include <string_view>

namespace vantor {

// The app's log front: each message goes to syslog, with the app's bundle identifier as ident and
// the category in front of the text, and is mirrored to standard error with the program's name in
// front. Tests replace the sink.
class Log {
public:
    enum class Level { info, error };
    using Sink = std::function<void(Level, std::string_view message)>;

    static constexpr std::string_view subsystem = "me.orvella.Vantor";

    static void info(std::string_view message) { write(Level::info, message); }
    static void error(std::string_view message) { write(Level::error, message); }

    // The category written in front of each message ("scroll" unless changed).
    static void setCategory(std::string_view category);
    // Replaces where messages go; an empty sink restores syslog + standard error.
    static void setSink(Sink sink);

private:
    static void write(Level level, std::string_view message);
};

} // namespace vantor
