#pragma once

#include <array>
#include <string>

// The library's one connection to spacenavd, through libspnav. libspnav keeps a single
// connection per process in global state and is not thread-safe: the caller serialises every
// call. spnav.h pulls in Xlib, so it stays inside SpnavLink.cpp.
namespace kestrix::driver::spnav {

struct Event {
    enum class Kind { motion, button, device, other };
    Kind kind = Kind::other;
    std::array<int, 6> axes{}; // motion: x, y, z, rx, ry, rz
    int button = 0;            // button: its number
    bool press = false;        // button: pressed (true) or released
    bool added = false;        // device: added (true) or removed
    int device = 0;            // device: the daemon's id of the device
};

// Connects to the daemon's socket ($SPNAV_SOCKET, else the system's). False when nobody answers.
bool open();
void close();
// The connection's descriptor, -1 when closed.
int fd();
// The client name the daemon shows; needs protocol 1.
bool setName(const std::string& name);
// Asks for motion, button and device events.
bool selectEvents();
// The next event that libspnav has read or can read without waiting.
bool nextEvent(Event& event);
// Switches the device's LED. libspnav takes the next 32 bytes from the daemon as the answer, so
// an event that crosses the request is lost and the call reports failure.
bool setLED(bool on);

} // namespace kestrix::driver::spnav
