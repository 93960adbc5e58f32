#pragma once

#include <string>
#include <vector>

namespace kestrix::client::detail {

// Where the `kestrix` program may lie relative to the program at `executablePath`, in the order
// they are tried: the installed layout (bin/vantor beside libexec/vantor/kestrix), the same
// folder, and the build tree, for a program one folder below the build (<build>/KestrixClient/)
// and for the app two below it (<build>/Vantor/app/vantor), beside <build>/Kestrix/kestrix.
std::vector<std::string> bundledCandidates(const std::string& executablePath);

// The path of this process's own program, empty when it cannot be read.
std::string ownExecutablePath();

} // namespace kestrix::client::detail
