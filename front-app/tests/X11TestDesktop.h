#pragma once

// A private X server and a stand-in window manager for tests that need an app in front: the test
// makes windows with a process id and a class and sets the root window's active-window property.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace x11test {

// A private X server for one test; the display number is chosen by the server. `screen` is the
// screen's width x height x depth.
class Xvfb {
public:
    explicit Xvfb(const std::string& screen = "640x480x24") {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            std::string fd = std::to_string(fds[1]);
            int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 2);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp",
                     "-screen", "0", screen.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // The server writes its display number and a line feed once it accepts clients.
        std::string number;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            number.push_back(c);
        ::close(fds[0]);
        if (!number.empty()) display_ = ":" + number;
    }
    ~Xvfb() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// Plays the window manager: windows with a pid and a class, and the active-window property.
class FakeDesktop {
public:
    explicit FakeDesktop(const std::string& display) {
        connection_ = xcb_connect(display.c_str(), nullptr);
        auto cookies = xcb_ewmh_init_atoms(connection_, &ewmh_);
        xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr);
        root_ = ewmh_.screens[0]->root;
        // As a window manager does, it says what it tells.
        xcb_atom_t told[] = {ewmh_._NET_ACTIVE_WINDOW, ewmh_._NET_CLIENT_LIST, ewmh_._NET_WM_PID};
        xcb_ewmh_set_supported(&ewmh_, 0, 3, told);
        xcb_flush(connection_);
    }
    ~FakeDesktop() {
        xcb_ewmh_connection_wipe(&ewmh_);
        xcb_disconnect(connection_);
    }
    xcb_window_t window(uint32_t pid, const std::string& cls,
                        const std::string& instance = "instance") {
        xcb_window_t w = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, w, root_, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_ewmh_set_wm_pid(&ewmh_, w, pid);
        std::string value = instance;
        value.push_back('\0');
        value += cls;
        value.push_back('\0');
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, static_cast<uint32_t>(value.size()), value.data());
        windows_.push_back(w);
        xcb_ewmh_set_client_list(&ewmh_, 0, static_cast<uint32_t>(windows_.size()),
                                 windows_.data());
        xcb_flush(connection_);
        return w;
    }
    void destroy(xcb_window_t w) {
        xcb_destroy_window(connection_, w);
        windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
        xcb_flush(connection_);
    }
    // The first window of the process that is or becomes mapped within `seconds`; 0 when none.
    // Tests use it to bring a real program's own window to the front.
    xcb_window_t waitMappedWindowOf(uint32_t pid, double seconds) {
        uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            if (xcb_window_t w = mappedWindowOf(pid)) return w;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return 0;
            pollfd p{xcb_get_file_descriptor(connection_), POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()));
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_))
                std::free(event);
        }
    }
    void activate(xcb_window_t w) {
        xcb_ewmh_set_active_window(&ewmh_, 0, w);
        xcb_flush(connection_);
    }

private:
    xcb_window_t mappedWindowOf(uint32_t pid) {
        auto tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr);
        if (!tree) return 0;
        xcb_window_t found = 0;
        xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
            auto attributes = xcb_get_window_attributes_reply(
                connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
            bool mapped = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(attributes);
            uint32_t owner = 0;
            if (mapped &&
                xcb_ewmh_get_wm_pid_reply(&ewmh_, xcb_ewmh_get_wm_pid(&ewmh_, children[i]), &owner,
                                          nullptr) &&
                owner == pid)
                found = children[i];
        }
        std::free(tree);
        return found;
    }

    xcb_connection_t* connection_;
    xcb_ewmh_connection_t ewmh_{};
    xcb_window_t root_;
    std::vector<xcb_window_t> windows_;
};

} // namespace x11test
