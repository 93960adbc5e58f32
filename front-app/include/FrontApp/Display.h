#pragma once

#include <string>

namespace kestrix {

// Whether a display can be reached: QT_QPA_PLATFORM names a platform, the Wayland socket exists,
// or the X server of DISPLAY accepts a connection. Qt ends the process when its display cannot be
// reached, so both programs ask this before they make a GUI application (a stale DISPLAY, such as
// a closed forwarded session, must not get that far).
bool hasDisplay();

// Why the display the session names cannot be reached, such as "cannot reach the X display :99"
// or "cannot reach the Wayland display /run/user/1000/wayland-1" (both when both are named);
// empty when one is reached or the session names none.
std::string unreachableDisplay();

// "cannot reach the X display " followed by the display's name.
std::string cannotReachX11(const std::string& display);

} // namespace kestrix
