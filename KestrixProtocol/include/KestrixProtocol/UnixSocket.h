#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

// The broker's listening socket and a client's connection to it: Unix-domain stream sockets at a
// file-system path. Every descriptor made here is close-on-exec, since the broker spawns
// processes. Linux has no per-socket switch for the broken-pipe signal: whoever writes to these
// sockets sends with MSG_NOSIGNAL.
namespace kestrix::UnixSocket {

// Why a listening socket could not be set up; what() is the text to log.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& description)
        : std::runtime_error(description) {}
    std::string description() const { return what(); }
};

// The longest path in bytes (UTF-8): 103 bytes and the terminating zero fill a 104-byte path
// field, the smallest in common use, so that every peer can reach a socket the broker made.
inline constexpr std::size_t maxPathLength = 103;

// Removes whatever file is at path, binds a new socket there with permissions 0600 and listens
// with a backlog of 16. The descriptor is blocking. Throws Failure.
int listen(const std::string& path);

// Connects to the socket at path, blocking until the connection is made or refused. The
// descriptor is blocking. Absent when the path is too long or nobody listens there.
std::optional<int> connect(const std::string& path);

// A connection begun without blocking: the descriptor (non-blocking) and whether it is already
// connected. One still under way is finished by finishConnect() once the descriptor is writable.
struct Connecting {
    int fd = -1;
    bool connected = false;
};

// Begins connecting to the socket at path without ever blocking. Absent when the path is too
// long, nobody listens there, or the listener's queue is full (a broker that does not accept).
std::optional<Connecting> startConnect(const std::string& path);

// For a descriptor from startConnect() that has become writable: true when it is connected,
// false when the connection failed (the caller closes the descriptor).
bool finishConnect(int fd);

} // namespace kestrix::UnixSocket
