#include "Vantor/UinputPoster.h"

#include "Vantor/Log.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vantor {

namespace {

bool isUinput(int fd) {
    int version = 0;
    return fd >= 0 && ioctl(fd, UI_GET_VERSION, &version) == 0;
}

void destroy(int fd, bool isDevice) {
    if (fd < 0) return;
    if (isDevice) ioctl(fd, UI_DEV_DESTROY);
    ::close(fd);
}

} // namespace

UinputPoster::UinputPoster(Devices devices, Clock now, WheelHandling handling)
    : vertical_{devices.vertical, isUinput(devices.vertical)}
    , horizontal_{devices.horizontal, isUinput(devices.horizontal)}
    , zoom_{devices.zoom, isUinput(devices.zoom)}
    , now_(std::move(now))
    , verticalUnits_(handling)
    , horizontalUnits_(handling) {}

UinputPoster::~UinputPoster() {
    destroy(vertical_.fd, vertical_.isDevice);
    if (horizontal_.fd != vertical_.fd) destroy(horizontal_.fd, horizontal_.isDevice);
    if (zoom_.fd != vertical_.fd && zoom_.fd != horizontal_.fd) destroy(zoom_.fd, zoom_.isDevice);
}

std::optional<int> UinputPoster::createDevice(const std::string& path, Carries carries,
                                              std::string& error) {
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
    // Relative X/Y and a left button make udev and libinput treat each device as a mouse; the
    // left Ctrl key is pressed around zoom detents.
    std::vector<int> relCodes = {REL_X, REL_Y};
    std::vector<int> keyCodes = {BTN_LEFT};
    if (carries != Carries::horizontal)
        relCodes.insert(relCodes.end(), {REL_WHEEL, REL_WHEEL_HI_RES});
    if (carries == Carries::horizontal || carries == Carries::everything)
        relCodes.insert(relCodes.end(), {REL_HWHEEL, REL_HWHEEL_HI_RES});
    if (carries == Carries::zoom || carries == Carries::everything)
        keyCodes.push_back(KEY_LEFTCTRL);
    static constexpr struct {
        const char* name;
        std::uint16_t product;
    } identities[] = {{"Vantor vertical scroll wheel", 0x5656},
                      {"Vantor horizontal scroll wheel", 0x5648},
                      {"Vantor zoom wheel", 0x565a},
                      {"Vantor virtual scroll wheel", 0x5653}};
    const auto& identity = identities[static_cast<int>(carries)];
    if (ioctl(fd, UI_SET_EVBIT, EV_KEY) < 0 || ioctl(fd, UI_SET_EVBIT, EV_REL) < 0 ||
        ioctl(fd, UI_SET_EVBIT, EV_SYN) < 0)
        return fail("UI_SET_EVBIT");
    for (int code : relCodes)
        if (ioctl(fd, UI_SET_RELBIT, code) < 0) return fail("UI_SET_RELBIT");
    for (int code : keyCodes)
        if (ioctl(fd, UI_SET_KEYBIT, code) < 0) return fail("UI_SET_KEYBIT");
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1d6b; // Linux Foundation: the usual vendor of virtual devices
    setup.id.product = identity.product;
    setup.id.version = 1;
    std::strncpy(setup.name, identity.name, UINPUT_MAX_NAME_SIZE - 1);
    if (ioctl(fd, UI_DEV_SETUP, &setup) < 0) return fail("UI_DEV_SETUP");
    if (ioctl(fd, UI_DEV_CREATE) < 0) return fail("UI_DEV_CREATE");
    return fd;
}

std::optional<UinputPoster::Devices>
UinputPoster::createDevices(const std::string& path, WheelHandling handling, std::string& error) {
    if (handling == WheelHandling::passthrough) {
        auto fd = createDevice(path, Carries::everything, error);
        if (!fd) return std::nullopt;
        return Devices{*fd, *fd, *fd};
    }
    Devices devices;
    for (auto [carries, fd] : {std::pair{Carries::vertical, &devices.vertical},
                               std::pair{Carries::horizontal, &devices.horizontal},
                               std::pair{Carries::zoom, &devices.zoom}}) {
        auto made = createDevice(path, carries, error);
        if (!made) {
            for (int done : {devices.vertical, devices.horizontal})
                destroy(done, true);
            return std::nullopt;
        }
        *fd = *made;
    }
    return devices;
}

void UinputPoster::add(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    auto bytes = reinterpret_cast<const unsigned char*>(&event);
    buffer_.insert(buffer_.end(), bytes, bytes + sizeof event);
}

void UinputPoster::send(const Device& device) {
    std::size_t done = 0;
    while (device.fd >= 0 && done < buffer_.size()) {
        ssize_t written = ::write(device.fd, buffer_.data() + done, buffer_.size() - done);
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
    auto v = verticalUnits_.add(up, now);
    auto h = horizontalUnits_.add(static_cast<std::int64_t>(step.x), now);
    auto frame = [this](const Device& device) {
        add(EV_SYN, SYN_REPORT, 0);
        send(device);
    };
    if (v.units != 0) {
        if (v.detents != 0) add(EV_REL, REL_WHEEL, v.detents);
        add(EV_REL, REL_WHEEL_HI_RES, v.units);
        // One device for both wheels moves them in one frame, as a mouse does.
        if (vertical_.fd != horizontal_.fd) frame(vertical_);
    }
    if (h.units != 0) {
        if (h.detents != 0) add(EV_REL, REL_HWHEEL, h.detents);
        add(EV_REL, REL_HWHEEL_HI_RES, h.units);
    }
    if (!buffer_.empty()) frame(horizontal_);
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
    send(zoom_);
}

namespace {

// The version in the documentation link libinput's messages carry ("libinput/doc/1.22.1"); a
// development build says "latest" and counts as not found.
std::optional<std::pair<int, int>> documentedVersion(std::string_view bytes) {
    constexpr std::string_view marker = "/libinput/doc/";
    auto at = bytes.find(marker);
    if (at == std::string_view::npos) return std::nullopt;
    unsigned major = 0, minor = 0;
    char dot = 0;
    std::string text(bytes.substr(at + marker.size(), 16));
    if (std::sscanf(text.c_str(), "%3u%c%4u", &major, &dot, &minor) != 3 || dot != '.')
        return std::nullopt;
    return std::pair{static_cast<int>(major), static_cast<int>(minor)};
}

// The newest interface version the library exports ("LIBINPUT_1.21"): the least it can be.
std::optional<std::pair<int, int>> newestInterface(std::string_view bytes) {
    constexpr std::string_view marker = "LIBINPUT_";
    std::optional<std::pair<int, int>> newest;
    for (auto at = bytes.find(marker); at != std::string_view::npos;
         at = bytes.find(marker, at + 1)) {
        unsigned major = 0, minor = 0;
        char dot = 0;
        std::string text(bytes.substr(at + marker.size(), 12));
        if (std::sscanf(text.c_str(), "%3u%c%4u", &major, &dot, &minor) != 3 || dot != '.')
            continue;
        std::pair version{static_cast<int>(major), static_cast<int>(minor)};
        if (!newest || version > *newest) newest = version;
    }
    return newest;
}

std::optional<std::pair<int, int>> libinputVersion(std::string_view bytes) {
    if (auto version = documentedVersion(bytes)) return version;
    return newestInterface(bytes);
}

WheelHandling handlingOf(std::optional<std::pair<int, int>> version) {
    return version && *version >= std::pair{1, 29} ? WheelHandling::passthrough
                                                   : WheelHandling::filtered;
}

} // namespace

WheelHandling wheelHandlingOfLibrary(std::string_view bytes) {
    return handlingOf(libinputVersion(bytes));
}

WheelHandlingFound detectWheelHandling(const std::string& root) {
    namespace fs = std::filesystem;
    std::vector<fs::path> folders;
    std::error_code error;
    // The multiarch folders (/usr/lib/x86_64-linux-gnu) first, then lib64 and lib.
    for (const auto& entry : fs::directory_iterator(root + "/usr/lib", error))
        if (entry.path().filename().string().find("-linux-") != std::string::npos)
            folders.push_back(entry.path());
    std::sort(folders.begin(), folders.end());
    for (const char* folder : {"/usr/lib64", "/usr/lib", "/lib64", "/lib"})
        folders.push_back(root + folder);
    for (const auto& folder : folders) {
        fs::path library = folder / "libinput.so.10";
        std::ifstream in(library, std::ios::binary | std::ios::ate);
        if (!in) continue;
        // Read in one go: a character at a time the read costs as much as the rest of start-up.
        std::string bytes(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
        in.seekg(0);
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
        auto version = libinputVersion(bytes);
        WheelHandling handling = handlingOf(version);
        std::string named = version ? "libinput " + std::to_string(version->first) + "." +
                                          std::to_string(version->second)
                                    : "libinput of unknown version";
        return {handling, named + " (" + library.string() + ")" +
                              (handling == WheelHandling::filtered
                                   ? ": wheel motion gets a head start after rest"
                                   : ": wheel motion goes through as it comes")};
    }
    return {WheelHandling::filtered,
            "libinput not found: wheel motion gets a head start after rest"};
}

SystemEventPoster::SystemEventPoster(UinputPoster::Clock now, std::string path,
                                     WheelHandlingFound handling)
    : now_(std::move(now))
    , path_(std::move(path))
    , handling_(handling.handling) {
    Log::info(handling.why);
    // The device is made up front: the desktop needs a moment to pick up a new input device, and
    // events written before it has would be lost from the first movement.
    device();
}

SystemEventPoster::~SystemEventPoster() = default;

bool SystemEventPoster::hasPermission(const std::string& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

std::string SystemEventPoster::permissionAdvice(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error) && !error)
        return path + " is missing: load the uinput module (sudo modprobe uinput)";
    return "install the udev rule that lets you write " + path;
}

UinputPoster* SystemEventPoster::device() {
    if (poster_) return &*poster_;
    double now = now_();
    if (now - lastAttempt_ < 2.0) return nullptr;
    lastAttempt_ = now;
    std::string error;
    auto devices = UinputPoster::createDevices(path_, handling_, error);
    if (!devices) {
        if (!warned_) {
            warned_ = true;
            Log::error("cannot post events: " + error);
        }
        return nullptr;
    }
    poster_.emplace(*devices, now_, handling_);
    Log::info("posting through virtual input devices");
    return &*poster_;
}

void SystemEventPoster::post(const scroll::ScrollStep& step) {
    if (auto poster = device()) poster->post(step);
}

void SystemEventPoster::post(const scroll::GestureStep& step, scroll::GestureKind kind) {
    if (auto poster = device()) poster->post(step, kind);
}

} // namespace vantor
