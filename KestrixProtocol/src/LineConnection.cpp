#include "KestrixProtocol/LineConnection.h"

#include <cassert>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrix::detail {

LineChannel::LineChannel(MainLoop& loop, int fd)
    : loop_(loop)
    , fd_(fd) {
    int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    int descriptorFlags = ::fcntl(fd_, F_GETFD);
    if (descriptorFlags >= 0) ::fcntl(fd_, F_SETFD, descriptorFlags | FD_CLOEXEC);
}

LineChannel::~LineChannel() {
    // Cancellation is complete when it returns, so nothing watches the descriptor any more.
    writer_.reset();
    source_.reset();
    ::close(fd_);
}

void LineChannel::checkThread() const {
    assert(loop_.isLoopThread() && "a line connection is used on its loop's thread only");
}

void LineChannel::start() {
    checkThread();
    if (closed_ || started_) return;
    started_ = true;
    watchInput();
}

void LineChannel::watchInput() {
    if (closed_ || !started_ || held_ || source_) return;
    source_ = loop_.watchReadable(fd_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->readAvailable();
    });
}

void LineChannel::holdReading(bool hold) {
    checkThread();
    held_ = hold;
    if (hold)
        source_.reset();
    else
        watchInput();
}

void LineChannel::readWaiting() {
    checkThread();
    if (!started_) return;
    auto self = shared_from_this(); // onClose may drop the owner's reference
    std::size_t taken = 0;
    while (!closed_ && taken < waitingLimit && readAvailable())
        taken += readSize;
}

bool LineChannel::readAvailable() {
    char buffer[readSize];
    ssize_t count = ::read(fd_, buffer, sizeof buffer);
    if (count < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) close();
        return false;
    }
    if (count == 0) {
        close(); // the peer is gone; an unterminated tail is lost
        return false;
    }
    reading_ = true; // a handler's send that fails must not read from inside this read
    deliver(std::string_view(buffer, std::size_t(count)));
    reading_ = false;
    if (!closed_ && pendingInput() > lineLimit) cutOff();
    return std::size_t(count) == sizeof buffer;
}

void LineChannel::cutOff() {
    auto self = shared_from_this(); // the handlers may drop the owner's reference
    overlong_ = true;
    if (auto handler = onOverlong) handler();
    close();
}

void LineChannel::queue(std::string_view line) {
    if (!writer_ && backlog_.empty()) {
        // Nothing waits: the line goes out straight away, and only what the socket does not take
        // (or an error, which the flush below meets again) joins the backlog.
        ssize_t count = ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count == ssize_t(line.size())) return;
        if (count > 0) line.remove_prefix(std::size_t(count));
    }
    auto self = shared_from_this(); // onClose may drop the owner's reference
    backlog_ += line;
    if (!writer_) {
        flush();
        if (closed_) return;
    }
    if (backlog_.size() > backlogCeiling) {
        stalled_ = true;
        close();
    } else if (backlog_.size() > backlogLimit && !progressCheckArmed_) {
        armProgressCheck();
    }
}

void LineChannel::armProgressCheck() {
    progressCheckArmed_ = true;
    progressed_ = false;
    loop_.after(stallSeconds, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->checkProgress();
    });
}

void LineChannel::checkProgress() {
    progressCheckArmed_ = false;
    if (closed_ || backlog_.size() <= backlogLimit) return;
    if (!progressed_) {
        stalled_ = true;
        close();
        return;
    }
    armProgressCheck(); // still over the limit, but draining: look again later
}

void LineChannel::flush() {
    while (!backlog_.empty()) {
        // MSG_NOSIGNAL: a peer that has gone away gives EPIPE here instead of killing the process.
        ssize_t count = ::send(fd_, backlog_.data(), backlog_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count > 0) {
            progressed_ = true;
            backlog_.erase(0, std::size_t(count));
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        // The peer is gone, but what it said before it went (why it went, say) still waits to
        // be read: delivered first (as much as readWaiting() takes), then the connection closes.
        if (started_ && !held_ && !reading_) {
            auto self = shared_from_this();
            for (std::size_t taken = 0; !closed_ && taken < waitingLimit && readAvailable();)
                taken += readSize;
        }
        close();
        return;
    }
    if (backlog_.empty()) {
        writer_.reset();
    } else if (!writer_) {
        writer_ = loop_.watchWritable(fd_, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->flush();
        });
    }
}

void LineChannel::close() {
    checkThread();
    if (closed_) return;
    auto self = shared_from_this(); // onClose may drop the owner's reference
    closed_ = true;
    backlog_.clear();
    backlog_.shrink_to_fit();
    writer_.reset();
    source_.reset();
    if (auto handler = onClose) handler();
}

} // namespace kestrix::detail
