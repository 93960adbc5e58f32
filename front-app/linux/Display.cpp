#include "FrontApp/Display.h"

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <xcb/xcb.h>

namespace kestrix {

namespace {

const char* variable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

} // namespace

bool hasDisplay() {
    if (variable("QT_QPA_PLATFORM")) return true;
    if (const char* wayland = variable("WAYLAND_DISPLAY")) {
        std::string path = wayland;
        if (path.front() != '/' && variable("XDG_RUNTIME_DIR"))
            path = std::string(variable("XDG_RUNTIME_DIR")) + "/" + path;
        if (::access(path.c_str(), F_OK) == 0) return true;
    }
    if (const char* x11 = variable("DISPLAY")) {
        xcb_connection_t* connection = xcb_connect(x11, nullptr);
        bool reached = connection && !xcb_connection_has_error(connection);
        if (connection) xcb_disconnect(connection);
        return reached;
    }
    return false;
}

} // namespace kestrix
