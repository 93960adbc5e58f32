#pragma once

#include "Vantor/EventPosting.h"
#include "Vantor/WheelAccumulator.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

// Posts steps as the events of a virtual mouse made through uinput. Pixel scrolling becomes
// REL_WHEEL_HI_RES / REL_HWHEEL_HI_RES (with the classic REL_WHEEL / REL_HWHEEL whenever a whole
// detent has gathered, since uinput devices get no emulation of them); zoom becomes Ctrl + wheel,
// one detent for each 10 % of magnification; rotate has no wheel counterpart and is dropped.
class UinputPoster final : public EventPosting {
public:
    // Writes the input_event records to a descriptor: the virtual device made by createDevice, or
    // anything else (a pipe in tests). The poster owns the descriptor.
    using Clock = std::function<double()>;
    UinputPoster(int fd, Clock now);
    ~UinputPoster() override;
    UinputPoster(const UinputPoster&) = delete;
    UinputPoster& operator=(const UinputPoster&) = delete;

    // Opens the uinput node at `path` and creates the virtual device; on failure returns nothing
    // and puts the reason in `error`.
    static std::optional<int> createDevice(const std::string& path, std::string& error);

    void post(const scroll::ScrollStep& step) override;
    void post(const scroll::GestureStep& step, scroll::GestureKind kind) override;

    // Magnification that one Ctrl + wheel detent stands for (browsers zoom in steps of ~10 %).
    static constexpr double zoomPerDetent = 1.1;

private:
    void add(std::uint16_t type, std::uint16_t code, std::int32_t value);
    void send();

    int fd_;
    Clock now_;
    bool isDevice_ = false;
    WheelAccumulator vertical_;
    WheelAccumulator horizontal_;
    double zoomLog_ = 0; // natural log of magnification not yet sent as detents
    bool warnedRotate_ = false;
    std::vector<unsigned char> buffer_;
};

// The system poster: a virtual device made when the poster is (tried again on use, at most every
// 2 s, while it cannot be made), and whether posting is allowed at all.
class SystemEventPoster final : public EventPosting {
public:
    explicit SystemEventPoster(UinputPoster::Clock now, std::string path = "/dev/uinput");
    ~SystemEventPoster() override;

    void post(const scroll::ScrollStep& step) override;
    void post(const scroll::GestureStep& step, scroll::GestureKind kind) override;

    // Whether the uinput node may be opened for writing (the udev rule is installed).
    static bool hasPermission(const std::string& path = "/dev/uinput");

private:
    UinputPoster* device();

    UinputPoster::Clock now_;
    std::string path_;
    std::optional<UinputPoster> poster_;
    double lastAttempt_ = -1e300;
    bool warned_ = false;
};

} // namespace vantor
