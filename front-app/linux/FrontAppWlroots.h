#pragma once

#include "FrontApp/FrontApp.h"
#include "FrontApp/FrontAppIdentity.h"
#include "ToplevelList.h"

#include <memory>
#include <set>
#include <string>

struct wl_display;
struct wl_array;
struct wl_registry;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

namespace kestrix {
class Watch;
}

namespace kestrix::core {

// The app in front under a wlroots compositor (sway, Hyprland, labwc, river, Wayfire): the
// compositor's toplevel list (zwlr_foreign_toplevel_manager_v1) tells every window's app_id and
// which window is activated. The activated one is in front; with none activated (a launcher of
// the shell in front) no app is. The connection is watched by the loop. When the compositor goes
// away, stops the list or sends what this client cannot read, the source turns unavailable and
// says why; the program goes on without an app in front.
class FrontAppWlroots final : public FrontApp {
public:
    // Connects to the compositor named by `display` (a WAYLAND_DISPLAY value) and reads its
    // toplevels, waiting at most `seconds` for it. Null when the compositor cannot be reached or
    // offers no toplevel list: `why` then says so.
    static std::unique_ptr<FrontAppWlroots> connect(MainLoop& loop, const std::string& display,
                                                    std::shared_ptr<const FrontAppIdentity> identity,
                                                    std::string& why, double seconds = 5.0);
    // The same over a connected socket, which it takes over (closed also when null is returned).
    static std::unique_ptr<FrontAppWlroots> connectToSocket(
        MainLoop& loop, int fd, std::shared_ptr<const FrontAppIdentity> identity, std::string& why,
        double seconds = 5.0);
    ~FrontAppWlroots() override;
    FrontAppWlroots(const FrontAppWlroots&) = delete;
    FrontAppWlroots& operator=(const FrontAppWlroots&) = delete;

    std::optional<FrontmostApp> frontmost() override;
    std::optional<std::string> bundleID(std::int32_t processID) override;
    FrontAppStatus status() const override { return status_; }

    // The protocol version bound (at most 3).
    std::uint32_t version() const { return version_; }

private:
    FrontAppWlroots(MainLoop& loop, wl_display* display,
                    std::shared_ptr<const FrontAppIdentity> identity);

    static std::unique_ptr<FrontAppWlroots> start(std::unique_ptr<FrontAppWlroots> front,
                                                  double seconds, std::string& why);
    // Waits for the compositor to answer what was sent so far; the reason when it did not.
    std::optional<std::string> roundtrip(double seconds);
    void readEvents();
    void flush();
    void fail(const std::string& reason);
    std::string connectionError() const;
    void teardown();

    // Wayland listeners.
    static void global(void* data, wl_registry* registry, std::uint32_t name,
                       const char* interface, std::uint32_t version);
    static void globalRemove(void* data, wl_registry* registry, std::uint32_t name);
    static void toplevel(void* data, zwlr_foreign_toplevel_manager_v1* manager,
                         zwlr_foreign_toplevel_handle_v1* handle);
    static void finished(void* data, zwlr_foreign_toplevel_manager_v1* manager);
    static void appID(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* appID);
    static void state(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* state);
    static void done(void* data, zwlr_foreign_toplevel_handle_v1* handle);
    static void closed(void* data, zwlr_foreign_toplevel_handle_v1* handle);

    MainLoop& loop_;
    wl_display* display_;
    std::shared_ptr<const FrontAppIdentity> identity_;
    wl_registry* registry_ = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    std::uint32_t managerName_ = 0;
    std::uint32_t version_ = 0;
    ToplevelList toplevels_;
    std::set<zwlr_foreign_toplevel_handle_v1*> handles_;
    FrontAppStatus status_;
    bool failed_ = false;
    std::unique_ptr<Watch> readWatch_;
    std::unique_ptr<Watch> writeWatch_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kestrix::core
