// The libinput library file is read at start to learn what the desktop does with a virtual wheel.
// Whatever its bytes, reading them must not crash or read out of bounds.

#include "Vantor/UinputPoster.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vantor::wheelHandlingOfLibrary({reinterpret_cast<const char*>(data), size});
    return 0;
}
