#pragma once

#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/MainLoop.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace kestrix {

namespace detail {

// A callback that is run through a shared reference: running it copies nothing, and a handler
// may still replace or clear itself while it runs. Assigned like a std::function.
template <class Arg> class SharedCallback {
public:
    SharedCallback() = default;
    SharedCallback(std::nullptr_t) {}
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, SharedCallback> &&
                                                std::is_invocable_v<F&, Arg>>>
    SharedCallback(F&& f) {
        std::function<void(Arg)> function(std::forward<F>(f));
        if (function) f_ = std::make_shared<const std::function<void(Arg)>>(std::move(function));
    }

    explicit operator bool() const { return f_ != nullptr; }
    void operator()(Arg arg) const {
        if (auto f = f_) (*f)(arg);
    }

private:
    std::shared_ptr<const std::function<void(Arg)>> f_;
};

// The byte side of a line connection: the descriptor, its watches and the output backlog. Owned
// through std::shared_ptr; its watches hold it weakly, and hold it strongly only while they run,
// so an owner may drop the connection from inside any of its callbacks.
class LineChannel : public std::enable_shared_from_this<LineChannel> {
public:
    // The longest unterminated input tail tolerated; a peer that sends more without a line feed
    // is cut off.
    static constexpr std::size_t lineLimit = 0x100000;
    // Unsent output beyond this must drain: a peer that lets more pile up and reads nothing of
    // it for stallSeconds has stopped reading. A peer that reads keeps its connection, whatever
    // the size of one answer, up to backlogCeiling, the most output kept for any peer.
    static constexpr std::size_t backlogLimit = 0x10000;
    static constexpr std::size_t backlogCeiling = 0x400000;
    static constexpr double stallSeconds = 2.0;
    // The most read per readiness event, so that one busy peer cannot hold up the loop.
    static constexpr std::size_t readSize = 4096;

    LineChannel(const LineChannel&) = delete;
    LineChannel& operator=(const LineChannel&) = delete;

    // Starts reading. Does nothing once closed or when already started.
    void start();

    // While held, the descriptor is not watched: what the peer sends waits in the socket until
    // readWaiting() or the end of the hold takes it. For an owner that uses input at a pace of
    // its own and need not wake for every line.
    void holdReading(bool hold);
    // Reads and delivers everything that has arrived, once started; a peer that keeps sending is
    // read for at most waitingLimit bytes a call.
    void readWaiting();
    static constexpr std::size_t waitingLimit = 0x40000;

    // Stops reading and writing, discards unsent output and calls onClose; only the first call
    // does anything. The descriptor stays open until the connection is destroyed, which is when
    // the peer sees the end of the stream.
    void close();

    int fd() const { return fd_; }
    bool isClosed() const { return closed_; }
    // True when the connection was closed because the peer stopped reading (or let more than
    // backlogCeiling bytes pile up).
    bool stalled() const { return stalled_; }

    // True when the connection was closed because the peer sent a line longer than lineLimit.
    bool overlong() const { return overlong_; }

    // Called once, by the first close(), whatever its cause.
    std::function<void()> onClose;
    // Called when the peer has sent more than lineLimit bytes without a line feed, just before
    // the connection closes: the owner's last chance to send the peer why.
    std::function<void()> onOverlong;

protected:
    // Adopts the connected socket fd: makes it non-blocking and close-on-exec.
    LineChannel(MainLoop& loop, int fd);
    // Cancels the watches that still exist, then closes the descriptor; calls no callback.
    virtual ~LineChannel();

    // Decodes the bytes of one read and delivers its messages.
    virtual void deliver(std::string_view bytes) = 0;
    // Input bytes after the last line feed.
    virtual std::size_t pendingInput() const = 0;

    // Queues one encoded line and writes what the socket takes at once.
    void queue(std::string_view line);

    void checkThread() const;

private:
    void watchInput();
    // Reads once and delivers; true when the read filled its buffer, so that more may wait.
    bool readAvailable();
    void flush();
    void cutOff();
    void armProgressCheck();
    void checkProgress();

    MainLoop& loop_;
    const int fd_;
    std::unique_ptr<Watch> source_; // the read watch, from start() to close()
    std::unique_ptr<Watch> writer_; // the write watch, only while output waits for the socket
    std::string backlog_;
    bool started_ = false;
    bool held_ = false;
    bool closed_ = false;
    bool stalled_ = false;
    bool overlong_ = false;
    bool reading_ = false; // delivering the lines of one read
    bool progressCheckArmed_ = false; // a check of the backlog's draining is scheduled
    bool progressed_ = false;         // bytes went out since that check was armed
};

} // namespace detail

// One message kind out, another in, one JSON line each, over a connected stream socket that the
// connection owns. Nothing blocks: reads take at most 4,096 bytes per readiness event, writes go
// out at once where the socket takes them and otherwise wait in a backlog. Messages are delivered
// in order; a line that does not decode is dropped. Messages that arrived in the same read are all
// delivered, even after a handler closed the connection. Only for the loop's own thread.
//
//     auto connection = LineConnection<BrokerMessage, ClientMessage>::create(loop, fd);
//     connection->onMessage = [weak](const ClientMessage& m) { ... };
//     connection->onClose = [weak] { ... drop the connection ... };
//     connection->start();
template <class Out, class In> class LineConnection final : public detail::LineChannel {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    static std::shared_ptr<LineConnection> create(MainLoop& loop, int fd) {
        return std::make_shared<LineConnection>(Passkey{}, loop, fd);
    }
    LineConnection(Passkey, MainLoop& loop, int fd)
        : LineChannel(loop, fd) {}

    // Called for each message received.
    detail::SharedCallback<const In&> onMessage;

    // Queues the message as one line. Does nothing once closed. When more than backlogLimit
    // bytes wait unsent and the peer takes none of them for stallSeconds, or more than
    // backlogCeiling wait, the peer has stopped reading: stalled() becomes true and the
    // connection closes.
    void send(const Out& message) {
        sendWritten([&message](std::string& out) { LineEncoder::encodeInto(out, message); });
    }

    // The same for a line that `write(std::string&)` appends, line feed included, to the buffer
    // it is handed: for a message that is cheaper to write than to build. The buffer is reused
    // from send to send.
    template <class Write> void sendWritten(Write&& write) {
        checkThread();
        if (isClosed()) return;
        // A long line (a device list, say) does not pin its buffer for good.
        if (line_.capacity() > retainedLine) std::string().swap(line_);
        line_.clear();
        write(line_);
        queue(line_); // the last use of this object: onClose may drop it
    }

private:
    static constexpr std::size_t retainedLine = 4096;

    void deliver(std::string_view bytes) override {
        // Looked up afresh for each message, and held while it runs, so a handler may replace
        // itself.
        decoder_.feed(bytes, [this](const In& message) { onMessage(message); });
    }

    std::size_t pendingInput() const override { return decoder_.pendingCount(); }

    LineDecoder<In> decoder_;
    std::string line_;
};

} // namespace kestrix
