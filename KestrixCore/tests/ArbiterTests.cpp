#include "KestrixCore/Arbiter.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>

using kestrix::Claim;
using kestrix::core::Arbiter;
using kestrix::core::Claimant;

namespace {

Claimant claimant(int id, std::vector<std::string> apps, bool background,
                  std::optional<bool> backgroundLast = std::nullopt,
                  std::optional<int> lastFrontUse = std::nullopt, std::int32_t pid = 0) {
    Claimant c;
    c.id = id;
    c.connected = id;
    c.processID = pid ? pid : 1000 + id;
    c.claim.apps = std::move(apps);
    c.claim.background = background;
    c.claim.backgroundLast = backgroundLast;
    c.lastFrontUse = lastFrontUse;
    return c;
}

Arbiter::Decision front(int id) {
    return Arbiter::Decision{id, true};
}
Arbiter::Decision background(int id) {
    return Arbiter::Decision{id, false};
}

} // namespace

// Each row lists its claimants in both orders: the decision never depends on the list's order.
TEST(ArbiterDecide, frontClaimsThenBackgroundClaimsByTheirKeys) {
    using std::nullopt;
    // A front-only claim (with the claimant's process id) and a background claim.
    const auto fc = [](int id, std::vector<std::string> apps, std::int32_t pid = 0) {
        return claimant(id, std::move(apps), false, nullopt, nullopt, pid);
    };
    const auto bc = [](int id, std::optional<bool> last = nullopt,
                       std::optional<int> frontUse = nullopt) {
        return claimant(id, {}, true, last, frontUse);
    };
    struct Row {
        std::vector<Claimant> claimants;
        std::optional<std::string> frontApp;
        std::optional<std::int32_t> frontPID;
        Arbiter::Decision expected;
    };
    const std::vector<Row> rows = {
        // Nobody: no claimants, no match and no background claim, whole strings only.
        {{}, "a.app", 7, {}},
        {{fc(1, {"b.app"})}, "a.app", nullopt, {}},
        {{fc(1, {"b.app"})}, nullopt, nullopt, {}},
        {{fc(1, {"a.app.helper"})}, "a.app", nullopt, {}},
        // The front process alone makes no front winner.
        {{bc(1), fc(2, {"a.app"}, 77)}, nullopt, 77, background(1)},
        // A claimant running as the front process wins, though connected later.
        {{fc(1, {"a.app"}), fc(2, {"a.app"}, 42)}, "a.app", 42, front(2)},
        // Neither, or both, run as the front process: the one connected first.
        {{fc(5, {"a.app"}), fc(3, {"a.app"})}, "a.app", 1, front(3)},
        {{fc(5, {"a.app"}), fc(3, {"a.app"})}, "a.app", nullopt, front(3)},
        {{fc(5, {"a.app"}, 9), fc(3, {"a.app"}, 9)}, "a.app", 9, front(3)},
        // A matching front claim beats background claims; without a match they hold.
        {{bc(1), fc(2, {"x.app", "a.app"})}, "a.app", nullopt, front(2)},
        {{bc(1), fc(2, {"x.app"})}, "other.app", nullopt, background(1)},
        // backgroundLast ranks after absent or false, yet holds alone.
        {{bc(1, true, 9), bc(2)}, nullopt, nullopt, background(2)},
        {{bc(1, true, 9), bc(2, false)}, nullopt, nullopt, background(2)},
        {{fc(1, {"x.app"}), bc(2, true)}, "y.app", nullopt, background(2)},
        // A front use beats none, the later one an earlier one; equal keys: connection order.
        {{bc(1, nullopt, 3), bc(2)}, nullopt, nullopt, background(1)},
        {{bc(1, nullopt, 3), bc(3, nullopt, 7)}, nullopt, nullopt, background(3)},
        {{bc(4, false, 2), bc(2, nullopt, 2)}, nullopt, nullopt, background(2)},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        EXPECT_EQ(Arbiter::decide(row.claimants, row.frontApp, row.frontPID), row.expected)
            << "row " << i;
        auto reversed = row.claimants;
        std::reverse(reversed.begin(), reversed.end());
        EXPECT_EQ(Arbiter::decide(reversed, row.frontApp, row.frontPID), row.expected)
            << "row " << i << ", reversed";
    }
}

TEST(ArbiterAppsWithOwnClient, collectsOwnIdentifiersOnceAndSorted) {
    std::map<std::int32_t, std::string> bundles{
        {11, "b.app"}, {12, "b.app"}, {13, "a.app"}, {14, "c.app"}};
    auto lookup = [&](std::int32_t pid) -> std::optional<std::string> {
        auto it = bundles.find(pid);
        if (it == bundles.end()) return std::nullopt;
        return it->second;
    };
    std::vector<Claimant> claimants{
        claimant(1, {"b.app"}, false, std::nullopt, std::nullopt, 11),
        claimant(2, {"b.app", "z.app"}, false, std::nullopt, std::nullopt, 12),
        claimant(3, {"a.app"}, false, std::nullopt, std::nullopt, 13),
        claimant(4, {"a.app"}, true, std::nullopt, std::nullopt, 14), // not its own id
        claimant(5, {"d.app"}, true, std::nullopt, std::nullopt, 15), // no bundle id
    };
    EXPECT_EQ(Arbiter::appsWithOwnClient(claimants, lookup),
              (std::vector<std::string>{"a.app", "b.app"}));
}
