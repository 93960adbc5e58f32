#include "KestrixCore/Arbiter.h"

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

Arbiter::Decision nobody() {
    return Arbiter::Decision{};
}
Arbiter::Decision front(int id) {
    return Arbiter::Decision{id, true};
}
Arbiter::Decision background(int id) {
    return Arbiter::Decision{id, false};
}

} // namespace

TEST(ArbiterDecide, nobodyWithoutClaimantsOrWithoutMatchingOrBackgroundClaims) {
    EXPECT_EQ(Arbiter::decide({}, "a.app", 7), nobody());
    EXPECT_EQ(Arbiter::decide({claimant(1, {"b.app"}, false)}, "a.app", std::nullopt), nobody());
    EXPECT_EQ(Arbiter::decide({claimant(1, {"b.app"}, false)}, std::nullopt, std::nullopt),
              nobody());
}

TEST(ArbiterDecide, frontPhaseIsSkippedWithoutFrontApp) {
    // The front process alone does not make claimant 2 a front winner.
    auto a = claimant(1, {}, true);
    auto b = claimant(2, {"a.app"}, false, std::nullopt, std::nullopt, 77);
    EXPECT_EQ(Arbiter::decide({a, b}, std::nullopt, 77), background(1));
}

TEST(ArbiterDecide, laterConnectedClaimantRunningAsFrontProcessWins) {
    auto early = claimant(1, {"a.app"}, false);
    auto late = claimant(2, {"a.app"}, false, std::nullopt, std::nullopt, 4242);
    EXPECT_EQ(Arbiter::decide({early, late}, "a.app", 4242), front(2));
    EXPECT_EQ(Arbiter::decide({late, early}, "a.app", 4242), front(2));
}

TEST(ArbiterDecide, smallerConnectedWinsWhenNeitherOrBothRunAsFrontProcess) {
    auto a = claimant(5, {"a.app"}, false);
    auto b = claimant(3, {"a.app"}, false);
    EXPECT_EQ(Arbiter::decide({a, b}, "a.app", 1), front(3));
    EXPECT_EQ(Arbiter::decide({a, b}, "a.app", std::nullopt), front(3));
    a.processID = b.processID = 9;
    EXPECT_EQ(Arbiter::decide({a, b}, "a.app", 9), front(3));
}

TEST(ArbiterDecide, frontClaimBeatsBackgroundClaims) {
    auto bg = claimant(1, {}, true);
    auto fr = claimant(2, {"x.app", "a.app"}, false);
    EXPECT_EQ(Arbiter::decide({bg, fr}, "a.app", std::nullopt), front(2));
    EXPECT_EQ(Arbiter::decide({bg, fr}, "other.app", std::nullopt), background(1));
}

TEST(ArbiterDecide, frontAppComparesWholeStrings) {
    auto c = claimant(1, {"a.app.helper"}, false);
    EXPECT_EQ(Arbiter::decide({c}, "a.app", std::nullopt), nobody());
}

TEST(ArbiterDecide, backgroundLastRanksAfterAbsentOrFalse) {
    auto a = claimant(1, {}, true, true, 9);
    auto b = claimant(2, {}, true, std::nullopt, std::nullopt);
    EXPECT_EQ(Arbiter::decide({a, b}, std::nullopt, std::nullopt), background(2));
    b.claim.backgroundLast = false;
    EXPECT_EQ(Arbiter::decide({a, b}, std::nullopt, std::nullopt), background(2));
}

TEST(ArbiterDecide, presentLastFrontUseBeatsAbsentAndLargerBeatsSmaller) {
    auto three = claimant(1, {}, true, std::nullopt, 3);
    auto none = claimant(2, {}, true);
    EXPECT_EQ(Arbiter::decide({none, three}, std::nullopt, std::nullopt), background(1));
    EXPECT_EQ(Arbiter::decide({three, none}, std::nullopt, std::nullopt), background(1));
    auto seven = claimant(3, {}, true, std::nullopt, 7);
    EXPECT_EQ(Arbiter::decide({three, seven}, std::nullopt, std::nullopt), background(3));
    EXPECT_EQ(Arbiter::decide({seven, three}, std::nullopt, std::nullopt), background(3));
}

TEST(ArbiterDecide, equalBackgroundKeysFallBackToConnectionOrder) {
    auto a = claimant(4, {}, true, false, 2);
    auto b = claimant(2, {}, true, std::nullopt, 2);
    EXPECT_EQ(Arbiter::decide({a, b}, std::nullopt, std::nullopt), background(2));
    EXPECT_EQ(Arbiter::decide({b, a}, std::nullopt, std::nullopt), background(2));
}

TEST(ArbiterDecide, listenerWithoutBackgroundNeverHolds) {
    auto a = claimant(1, {"x.app"}, false);
    auto b = claimant(2, {}, true, true);
    EXPECT_EQ(Arbiter::decide({a, b}, "y.app", std::nullopt), background(2));
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
