#include "HidrawHandle.h"

#include "KestrixProtocol/MainLoop.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>

namespace kestrix::core {

HidrawHandle::HidrawHandle(MainLoop& loop, std::shared_ptr<HIDSystemCalls> calls, std::string node,
                           std::vector<std::string> eventNodes,
                           std::map<std::string, PropertyValue> own)
    : loop_(loop)
    , calls_(std::move(calls))
    , node_(std::move(node))
    , eventNodes_(std::move(eventNodes))
    , own_(std::move(own)) {}

HidrawHandle::~HidrawHandle() {
    close();
}

std::optional<PropertyValue> HidrawHandle::property(const std::string& name) const {
    auto it = own_.find(name);
    if (it == own_.end()) return std::nullopt;
    return it->second;
}

void HidrawHandle::setInputHandler(std::uint8_t* buffer, std::size_t size, InputHandler handler) {
    buffer_ = buffer;
    size_ = size;
    handler_ = std::move(handler);
}

HIDResult HidrawHandle::open(bool seize) {
    if (fd_ >= 0) return hidSuccess;
    int fd = calls_->open(node_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return static_cast<HIDResult>(errno);
    std::vector<int> grabbed;
    auto fail = [&](int error) {
        for (int eventFd : grabbed) {
            calls_->ioctl(eventFd, EVIOCGRAB, nullptr);
            calls_->close(eventFd);
        }
        calls_->close(fd);
        return static_cast<HIDResult>(error);
    };
    if (seize) {
        for (const auto& path : eventNodes_) {
            int eventFd = calls_->open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (eventFd < 0) return fail(errno);
            if (calls_->ioctl(eventFd, EVIOCGRAB, reinterpret_cast<void*>(1)) < 0) {
                int error = errno;
                calls_->close(eventFd);
                return fail(error);
            }
            grabbed.push_back(eventFd);
        }
    }
    fd_ = fd;
    grabbed_ = std::move(grabbed);
    return hidSuccess;
}

void HidrawHandle::activate() {
    if (fd_ < 0 || watch_ || !handler_ || !buffer_) return;
    watch_ = loop_.watchFrequentReadable(fd_, [this] { readable(); });
}

void HidrawHandle::readable() {
    ssize_t n = calls_->read(fd_, buffer_, size_);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        // The node went away (ENODEV) or ended; the removal arrives through udev.
        watch_->cancel();
        return;
    }
    // The handler may cancel this handle; nothing here touches it afterwards.
    handler_(buffer_, static_cast<std::size_t>(n));
}

void HidrawHandle::close() {
    if (watch_) {
        watch_->cancel();
        watch_.reset();
    }
    for (int eventFd : grabbed_) {
        calls_->ioctl(eventFd, EVIOCGRAB, nullptr);
        calls_->close(eventFd);
    }
    grabbed_.clear();
    if (fd_ >= 0) {
        calls_->close(fd_);
        fd_ = -1;
    }
}

// The handler stays until the handle is destroyed: cancel may run inside it.
void HidrawHandle::cancel() {
    close();
}

HIDResult HidrawHandle::getFeature(std::uint8_t reportID, std::uint8_t* buffer,
                                   std::size_t& length) {
    if (fd_ < 0) return EBADF;
    buffer[0] = reportID;
    // The request number carries the buffer size in _IOC_SIZEBITS bits; more would spill into
    // its other fields.
    length = std::min<std::size_t>(length, _IOC_SIZEMASK);
    int n = calls_->ioctl(fd_, HIDIOCGFEATURE(length), buffer);
    if (n < 0) return static_cast<HIDResult>(errno);
    length = std::min(length, static_cast<std::size_t>(n));
    return hidSuccess;
}

HIDResult HidrawHandle::setOutputReport(std::uint8_t, const std::uint8_t* bytes,
                                        std::size_t length) {
    if (fd_ < 0) return EBADF;
    // hidraw takes the report id as the first byte of what is written.
    ssize_t n = calls_->write(fd_, bytes, length);
    if (n < 0) return static_cast<HIDResult>(errno);
    if (static_cast<std::size_t>(n) != length) return EIO;
    return hidSuccess;
}

} // namespace kestrix::core
