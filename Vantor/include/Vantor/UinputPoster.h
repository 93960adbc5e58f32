#pragma once

#include "Vantor/EventPosting.h"
#include "Vantor/WheelAccumulator.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

// Posts steps as the events of virtual mice made through uinput. Pixel scrolling becomes
// REL_WHEEL_HI_RES / REL_HWHEEL_HI_RES (with the classic REL_WHEEL / REL_HWHEEL whenever a whole
// detent has gathered, since uinput devices get no emulation of them); zoom becomes Ctrl + wheel,
// one detent for each 10 % of magnification; rotate has no wheel counterpart and is dropped.
//
// Where libinput filters wheels, it keeps one state machine per device with one direction for
// both wheels, so a device moving both would be held back on every frame of a diagonal scroll:
// there each wheel has a device of its own, and zoom a third, whose whole detents pass at once
// and leave the scrolling wheels' state alone. Where it passes virtual devices through, one
// device carries everything.
class UinputPoster final : public EventPosting {
public:
    // Where each wheel's input_event records go: the virtual devices made by createDevices, or
    // anything else (pipes in tests); one descriptor may serve several. The poster owns them.
    struct Devices {
        int vertical = -1, horizontal = -1, zoom = -1;
    };
    using Clock = std::function<double()>;
    UinputPoster(Devices devices, Clock now, WheelHandling handling);
    ~UinputPoster() override;
    UinputPoster(const UinputPoster&) = delete;
    UinputPoster& operator=(const UinputPoster&) = delete;

    // Opens the uinput node at `path` and creates the virtual devices the handling needs; on
    // failure returns nothing (no device is left behind) and puts the reason in `error`.
    static std::optional<Devices> createDevices(const std::string& path, WheelHandling handling,
                                                std::string& error);

    void post(const scroll::ScrollStep& step) override;
    void post(const scroll::GestureStep& step, scroll::GestureKind kind) override;

    // Magnification that one Ctrl + wheel detent stands for (browsers zoom in steps of ~10 %).
    static constexpr double zoomPerDetent = 1.1;

private:
    struct Device {
        int fd = -1;
        bool isDevice = false;
    };
    enum class Carries { vertical, horizontal, zoom, everything };
    static std::optional<int> createDevice(const std::string& path, Carries carries,
                                           std::string& error);
    void add(std::uint16_t type, std::uint16_t code, std::int32_t value);
    void send(const Device& device);

    Device vertical_, horizontal_, zoom_;
    Clock now_;
    WheelAccumulator verticalUnits_;
    WheelAccumulator horizontalUnits_;
    double zoomLog_ = 0; // natural log of magnification not yet sent as detents
    bool warnedRotate_ = false;
    std::vector<unsigned char> buffer_;
};

// What the desktop's libinput does with a virtual wheel, from the library installed under `root`
// ("" for the system): the version in the documentation link it carries ("libinput/doc/1.22.1"),
// else the newest interface version it exports ("LIBINPUT_1.21") as the least it can be.
// Versions from 1.29 pass virtual devices through; older ones, and a library not found, filter.
struct WheelHandlingFound {
    WheelHandling handling = WheelHandling::filtered;
    std::string why; // for the log
};
WheelHandlingFound detectWheelHandling(const std::string& root = "");
// The same from the bytes of a library file.
WheelHandling wheelHandlingOfLibrary(std::string_view bytes);

// The system poster: the virtual devices made when the poster is (tried again on use, at most
// every 2 s, while they cannot be made), and whether posting is allowed at all.
class SystemEventPoster final : public EventPosting {
public:
    // The wheel handling is read once, when the poster is made.
    explicit SystemEventPoster(UinputPoster::Clock now, std::string path = "/dev/uinput",
                               WheelHandlingFound handling = detectWheelHandling());
    ~SystemEventPoster() override;

    void post(const scroll::ScrollStep& step) override;
    void post(const scroll::GestureStep& step, scroll::GestureKind kind) override;

    // Whether the uinput node may be opened for writing (the udev rule is installed).
    static bool hasPermission(const std::string& path = "/dev/uinput");
    // What makes the node writable where it is not: loading the module where the node is
    // missing, else the udev rule.
    static std::string permissionAdvice(const std::string& path = "/dev/uinput");

private:
    UinputPoster* device();

    UinputPoster::Clock now_;
    std::string path_;
    WheelHandling handling_;
    std::optional<UinputPoster> poster_;
    double lastAttempt_ = -1e300;
    bool warned_ = false;
};

} // namespace vantor
