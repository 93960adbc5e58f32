#include "KestrixCore/Arbiter.h"

#include <algorithm>
#include <set>

namespace kestrix::core {

namespace {

// True when c ranks before best among background claims.
bool ranksBefore(const Claimant& c, const Claimant& best) {
    bool cLast = c.claim.backgroundLast.value_or(false);
    bool bestLast = best.claim.backgroundLast.value_or(false);
    if (cLast != bestLast) return !cLast;
    if (c.lastFrontUse.has_value() != best.lastFrontUse.has_value())
        return c.lastFrontUse.has_value();
    if (c.lastFrontUse && *c.lastFrontUse != *best.lastFrontUse)
        return *c.lastFrontUse > *best.lastFrontUse;
    return c.connected < best.connected;
}

} // namespace

Arbiter::Decision Arbiter::decide(const std::vector<Claimant>& claimants,
                                  const std::optional<std::string>& frontmostApp,
                                  std::optional<std::int32_t> frontmostProcess) {
    if (frontmostApp) {
        const Claimant* best = nullptr;
        for (const Claimant& c : claimants) {
            const auto& apps = c.claim.apps;
            if (std::find(apps.begin(), apps.end(), *frontmostApp) == apps.end()) continue;
            if (!best) {
                best = &c;
                continue;
            }
            bool cFront = frontmostProcess && c.processID == *frontmostProcess;
            bool bestFront = frontmostProcess && best->processID == *frontmostProcess;
            if (cFront != bestFront) {
                if (cFront) best = &c;
            } else if (c.connected < best->connected) {
                best = &c;
            }
        }
        if (best) return Decision{best->id, true};
    }
    const Claimant* best = nullptr;
    for (const Claimant& c : claimants) {
        if (!c.claim.background) continue;
        if (!best || ranksBefore(c, *best)) best = &c;
    }
    if (!best) return Decision{};
    return Decision{best->id, false};
}

std::vector<std::string> Arbiter::appsWithOwnClient(
    const std::vector<Claimant>& claimants,
    const std::function<std::optional<std::string>(std::int32_t)>& bundleID) {
    std::set<std::string> apps;
    for (const Claimant& c : claimants) {
        std::optional<std::string> own = bundleID ? bundleID(c.processID) : std::nullopt;
        if (!own) continue;
        const auto& listed = c.claim.apps;
        if (std::find(listed.begin(), listed.end(), *own) != listed.end()) apps.insert(*own);
    }
    return {apps.begin(), apps.end()};
}

} // namespace kestrix::core
