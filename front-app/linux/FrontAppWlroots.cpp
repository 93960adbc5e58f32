#include "FrontAppWlroots.h"

#include "KestrixProtocol/MainLoop.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

namespace kestrix::core {

namespace {

constexpr std::uint32_t highestVersion = 3;
constexpr const char* managerInterface = "zwlr_foreign_toplevel_manager_v1";
constexpr const char* lostFront = " The app in front is not known until the program starts again.";

void ignoreText(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
void ignoreOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void ignoreParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

ToplevelList::Key keyOf(zwlr_foreign_toplevel_handle_v1* handle) {
    return reinterpret_cast<ToplevelList::Key>(handle);
}

} // namespace

std::unique_ptr<FrontAppWlroots> FrontAppWlroots::connect(
    MainLoop& loop, const std::string& display, std::shared_ptr<const FrontAppIdentity> identity,
    std::string& why, double seconds) {
    wl_display* connection = wl_display_connect(display.c_str());
    if (!connection) {
        why = "Cannot reach the Wayland compositor at " + display + " (" + std::strerror(errno) +
              ").";
        return nullptr;
    }
    return start(std::unique_ptr<FrontAppWlroots>(
                     new FrontAppWlroots(loop, connection, std::move(identity))),
                 seconds, why);
}

std::unique_ptr<FrontAppWlroots> FrontAppWlroots::connectToSocket(
    MainLoop& loop, int fd, std::shared_ptr<const FrontAppIdentity> identity, std::string& why,
    double seconds) {
    wl_display* connection = wl_display_connect_to_fd(fd);
    if (!connection) {
        ::close(fd);
        why = "Cannot talk to the Wayland compositor.";
        return nullptr;
    }
    return start(std::unique_ptr<FrontAppWlroots>(
                     new FrontAppWlroots(loop, connection, std::move(identity))),
                 seconds, why);
}

FrontAppWlroots::FrontAppWlroots(MainLoop& loop, wl_display* display,
                                 std::shared_ptr<const FrontAppIdentity> identity)
    : loop_(loop)
    , display_(display)
    , identity_(std::move(identity)) {}

std::unique_ptr<FrontAppWlroots> FrontAppWlroots::start(std::unique_ptr<FrontAppWlroots> front,
                                                        double seconds, std::string& why) {
    static const wl_registry_listener registryListener = {&FrontAppWlroots::global,
                                                          &FrontAppWlroots::globalRemove};
    FrontAppWlroots& f = *front;
    f.registry_ = wl_display_get_registry(f.display_);
    wl_registry_add_listener(f.registry_, &registryListener, &f);
    // The first answer lists the globals; the second brings the toplevels open now.
    if (auto error = f.roundtrip(seconds)) {
        why = *error;
        return nullptr;
    }
    if (!f.manager_) {
        why = "This Wayland compositor does not tell which window is active (it offers no " +
              std::string(managerInterface) + ").";
        return nullptr;
    }
    auto error = f.roundtrip(seconds);
    if (!error && f.failed_) error = f.status_.reason;
    if (error) {
        why = *error;
        return nullptr;
    }
    f.readWatch_ = f.loop_.watchReadable(wl_display_get_fd(f.display_), [&f] { f.readEvents(); });
    return front;
}

FrontAppWlroots::~FrontAppWlroots() {
    *alive_ = false;
    readWatch_.reset();
    writeWatch_.reset();
    teardown();
}

void FrontAppWlroots::teardown() {
    if (!display_) return;
    // Only the client's own objects go; nothing more is sent.
    for (auto* handle : handles_)
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(handle));
    handles_.clear();
    if (manager_) zwlr_foreign_toplevel_manager_v1_destroy(manager_);
    manager_ = nullptr;
    if (registry_) wl_registry_destroy(registry_);
    registry_ = nullptr;
    wl_display_disconnect(display_);
    display_ = nullptr;
}

std::optional<std::string> FrontAppWlroots::roundtrip(double seconds) {
    bool answered = false;
    static const wl_callback_listener callbackListener = {
        [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
    wl_callback* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &callbackListener, &answered);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::optional<std::string> error;
    while (!error) {
        if (wl_display_dispatch_pending(display_) < 0) {
            error = connectionError();
            break;
        }
        if (answered) break;
        if (wl_display_prepare_read(display_) != 0) continue; // more events already queued
        pollfd p{wl_display_get_fd(display_), POLLIN, 0};
        if (wl_display_flush(display_) < 0 && errno == EAGAIN) p.events |= POLLOUT;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
        bool readable = ready > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR));
        if (!readable) {
            wl_display_cancel_read(display_);
            if (ready > 0 || (ready < 0 && errno == EINTR)) continue; // writable only: flush again
            char within[32];
            std::snprintf(within, sizeof within, "%g s", seconds);
            error = std::string("The Wayland compositor did not answer within ") + within + ".";
            break;
        }
        if (wl_display_read_events(display_) < 0) error = connectionError();
    }
    wl_callback_destroy(callback);
    return error;
}

// Called on the loop when the connection is readable: reads what came, hands it to the
// listeners, and sends what they asked for.
void FrontAppWlroots::readEvents() {
    if (failed_) return;
    while (wl_display_prepare_read(display_) != 0)
        if (wl_display_dispatch_pending(display_) < 0) return fail(connectionError());
    if (wl_display_read_events(display_) < 0) return fail(connectionError());
    if (wl_display_dispatch_pending(display_) < 0) return fail(connectionError());
    if (!failed_) flush();
}

void FrontAppWlroots::flush() {
    if (wl_display_flush(display_) >= 0) {
        writeWatch_.reset();
        return;
    }
    if (errno != EAGAIN) return fail(connectionError());
    // The socket is full: send the rest once it takes more.
    if (!writeWatch_)
        writeWatch_ = loop_.watchWritable(wl_display_get_fd(display_), [this] { flush(); });
}

std::string FrontAppWlroots::connectionError() const {
    int code = wl_display_get_error(display_);
    if (code == EPIPE || code == ECONNRESET)
        return std::string("The Wayland compositor closed the connection.") + lostFront;
    // A protocol error names the object it is about. Anything else is a message this client
    // could not read (libwayland leaves errno as it found it then), or a broken connection.
    const wl_interface* interface = nullptr;
    std::uint32_t id = 0;
    std::uint32_t error = wl_display_get_protocol_error(display_, &interface, &id);
    std::string what = interface ? std::string(interface->name) + " error " + std::to_string(error)
                                 : std::string(std::strerror(code));
    return "The Wayland compositor and this program no longer understand each other (" + what +
           ")." + lostFront;
}

// The source stops for good: no app in front from now on, and the status says why. Called from
// listeners too, so the connection is closed once the current dispatch is over.
void FrontAppWlroots::fail(const std::string& reason) {
    if (failed_) return;
    failed_ = true;
    status_ = FrontAppStatus::unavailable(reason);
    readWatch_.reset();
    writeWatch_.reset();
    bool hadFront = toplevels_.clear();
    std::weak_ptr<bool> alive = alive_;
    loop_.post([this, alive] {
        if (auto a = alive.lock(); a && *a) teardown();
    });
    onStatusChange();
    if (hadFront) onActivate();
}

std::optional<FrontmostApp> FrontAppWlroots::frontmost() {
    if (failed_) return std::nullopt;
    auto appID = toplevels_.front();
    if (!appID) return std::nullopt;
    FrontAppWindow window;
    window.appID = *appID; // the compositor tells no process id
    FrontmostApp app;
    app.bundleID = identity_->ofWindow(window);
    return app;
}

std::optional<std::string> FrontAppWlroots::bundleID(std::int32_t processID) {
    return identity_->ofProcess(processID);
}

void FrontAppWlroots::global(void* data, wl_registry* registry, std::uint32_t name,
                             const char* interface, std::uint32_t version) {
    static const zwlr_foreign_toplevel_manager_v1_listener managerListener = {
        &FrontAppWlroots::toplevel, &FrontAppWlroots::finished};
    auto* f = static_cast<FrontAppWlroots*>(data);
    if (f->manager_ || std::strcmp(interface, managerInterface) != 0 || version == 0) return;
    f->version_ = std::min(version, highestVersion);
    f->managerName_ = name;
    f->manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, f->version_));
    zwlr_foreign_toplevel_manager_v1_add_listener(f->manager_, &managerListener, f);
}

void FrontAppWlroots::globalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto* f = static_cast<FrontAppWlroots*>(data);
    if (f->manager_ && name == f->managerName_)
        f->fail(std::string("The Wayland compositor took away its list of windows.") + lostFront);
}

void FrontAppWlroots::toplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                               zwlr_foreign_toplevel_handle_v1* handle) {
    static const zwlr_foreign_toplevel_handle_v1_listener handleListener = {
        &ignoreText,   &FrontAppWlroots::appID, &ignoreOutput,
        &ignoreOutput, &FrontAppWlroots::state, &FrontAppWlroots::done,
        &FrontAppWlroots::closed, &ignoreParent};
    auto* f = static_cast<FrontAppWlroots*>(data);
    f->handles_.insert(handle);
    f->toplevels_.added(keyOf(handle));
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, f);
}

void FrontAppWlroots::finished(void* data, zwlr_foreign_toplevel_manager_v1*) {
    auto* f = static_cast<FrontAppWlroots*>(data);
    f->fail(std::string("The Wayland compositor stopped telling which window is active.") +
            lostFront);
}

void FrontAppWlroots::appID(void* data, zwlr_foreign_toplevel_handle_v1* handle,
                            const char* appID) {
    static_cast<FrontAppWlroots*>(data)->toplevels_.appID(keyOf(handle), appID ? appID : "");
}

void FrontAppWlroots::state(void* data, zwlr_foreign_toplevel_handle_v1* handle,
                            wl_array* state) {
    static_cast<FrontAppWlroots*>(data)->toplevels_.state(keyOf(handle), state ? state->data : nullptr,
                                                          state ? state->size : 0);
}

void FrontAppWlroots::done(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    auto* f = static_cast<FrontAppWlroots*>(data);
    if (f->toplevels_.done(keyOf(handle)) && !f->failed_) f->onActivate();
}

void FrontAppWlroots::closed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    auto* f = static_cast<FrontAppWlroots*>(data);
    bool frontChanged = f->toplevels_.closed(keyOf(handle));
    f->handles_.erase(handle);
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
    if (frontChanged && !f->failed_) f->onActivate();
}

} // namespace kestrix::core
