#pragma once

// A stand-in Wayland compositor that speaks the wire protocol byte by byte over a socket pair, so
// that tests can send what no real compositor sends on request: an unknown event, a protocol
// error, a hang-up at a chosen moment. A thread of its own answers the client's registry, bind
// and sync requests as a compositor does; the test sends the toplevel events itself.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace wltest {

// One message on the wire: object id, opcode, and the arguments, each 32-bit aligned.
class Message {
public:
    Message(std::uint32_t object, std::uint16_t opcode)
        : object_(object)
        , opcode_(opcode) {}
    Message& uint(std::uint32_t value) {
        put(&value, 4);
        return *this;
    }
    Message& string(const std::string& text) {
        uint(static_cast<std::uint32_t>(text.size() + 1));
        put(text.c_str(), text.size() + 1);
        return *this;
    }
    Message& array(const std::vector<std::uint8_t>& bytes) {
        uint(static_cast<std::uint32_t>(bytes.size()));
        put(bytes.data(), bytes.size());
        return *this;
    }
    Message& values(const std::vector<std::uint32_t>& values) {
        std::vector<std::uint8_t> bytes(values.size() * 4);
        if (!values.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
        return array(bytes);
    }
    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> all(8);
        std::uint32_t header[2] = {object_,
                                   static_cast<std::uint32_t>((8 + body_.size()) << 16) | opcode_};
        std::memcpy(all.data(), header, 8);
        all.insert(all.end(), body_.begin(), body_.end());
        return all;
    }

private:
    void put(const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        body_.insert(body_.end(), p, p + size);
        while (body_.size() % 4)
            body_.push_back(0);
    }
    std::uint32_t object_;
    std::uint16_t opcode_;
    std::vector<std::uint8_t> body_;
};

struct Global {
    std::string interface;
    std::uint32_t version;
};

// Event opcodes of the toplevel handle.
enum HandleEvent : std::uint16_t { title, appID, outputEnter, outputLeave, state, done, closed, parent };

class FakeCompositor {
public:
    // `wake` is called on the compositor's thread whenever what it recorded changed (a request
    // arrived, the client left), so that a test's loop can look again.
    explicit FakeCompositor(std::vector<Global> globals, bool answers = true,
                            std::function<void()> wake = [] {})
        : globals_(std::move(globals))
        , answers_(answers)
        , wake_(std::move(wake)) {
        int fds[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
        server_ = fds[0];
        client_ = fds[1];
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeCompositor() {
        hangUp();
        thread_.join();
        ::close(server_);
    }
    FakeCompositor(const FakeCompositor&) = delete;
    FakeCompositor& operator=(const FakeCompositor&) = delete;

    // The client's end, for wl_display_connect_to_fd (taken over by the client).
    int clientSocket() const { return client_; }

    // The toplevels open when the client binds the manager (app id and states each), announced
    // right after the bind, before the answer to the client's next sync.
    struct Open {
        std::string app;
        std::vector<std::uint32_t> states;
    };
    void openAtBind(std::vector<Open> toplevels) {
        std::lock_guard lock(mutex_);
        open_ = std::move(toplevels);
    }

    void send(const Message& m) {
        std::lock_guard lock(mutex_);
        write(m);
    }
    // A new toplevel handle from the manager; its id.
    std::uint32_t newToplevel() {
        std::lock_guard lock(mutex_);
        return announce();
    }
    // A toplevel's app id, states and done, as a compositor announces a change.
    void toplevel(std::uint32_t id, const std::string& app, const std::vector<std::uint32_t>& states) {
        std::lock_guard lock(mutex_);
        change(id, app, states);
    }
    void hangUp() { ::shutdown(server_, SHUT_RDWR); }
    // The client closed its end (or the compositor hung up).
    bool clientGone() const { return gone_; }

    std::uint32_t manager() const {
        std::lock_guard lock(mutex_);
        return manager_;
    }
    std::uint32_t boundVersion() const {
        std::lock_guard lock(mutex_);
        return boundVersion_;
    }
    std::uint32_t registry() const {
        std::lock_guard lock(mutex_);
        return registry_;
    }
    // The handles the client destroyed.
    std::vector<std::uint32_t> destroyed() const {
        std::lock_guard lock(mutex_);
        return destroyed_;
    }
    // Server-made ids are counted from here; handles are made in order.
    static constexpr std::uint32_t firstServerID = 0xff000000;

private:
    std::uint32_t announce() {
        std::uint32_t id = nextServerID_++;
        write(Message(manager_, 0).uint(id));
        return id;
    }
    void change(std::uint32_t id, const std::string& app, const std::vector<std::uint32_t>& states) {
        write(Message(id, HandleEvent::appID).string(app));
        write(Message(id, HandleEvent::state).values(states));
        write(Message(id, HandleEvent::done));
    }
    void write(const Message& m) {
        auto bytes = m.bytes();
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(server_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += std::size_t(n);
        }
    }
    bool readAll(void* data, std::size_t size) {
        auto* p = static_cast<std::uint8_t*>(data);
        while (size > 0) {
            ssize_t n = ::recv(server_, p, size, 0);
            if (n <= 0) return false;
            p += n;
            size -= std::size_t(n);
        }
        return true;
    }
    void serve() {
        struct Gone {
            FakeCompositor& f;
            ~Gone() {
                f.gone_ = true;
                f.wake_();
            }
        } gone{*this};
        for (;;) {
            std::uint32_t header[2];
            if (!readAll(header, 8)) return;
            std::uint32_t size = header[1] >> 16, opcode = header[1] & 0xffff;
            if (size < 8) return;
            std::vector<std::uint32_t> body((size - 8) / 4);
            if (!readAll(body.data(), size - 8)) return;
            {
                std::lock_guard lock(mutex_);
                request(header[0], opcode, body);
            }
            wake_();
        }
    }
    // wl_display is object 1: sync (0) and get_registry (1). The registry's bind (0) carries the
    // name, the interface string, the version and the new id.
    void request(std::uint32_t object, std::uint32_t opcode, const std::vector<std::uint32_t>& a) {
        if (object == 1 && opcode == 0 && answers_) {
            write(Message(a.at(0), 0).uint(++serial_)); // wl_callback.done
            write(Message(1, 1).uint(a.at(0)));         // wl_display.delete_id
        } else if (object == 1 && opcode == 1) {
            registry_ = a.at(0);
            for (std::uint32_t i = 0; i < globals_.size(); ++i)
                write(Message(registry_, 0)
                          .uint(i + 1)
                          .string(globals_[i].interface)
                          .uint(globals_[i].version));
        } else if (object == registry_ && opcode == 0) {
            std::uint32_t words = (a.at(1) + 3) / 4;
            boundVersion_ = a.at(2 + words);
            manager_ = a.at(3 + words);
            for (const auto& t : open_)
                change(announce(), t.app, t.states);
        } else if (object >= firstServerID && opcode == 7) { // a handle's destroy
            destroyed_.push_back(object);
        }
    }

    std::vector<Global> globals_;
    bool answers_;
    std::function<void()> wake_;
    int server_ = -1;
    int client_ = -1;
    mutable std::mutex mutex_;
    std::vector<Open> open_;
    std::uint32_t registry_ = 0;
    std::uint32_t manager_ = 0;
    std::uint32_t boundVersion_ = 0;
    std::uint32_t serial_ = 0;
    std::uint32_t nextServerID_ = firstServerID;
    std::vector<std::uint32_t> destroyed_;
    std::atomic<bool> gone_{false};
    std::thread thread_;
};

} // namespace wltest
