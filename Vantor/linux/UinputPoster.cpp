#include "Vantor/UinputPoster.h"

#include "Vantor/Log.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vantor {

UinputPoster::UinputPoster(int fd, Clock now)
    : fd_(fd)
    , now_(std::move(now)) {
    int version = 0;
    isDevice_ = ioctl(fd_, UI_GET_VERSION, &version) == 0;
}

UinputPoster::~UinputPoster() {
    if (fd_ >= 0) {
        if (isDevice_) ioctl(fd_, UI_DEV_DESTROY);
        ::close(fd_);
    }
}

std::optional<int> UinputPoster::createDevice(const std::string& path, std::string& error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    auto fail = [&](const char* what) -> std::optional<int> {
        error = std::string(what) + " on " + path + ": " + std::strerror(errno);
        ::close(fd);
        return std::nullopt;
    };
    // Relative X/Y and a left button make udev and libinput treat the device as a mouse; the
    // left Ctrl key is pressed around zoom detents.
    const int relCodes[] = {
        REL_X, REL_Y, REL_WHEEL, REL_HWHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES};
    if (ioctl(fd, UI_SET_EVBIT, EV_KEY) < 0 || ioctl(fd, UI_SET_EVBIT, EV_REL) < 0 ||
        ioctl(fd, UI_SET_EVBIT, EV_SYN) < 0)
        return fail("UI_SET_EVBIT");
    for (int code : relCodes)
        if (ioctl(fd, UI_SET_RELBIT, code) < 0) return fail("UI_SET_RELBIT");
    if (ioctl(fd, UI_SET_KEYBIT, BTN_LEFT) < 0 || ioctl(fd, UI_SET_KEYBIT, KEY_LEFTCTRL) < 0)
        return fail("UI_SET_KEYBIT");
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1d6b; // Linux Foundation: the usual vendor of virtual devices
    setup.id.product = 0x5653;
    setup.id.version = 1;
    std::strncpy(setup.name, "Vantor virtual scroll wheel", UINPUT_MAX_NAME_SIZE - 1);
    if (ioctl(fd, UI_DEV_SETUP, &setup) < 0) return fail("UI_DEV_SETUP");
    if (ioctl(fd, UI_DEV_CREATE) < 0) return fail("UI_DEV_CREATE");
    return fd;
}

void UinputPoster::add(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    auto bytes = reinterpret_cast<const unsigned char*>(&event);
    buffer_.insert(buffer_.end(), bytes, bytes + sizeof event);
}

void UinputPoster::send() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        ssize_t written = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break; // a full or broken device drops this step, as the system would
        done += static_cast<std::size_t>(written);
    }
    buffer_.clear();
}

void UinputPoster::post(const scroll::ScrollStep& step) {
    double now = now_();
    // Wheel up is positive on Linux, the opposite sign of the step's vertical pixels; right is
    // positive for both. The lowest 64-bit count has no positive counterpart; the accumulator
    // clamps anyway.
    std::int64_t up = step.y == std::numeric_limits<std::int64_t>::min()
                          ? std::numeric_limits<std::int64_t>::max()
                          : -step.y;
    auto v = vertical_.add(up, now);
    auto h = horizontal_.add(static_cast<std::int64_t>(step.x), now);
    if (v.units == 0 && h.units == 0) return;
    if (v.detents != 0) add(EV_REL, REL_WHEEL, v.detents);
    if (h.detents != 0) add(EV_REL, REL_HWHEEL, h.detents);
    if (v.units != 0) add(EV_REL, REL_WHEEL_HI_RES, v.units);
    if (h.units != 0) add(EV_REL, REL_HWHEEL_HI_RES, h.units);
    add(EV_SYN, SYN_REPORT, 0);
    send();
}

void UinputPoster::post(const scroll::GestureStep& step, scroll::GestureKind kind) {
    if (kind == scroll::GestureKind::rotate) {
        if (!warnedRotate_) {
            warnedRotate_ = true;
            Log::info("rotate gestures have no wheel counterpart here: dropped");
        }
        return;
    }
    if (step.phase == scroll::GesturePhase::began) zoomLog_ = 0;
    if (std::isfinite(step.amount) && step.amount > -1) zoomLog_ += std::log1p(step.amount);
    double perDetent = std::log(zoomPerDetent);
    auto detents =
        static_cast<std::int32_t>(std::clamp(std::trunc(zoomLog_ / perDetent), -1e6, 1e6));
    if (step.phase == scroll::GesturePhase::ended)
        zoomLog_ = 0;
    else
        zoomLog_ -= detents * perDetent;
    if (detents == 0) return;
    add(EV_KEY, KEY_LEFTCTRL, 1);
    add(EV_SYN, SYN_REPORT, 0);
    add(EV_REL, REL_WHEEL, detents);
    add(EV_REL, REL_WHEEL_HI_RES, detents * 120);
    add(EV_SYN, SYN_REPORT, 0);
    add(EV_KEY, KEY_LEFTCTRL, 0);
    add(EV_SYN, SYN_REPORT, 0);
    send();
}

SystemEventPoster::SystemEventPoster(UinputPoster::Clock now, std::string path)
    : now_(std::move(now))
    , path_(std::move(path)) {
    // The device is made up front: the desktop needs a moment to pick up a new input device, and
    // events written before it has would be lost from the first movement.
    device();
}

SystemEventPoster::~SystemEventPoster() = default;

bool SystemEventPoster::hasPermission(const std::string& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

UinputPoster* SystemEventPoster::device() {
    if (poster_) return &*poster_;
    double now = now_();
    if (now - lastAttempt_ < 2.0) return nullptr;
    lastAttempt_ = now;
    std::string error;
    auto fd = UinputPoster::createDevice(path_, error);
    if (!fd) {
        if (!warned_) {
            warned_ = true;
            Log::error("cannot post events: " + error);
        }
        return nullptr;
    }
    poster_.emplace(*fd, now_);
    Log::info("posting through a virtual input device");
    return &*poster_;
}

void SystemEventPoster::post(const scroll::ScrollStep& step) {
    if (auto poster = device()) poster->post(step);
}

void SystemEventPoster::post(const scroll::GestureStep& step, scroll::GestureKind kind) {
    if (auto poster = device()) poster->post(step, kind);
}

} // namespace vantor
