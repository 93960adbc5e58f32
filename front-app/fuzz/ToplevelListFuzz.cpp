// What a wlroots compositor sends about its toplevels (app ids, state arrays of any length, events
// in any order, for toplevels it never announced) and the app id the identity rule makes of the
// one in front: any bytes give an answer or none, never a crash.
//
// The input is a list of events. Each begins with a byte whose low three bits choose the event and
// whose next two bits choose one of four toplevels; app_id and state carry a length byte and then
// that many bytes.
#include "FrontApp/FrontAppIdentity.h"
#include "ToplevelList.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrix::core::ToplevelList;
    static const kestrix::core::FrontAppIdentity identity("/nonexistent",
                                                          std::vector<std::string>{});
    ToplevelList list;
    std::size_t at = 0;
    auto payload = [&]() -> std::string_view {
        std::size_t length = at < size ? data[at++] : 0;
        length = std::min(length, size - at);
        std::string_view bytes(reinterpret_cast<const char*>(data + at), length);
        at += length;
        return bytes;
    };
    while (at < size) {
        std::uint8_t op = data[at++];
        ToplevelList::Key key = (op >> 3) & 3;
        switch (op & 7) {
        case 0: list.added(key); break;
        case 1: list.appID(key, payload()); break;
        case 2: {
            auto bytes = payload();
            list.state(key, bytes.data(), bytes.size());
            break;
        }
        case 3: list.done(key); break;
        case 4: list.closed(key); break;
        case 5: list.clear(); break;
        default: break;
        }
        if (auto front = list.front()) {
            kestrix::core::FrontAppWindow window;
            window.appID = *front;
            (void)identity.ofWindow(window);
        }
    }
    return 0;
}
