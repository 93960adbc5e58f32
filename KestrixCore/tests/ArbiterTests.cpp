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
    struct Row {
        const char* what;
        std::vector<Claimant> claimants;
        std::optional<std::string> frontApp;
        std::optional<std::int32_t> frontPID;
        Arbiter::Decision expected;
    };
    const std::vector<Row> rows = {
        {"no claimants", {}, "a.app", 7, {}},
        {"no match, no background", {claimant(1, {"b.app"}, false)}, "a.app", std::nullopt, {}},
        {"no front app", {claimant(1, {"b.app"}, false)}, std::nullopt, std::nullopt, {}},
        {"whole strings only", {claimant(1, {"a.app.helper"}, false)}, "a.app", std::nullopt, {}},
        {"the front process alone is no front app",
         {claimant(1, {}, true), claimant(2, {"a.app"}, false, std::nullopt, std::nullopt, 77)},
         std::nullopt, 77, background(1)},
        {"a later claimant running as the front process",
         {claimant(1, {"a.app"}, false), claimant(2, {"a.app"}, false, std::nullopt, std::nullopt, 4242)},
         "a.app", 4242, front(2)},
        {"neither runs as the front process",
         {claimant(5, {"a.app"}, false), claimant(3, {"a.app"}, false)}, "a.app", 1, front(3)},
        {"no front process", {claimant(5, {"a.app"}, false), claimant(3, {"a.app"}, false)},
         "a.app", std::nullopt, front(3)},
        {"both run as the front process",
         {claimant(5, {"a.app"}, false, std::nullopt, std::nullopt, 9),
          claimant(3, {"a.app"}, false, std::nullopt, std::nullopt, 9)},
         "a.app", 9, front(3)},
        {"front beats background", {claimant(1, {}, true), claimant(2, {"x.app", "a.app"}, false)},
         "a.app", std::nullopt, front(2)},
        {"background without a match", {claimant(1, {}, true), claimant(2, {"x.app"}, false)},
         "other.app", std::nullopt, background(1)},
        {"backgroundLast ranks after absent",
         {claimant(1, {}, true, true, 9), claimant(2, {}, true)}, std::nullopt, std::nullopt,
         background(2)},
        {"backgroundLast ranks after false",
         {claimant(1, {}, true, true, 9), claimant(2, {}, true, false)}, std::nullopt,
         std::nullopt, background(2)},
        {"backgroundLast still holds",
         {claimant(1, {"x.app"}, false), claimant(2, {}, true, true)}, "y.app", std::nullopt,
         background(2)},
        {"a front use beats none", {claimant(1, {}, true, std::nullopt, 3), claimant(2, {}, true)},
         std::nullopt, std::nullopt, background(1)},
        {"the later front use wins",
         {claimant(1, {}, true, std::nullopt, 3), claimant(3, {}, true, std::nullopt, 7)},
         std::nullopt, std::nullopt, background(3)},
        {"equal keys: connection order",
         {claimant(4, {}, true, false, 2), claimant(2, {}, true, std::nullopt, 2)}, std::nullopt,
         std::nullopt, background(2)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Arbiter::decide(row.claimants, row.frontApp, row.frontPID), row.expected)
            << row.what;
        auto reversed = row.claimants;
        std::reverse(reversed.begin(), reversed.end());
        EXPECT_EQ(Arbiter::decide(reversed, row.frontApp, row.frontPID), row.expected)
            << row.what << ", reversed";
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
    EXPECT_TRUE(Arbiter::appsWithOwnClient({}, lookup).empty());
}
