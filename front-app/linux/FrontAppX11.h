#pragma once

#include "FrontApp/FrontApp.h"
#include "FrontApp/FrontAppIdentity.h"
#include "Sources.h"

#include <memory>
#include <string>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace kestrix {
class Watch;
}

namespace kestrix::core {

// The app in front on an X11 desktop: the window manager's _NET_ACTIVE_WINDOW on the root window,
// followed through PropertyNotify; its _NET_WM_PID and WM_CLASS identify the app. Under Wayland it
// sees XWayland windows only.
class FrontAppX11 final : public FrontApp {
public:
    // Null when the display cannot be reached; `why` then says so.
    static std::unique_ptr<FrontAppX11> connect(MainLoop& loop, const char* display,
                                                FrontAppIdentityRef identity, std::string& why);
    ~FrontAppX11() override;

    std::optional<FrontmostApp> frontmost() override;
    std::optional<std::string> bundleID(std::int32_t processID) override;
    // Unavailable while no window manager tells the active window, and once the display has gone
    // away.
    FrontAppStatus status() const override { return status_; }

private:
    FrontAppX11(MainLoop& loop, xcb_connection_t* connection, int screen,
                FrontAppIdentityRef identity, std::string display);

    void begin();
    // Sets the status from whether the active window is told; true when that changed it.
    bool checkPublished();
    xcb_window_t activeWindow();
    std::optional<std::int32_t> processOf(xcb_window_t window);
    FrontAppWindow factsOf(xcb_window_t window);
    void readEvents();
    void drainLater();

    MainLoop& loop_;
    xcb_connection_t* connection_;
    xcb_ewmh_connection_t ewmh_{};
    bool ewmhReady_ = false;
    xcb_window_t root_ = 0;
    int screen_ = 0;
    FrontAppIdentityRef identity_;
    xcb_window_t active_ = 0;
    std::string display_;
    FrontAppStatus status_;
    std::unique_ptr<Watch> watch_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kestrix::core
