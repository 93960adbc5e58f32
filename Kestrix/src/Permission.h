#pragma once

#include <string>

// Whether this user may open the HID device nodes ("granted", "denied" or "not determined" when
// there is none to try), the counterpart of the permission to listen to input devices. A udev rule
// (TAG+="uaccess") gives the user at the seat access to the SpaceMouse nodes.
std::string hidrawAccess(const std::string& devFolder = "/dev");
