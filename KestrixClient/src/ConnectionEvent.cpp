#include "KestrixClient/ConnectionEvent.h"

#include <fmt/format.h>

namespace kestrix::client {

namespace {

struct Describer {
    std::string operator()(const ConnectionEvent::Connected& e) const {
        return fmt::format("connected(version: {})", e.version);
    }
    std::string operator()(const ConnectionEvent::Holding& e) const {
        return fmt::format("holding({})", e.holds);
    }
    std::string operator()(const ConnectionEvent::Devices& e) const {
        std::string ids;
        for (const SpaceMouseDevice& device : e.list)
            ids += (ids.empty() ? "" : ", ") + device.id;
        return fmt::format("devices([{}])", ids);
    }
    std::string operator()(const ConnectionEvent::Axes& e) const {
        return fmt::format("axes({}, {})", e.axes.description(), e.device);
    }
    std::string operator()(const ConnectionEvent::Buttons& e) const {
        return fmt::format("buttons({:#x}, {})", e.held.rawValue, e.device);
    }
    std::string operator()(const ConnectionEvent::Unavailable& e) const {
        return fmt::format("unavailable(\"{}\")", e.reason);
    }
    std::string operator()(const ConnectionEvent::Disconnected&) const { return "disconnected"; }
};

} // namespace

std::string describe(const ConnectionEvent& event) {
    return std::visit(Describer{}, event.value);
}

} // namespace kestrix::client
