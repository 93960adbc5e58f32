#include "FrontAppX11.h"

#include "FrontApp/Display.h"
#include "KestrixProtocol/MainLoop.h"
#include "KestrixProtocol/TextEncoding.h"

#include <cstdlib>
#include <cstring>

namespace kestrix::core {

std::unique_ptr<FrontAppX11> FrontAppX11::connect(MainLoop& loop, const char* display,
                                                  FrontAppIdentityRef identity, std::string& why) {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display, &screen);
    if (!connection || xcb_connection_has_error(connection)) {
        why = cannotReachX11(display ? display : "");
        if (connection) xcb_disconnect(connection);
        return nullptr;
    }
    auto front = std::unique_ptr<FrontAppX11>(
        new FrontAppX11(loop, connection, screen, std::move(identity), display ? display : ""));
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection, &front->ewmh_);
    if (!xcb_ewmh_init_atoms_replies(&front->ewmh_, cookies, nullptr) ||
        screen >= front->ewmh_.nb_screens) {
        why = std::string("cannot read the window manager's atoms of the X display ") +
              (display ? display : "");
        return nullptr;
    }
    front->ewmhReady_ = true;
    front->begin();
    return front;
}

FrontAppX11::FrontAppX11(MainLoop& loop, xcb_connection_t* connection, int screen,
                         FrontAppIdentityRef identity, std::string display)
    : loop_(loop)
    , connection_(connection)
    , screen_(screen)
    , identity_(std::move(identity))
    , display_(std::move(display)) {}

void FrontAppX11::begin() {
    root_ = ewmh_.screens[screen_]->root;
    uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
    checkPublished();
    active_ = activeWindow();
    watch_ = loop_.watchReadable(xcb_get_file_descriptor(connection_), [this] { readEvents(); });
}

FrontAppX11::~FrontAppX11() {
    *alive_ = false;
    watch_.reset();
    if (ewmhReady_) xcb_ewmh_connection_wipe(&ewmh_);
    xcb_disconnect(connection_);
}

xcb_window_t FrontAppX11::activeWindow() {
    xcb_window_t window = 0;
    if (!xcb_ewmh_get_active_window_reply(&ewmh_, xcb_ewmh_get_active_window(&ewmh_, screen_),
                                          &window, nullptr))
        return 0;
    return window;
}

// Whether a window manager tells the active window: it lists _NET_ACTIVE_WINDOW among what it
// supports, or has set it. Without one, no window is ever active; the status says why, and turns
// working when one comes (PropertyNotify of either on the root).
bool FrontAppX11::checkPublished() {
    bool published = false;
    xcb_ewmh_get_atoms_reply_t supported{};
    if (xcb_ewmh_get_supported_reply(&ewmh_, xcb_ewmh_get_supported(&ewmh_, screen_), &supported,
                                     nullptr)) {
        for (uint32_t i = 0; i < supported.atoms_len && !published; ++i)
            published = supported.atoms[i] == ewmh_._NET_ACTIVE_WINDOW;
        xcb_ewmh_get_atoms_reply_wipe(&supported);
    }
    xcb_window_t window = 0;
    published =
        published || xcb_ewmh_get_active_window_reply(
                         &ewmh_, xcb_ewmh_get_active_window(&ewmh_, screen_), &window, nullptr);
    FrontAppStatus status =
        published ? FrontAppStatus{}
                  : FrontAppStatus::unavailable(
                        "The window manager of the X display " + display_ +
                        " does not tell which window is active (_NET_ACTIVE_WINDOW), so the app "
                        "in front is not known; it is followed as soon as one that does runs.");
    if (status == status_) return false;
    status_ = std::move(status);
    return true;
}

std::optional<std::int32_t> FrontAppX11::processOf(xcb_window_t window) {
    uint32_t pid = 0;
    if (!xcb_ewmh_get_wm_pid_reply(&ewmh_, xcb_ewmh_get_wm_pid(&ewmh_, window), &pid, nullptr) ||
        pid == 0)
        return std::nullopt;
    return static_cast<std::int32_t>(pid);
}

// The window's process and its WM_CLASS, which holds two strings: the instance and the class.
FrontAppWindow FrontAppX11::factsOf(xcb_window_t window) {
    FrontAppWindow facts;
    facts.processID = processOf(window);
    // 128 words hold two ids of the longest length and their ends.
    auto cookie =
        xcb_get_property(connection_, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 128);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
    if (!reply) return facts;
    int length = xcb_get_property_value_length(reply);
    const char* value = static_cast<const char*>(xcb_get_property_value(reply));
    std::string all(value, static_cast<std::size_t>(length > 0 ? length : 0));
    free(reply);
    auto zero = all.find('\0');
    if (zero == std::string::npos) return facts;
    std::string cls = all.substr(zero + 1);
    auto end = cls.find('\0');
    if (end != std::string::npos) cls.resize(end);
    facts.instance = fromX11String(all.substr(0, zero));
    facts.windowClass = fromX11String(cls);
    return facts;
}

std::optional<FrontmostApp> FrontAppX11::frontmost() {
    if (!status_.working() || xcb_connection_has_error(connection_)) return std::nullopt;
    xcb_window_t window = active_;
    if (window == 0 || window == XCB_NONE) return std::nullopt;
    FrontAppWindow facts = factsOf(window);
    FrontmostApp app;
    app.processID = facts.processID;
    app.bundleID = identity_->ofWindow(facts);
    drainLater();
    return app;
}

std::optional<std::string> FrontAppX11::bundleID(std::int32_t processID) {
    if (auto id = identity_->ofProcess(processID)) return id;
    if (xcb_connection_has_error(connection_)) return std::nullopt;
    // Otherwise the app is known by one of its windows.
    std::optional<std::string> found;
    xcb_ewmh_get_windows_reply_t list{};
    if (xcb_ewmh_get_client_list_reply(&ewmh_, xcb_ewmh_get_client_list(&ewmh_, screen_), &list,
                                       nullptr)) {
        for (uint32_t i = 0; i < list.windows_len && !found; ++i)
            if (processOf(list.windows[i]) == processID) {
                FrontAppWindow facts = factsOf(list.windows[i]);
                facts.processID.reset(); // already asked
                found = identity_->ofWindow(facts);
            }
        xcb_ewmh_get_windows_reply_wipe(&list);
    }
    drainLater();
    return found;
}

void FrontAppX11::readEvents() {
    bool changed = false, supportChanged = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
            if (notify->window == root_ && notify->atom == ewmh_._NET_ACTIVE_WINDOW) changed = true;
            if (notify->window == root_ && notify->atom == ewmh_._NET_SUPPORTED)
                supportChanged = true;
        }
        free(event);
    }
    if (xcb_connection_has_error(connection_)) {
        // The display went away: no app is in front any more, and the descriptor stays readable.
        watch_.reset();
        if (active_ != 0) {
            active_ = 0;
            onActivate();
        }
        status_ = FrontAppStatus::unavailable("The X display " + display_ +
                                              " went away. Start Vantor again in the new "
                                              "desktop session.");
        onStatusChange();
        return;
    }
    if ((changed || supportChanged) && !status_.working() && checkPublished()) {
        onStatusChange();
        // frontmost() was absent until now: whichever window is active is news.
        active_ = 0;
        changed = true;
    }
    if (!changed) return;
    xcb_window_t now = activeWindow();
    drainLater();
    if (now == active_) return;
    active_ = now;
    onActivate();
}

// Waiting for a reply may have moved events from the socket into xcb's queue, where the readable
// watch would not see them; look at them once the current work is done.
void FrontAppX11::drainLater() {
    std::weak_ptr<bool> alive = alive_;
    loop_.post([this, alive] {
        if (auto a = alive.lock(); a && *a) readEvents();
    });
}

FrontAppAttempt makeX11FrontApp(MainLoop& loop, const FrontAppSession& session,
                                FrontAppIdentityRef identity, const FrontAppLog& log) {
    if (session.x11Display.empty()) return {nullptr, "There is no X display (DISPLAY is not set)."};
    std::string why;
    auto x11 = FrontAppX11::connect(loop, session.x11Display.c_str(), std::move(identity), why);
    if (!x11) return {nullptr, why};
    if (log) x11->log = log;
    return {std::move(x11), {}};
}

} // namespace kestrix::core
