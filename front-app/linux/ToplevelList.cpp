#include "ToplevelList.h"

#include <cstring>

namespace kestrix::core {

void ToplevelList::added(Key toplevel) {
    toplevels_[toplevel] = Toplevel{};
}

void ToplevelList::appID(Key toplevel, std::string_view text) {
    auto it = toplevels_.find(toplevel);
    if (it != toplevels_.end()) it->second.pending.appID.assign(text);
}

void ToplevelList::state(Key toplevel, const void* data, std::size_t size) {
    auto it = toplevels_.find(toplevel);
    if (it == toplevels_.end()) return;
    bool activated = false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t at = 0; bytes && at + sizeof(std::uint32_t) <= size;
         at += sizeof(std::uint32_t)) {
        std::uint32_t value;
        std::memcpy(&value, bytes + at, sizeof value);
        if (value == activatedState) activated = true;
    }
    it->second.pending.activated = activated;
}

const ToplevelList::Toplevel* ToplevelList::activated() const {
    const Toplevel* best = nullptr;
    for (const auto& [key, toplevel] : toplevels_)
        if (toplevel.applied.activated && (!best || toplevel.activatedAt > best->activatedAt))
            best = &toplevel;
    return best;
}

bool ToplevelList::done(Key toplevel) {
    auto it = toplevels_.find(toplevel);
    if (it == toplevels_.end()) return false;
    auto before = front();
    Toplevel& t = it->second;
    if (t.pending.activated && !t.applied.activated) t.activatedAt = ++activations_;
    t.applied = t.pending;
    return front() != before;
}

bool ToplevelList::closed(Key toplevel) {
    auto it = toplevels_.find(toplevel);
    if (it == toplevels_.end()) return false;
    auto before = front();
    toplevels_.erase(it);
    return front() != before;
}

bool ToplevelList::clear() {
    bool had = front().has_value();
    toplevels_.clear();
    return had;
}

std::optional<std::string> ToplevelList::front() const {
    if (const Toplevel* t = activated()) return t->applied.appID;
    return std::nullopt;
}

} // namespace kestrix::core
