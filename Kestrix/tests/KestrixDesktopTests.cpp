// A real `kestrix` on a real X server: the app in front decides who holds the device.
#include "ProcessSupport.h"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

using namespace proc;

namespace {

// A private X server; the display number is chosen by the server.
class Xvfb {
public:
    Xvfb() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            std::string fd = std::to_string(fds[1]);
            int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 2);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                     "640x480x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
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
class Desktop {
public:
    explicit Desktop(const std::string& display) {
        connection_ = xcb_connect(display.c_str(), nullptr);
        auto cookies = xcb_ewmh_init_atoms(connection_, &ewmh_);
        xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr);
        root_ = ewmh_.screens[0]->root;
    }
    ~Desktop() {
        xcb_ewmh_connection_wipe(&ewmh_);
        xcb_disconnect(connection_);
    }
    xcb_window_t window(uint32_t pid, const std::string& cls) {
        xcb_window_t w = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, w, root_, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_ewmh_set_wm_pid(&ewmh_, w, pid);
        std::string value = "instance";
        value.push_back('\0');
        value += cls;
        value.push_back('\0');
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, static_cast<uint32_t>(value.size()), value.data());
        xcb_flush(connection_);
        return w;
    }
    void activate(xcb_window_t w) {
        xcb_ewmh_set_active_window(&ewmh_, 0, w);
        xcb_flush(connection_);
    }

private:
    xcb_connection_t* connection_;
    xcb_ewmh_connection_t ewmh_{};
    xcb_window_t root_;
};

} // namespace

TEST(KestrixDesktop, theClaimantOfTheAppInFrontHoldsTheDevice) {
    Xvfb server;
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    Home home;
    home.devices(R"({"devices": []})");
    Desktop desktop(server.display());
    // Process ids that no process has: the apps are known by their window class.
    xcb_window_t modeller = desktop.window(2000000001, "Modeller");
    xcb_window_t editor = desktop.window(2000000002, "Editor");
    proc::Broker broker(home, {{"DISPLAY", server.display()},
                               {"XDG_DATA_HOME", home.path + "/data"},
                               {"XDG_DATA_DIRS", home.path + "/data"}});
    ASSERT_TRUE(broker.waitListening()) << broker.stderrText();

    VirtualMainLoop loop;
    auto client = connect(loop, home);
    ASSERT_TRUE(client);
    bool holding = false;
    client->connection->onMessage = [&](const BrokerMessage& m) {
        client->got.push_back(m);
        if (auto* h = m.as<BrokerMessage::Holding>()) holding = h->holding;
    };
    client->send(ClientMessage{hello("Modeller plug-in", Claim{{"Modeller"}, false, {}, {}})});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<BrokerMessage::Welcome>() == 1; }));

    desktop.activate(modeller);
    ASSERT_TRUE(loop.runUntil([&] { return holding; }));
    // The broker tells the client before it writes its log line.
    EXPECT_TRUE(waitInFolder(home.path + "/home", [&] {
        return home.log().find("holder: Modeller plug-in (front: Modeller)") != std::string::npos;
    }));

    desktop.activate(editor);
    ASSERT_TRUE(loop.runUntil([&] { return !holding; }));

    client->send(ClientMessage{ClientMessage::Status{}});
    ASSERT_TRUE(loop.runUntil([&] { return client->count<BrokerStatus>() == 1; }));
    EXPECT_EQ(client->all<BrokerStatus>().front().frontmostApp, "Editor");
}
