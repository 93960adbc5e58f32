#include "FrontApp/Display.h"

#include <cstdlib>
#include <unistd.h>
#include <xcb/xcb.h>

namespace kestrix {

namespace {

const char* variable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

struct DisplayCheck {
    bool reached = false;
    std::string why; // what was named and could not be reached
};

DisplayCheck checkDisplay() {
    if (variable("QT_QPA_PLATFORM")) return {true, {}};
    DisplayCheck check;
    if (const char* wayland = variable("WAYLAND_DISPLAY")) {
        std::string path = wayland;
        if (path.front() != '/' && variable("XDG_RUNTIME_DIR"))
            path = std::string(variable("XDG_RUNTIME_DIR")) + "/" + path;
        if (::access(path.c_str(), F_OK) == 0) return {true, {}};
        check.why = "cannot reach the Wayland display " + path;
    }
    if (const char* x11 = variable("DISPLAY")) {
        xcb_connection_t* connection = xcb_connect(x11, nullptr);
        bool reached = connection && !xcb_connection_has_error(connection);
        if (connection) xcb_disconnect(connection);
        if (reached) return {true, {}};
        check.why += (check.why.empty() ? "" : "; ") + cannotReachX11(x11);
    }
    return check;
}

} // namespace

std::string cannotReachX11(const std::string& display) {
    return "cannot reach the X display " + display;
}

bool hasDisplay() {
    return checkDisplay().reached;
}

std::string unreachableDisplay() {
    return checkDisplay().why;
}

} // namespace kestrix
