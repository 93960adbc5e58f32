#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix::core {

// The toplevel windows a wlroots compositor lists, and which of them is activated. Each toplevel's
// app_id and states arrive as separate events and take effect together on its `done`, as the
// protocol asks. Takes the compositor's bytes as they come: a state array of any length, any
// app_id, events for toplevels it never announced.
class ToplevelList {
public:
    using Key = std::uintptr_t; // one toplevel handle

    // The value of the "activated" state in a state array.
    static constexpr std::uint32_t activatedState = 2;

    void added(Key toplevel);
    void appID(Key toplevel, std::string_view text);
    // The 32-bit state values, in the compositor's byte order; bytes past the last whole value
    // are ignored.
    void state(Key toplevel, const void* data, std::size_t size);
    // Applies what came since the last done; true when the activated toplevel or its app_id
    // changed.
    bool done(Key toplevel);
    // The toplevel is gone; true when it was the activated one.
    bool closed(Key toplevel);
    // Everything is gone (the compositor went away); true when a toplevel was activated.
    bool clear();

    // The app_id of the activated toplevel (empty when it has none); absent when no toplevel is
    // activated. When the compositor activates several (one per seat), the one activated last.
    std::optional<std::string> front() const;

    std::size_t size() const { return toplevels_.size(); }

private:
    struct Values {
        std::string appID;
        bool activated = false;
    };
    struct Toplevel {
        Values applied;
        Values pending;
        std::uint64_t activatedAt = 0; // when it last became activated
    };
    const Toplevel* activated() const;

    std::map<Key, Toplevel> toplevels_;
    std::uint64_t activations_ = 0;
};

} // namespace kestrix::core
