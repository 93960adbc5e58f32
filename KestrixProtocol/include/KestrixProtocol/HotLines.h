#pragma once

#include "KestrixProtocol/Messages.h"
#include "SpaceMouseKit/SpaceMouseAxes.h"
#include "SpaceMouseKit/SpaceMouseButtons.h"

#include <string>
#include <string_view>

// The two messages that flow at the device's report rate, written and read in one fixed form
// without building a JSON tree:
//
//     {"axes":{"device":"ID","axes":{"x":X,"y":Y,"z":Z,"rx":RX,"ry":RY,"rz":RZ}}}
//     {"buttons":{"device":"ID","held":BITS}}
//
// for device ids of printable ASCII without quotes or backslashes, which is every id the broker
// makes from ordinary serial numbers, addresses and ports. These are the very lines the JSON
// coder would write and accepts; anything else (an id that needs escaping, other spacing, member
// order or number forms) goes through the JSON coder, so a peer may still write them any way JSON
// allows.
namespace kestrix::hotlines {

// Append the line with its line feed; false, with nothing appended, when the id needs escaping.
bool writeAxes(std::string& out, std::string_view device, const smk::SpaceMouseAxes& axes);
bool writeButtons(std::string& out, std::string_view device, smk::SpaceMouseButtons held);

// The same lines, falling back to the JSON coder for an id that needs escaping.
void appendAxesLine(std::string& out, std::string_view device, const smk::SpaceMouseAxes& axes);
void appendButtonsLine(std::string& out, std::string_view device, smk::SpaceMouseButtons held);

// Reads one line (without its line feed) of exactly one of the two forms into `message`, reusing
// the device text it already holds; false for any other line, and `message` is then unspecified.
// Every line it reads decodes to the same message through the JSON coder.
bool read(std::string_view line, BrokerMessage& message);

} // namespace kestrix::hotlines
