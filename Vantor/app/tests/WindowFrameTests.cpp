// The real vantor under a real X11 window manager (openbox) on a 1366 x 768 screen: the settings
// window, frame and all, lies on the screen.
#include "VantorRun.h"
#include "X11TestDesktop.h"

#include <QProcess>
#include <QRect>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace vantor {
namespace {

// A window as the window manager shows it: the title of the client and the frame around it.
struct FramedWindow {
    std::string title;
    QRect frame;
};

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

std::vector<xcb_window_t> childrenOf(xcb_connection_t* c, xcb_window_t window) {
    std::vector<xcb_window_t> children;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
    if (!tree) return children;
    const xcb_window_t* list = xcb_query_tree_children(tree);
    children.assign(list, list + xcb_query_tree_children_length(tree));
    std::free(tree);
    return children;
}

// The title of the first window with one in the tree under `window` (the frame's client),
// searched two levels deep.
std::string titleUnder(xcb_connection_t* c, xcb_window_t window, int depth = 0) {
    const xcb_atom_t name = atom(c, "_NET_WM_NAME"), utf8 = atom(c, "UTF8_STRING");
    xcb_get_property_reply_t* title =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, utf8, 0, 256), nullptr);
    std::string text;
    if (title && xcb_get_property_value_length(title) > 0)
        text.assign(static_cast<const char*>(xcb_get_property_value(title)),
                    std::size_t(xcb_get_property_value_length(title)));
    std::free(title);
    if (!text.empty() || depth == 2) return text;
    for (xcb_window_t child : childrenOf(c, window))
        if (std::string found = titleUnder(c, child, depth + 1); !found.empty()) return found;
    return {};
}

// The mapped top-level windows of the display (the frames, under a window manager).
std::vector<FramedWindow> framedWindows(const std::string& display) {
    std::vector<FramedWindow> shown;
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return shown;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    for (xcb_window_t w : childrenOf(c, root)) {
        xcb_get_window_attributes_reply_t* attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        if (!viewable) continue;
        xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
        if (g)
            shown.push_back({titleUnder(c, w), QRect(g->x, g->y, g->width + 2 * g->border_width,
                                                     g->height + 2 * g->border_width)});
        std::free(g);
    }
    xcb_disconnect(c);
    return shown;
}

// Whether a window manager runs on the display (it names itself on the root window).
bool managed(const std::string& display) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    bool found = false;
    if (!xcb_connection_has_error(c)) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_get_property_reply_t* check = xcb_get_property_reply(
            c,
            xcb_get_property(c, 0, root, atom(c, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0,
                             1),
            nullptr);
        found = check && xcb_get_property_value_length(check) > 0;
        std::free(check);
    }
    xcb_disconnect(c);
    return found;
}

TEST(VantorUnderOpenbox, theSettingsWindowsFrameLiesWhollyOnA1366x768Screen) {
    x11test::Xvfb server("1366x768x24");
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    const QString display = QString::fromStdString(server.display());
    QProcess openbox;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    openbox.setProcessEnvironment(env);
    openbox.start("openbox", {"--sm-disable"});
    ASSERT_TRUE(openbox.waitForStarted()) << "openbox is missing";
    for (int i = 0; i < 100 && !managed(server.display()); ++i)
        openbox.waitForFinished(50);
    ASSERT_TRUE(managed(server.display())) << "openbox does not manage the display";

    const QRect screen(0, 0, 1366, 768);
    testsupport::TempFolder home;
    home.write("config/me.orvella.Vantor.json", R"({"welcomed": true})");
    // No tray on this desktop: a start by hand opens the settings window.
    VantorRun run(home, {}, {"DISPLAY=" + display});
    QRect frame;
    for (int i = 0; i < 200 && !(frame.isValid() && screen.contains(frame)); ++i) {
        run.process->waitForReadyRead(100);
        for (const FramedWindow& window : framedWindows(server.display()))
            if (window.title == "Vantor") frame = window.frame;
    }
    ASSERT_TRUE(frame.isValid()) << "no settings window";
    EXPECT_TRUE(screen.contains(frame)) << "frame from y " << frame.top() << " to " << frame.bottom()
                                        << ", x " << frame.left() << " to " << frame.right();
    EXPECT_GE(frame.height(), 640) << "as tall as the screen allows";

    run.quit();
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    openbox.terminate();
    if (!openbox.waitForFinished(5000)) openbox.kill();
}

} // namespace
} // namespace vantor
