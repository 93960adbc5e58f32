#pragma once

namespace kestrix {

// Whether a display can be reached: QT_QPA_PLATFORM names a platform, the Wayland socket exists,
// or the X server of DISPLAY accepts a connection. Qt ends the process when its display cannot be
// reached, so both programs ask this before they make a GUI application (a stale DISPLAY, such as
// a closed forwarded session, must not get that far).
bool hasDisplay();

} // namespace kestrix
