#include "SpaceMouseKit/SpaceMouseAxes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>

namespace smk {
namespace {

using Direction = SpaceMouseAxes::Direction;

TEST(SpaceMouseAxes, descriptionNamesEachAxisInFieldOrder) {
    EXPECT_EQ((SpaceMouseAxes{12, -3, 0, 0, 0, 7}).description(), "x 12 y -3 z 0 rx 0 ry 0 rz 7");
    EXPECT_TRUE(SpaceMouseAxes::zero.isZero());
    EXPECT_FALSE((SpaceMouseAxes{0, 0, 0, 0, 0, 1}).isZero());
}

// Three counts on one axis, either way: twelve samples, each read as a different direction.
TEST(SpaceMouseAxesDirection, eachOneAxisMotionIsItsOwnDirection) {
    std::set<Direction::Value> found;
    for (std::size_t index = 0; index < 6; ++index) {
        for (int sign : {1, -1}) {
            std::array<std::int64_t, 6> v{};
            v[index] = 3 * sign;
            const SpaceMouseAxes sample{v[0], v[1], v[2], v[3], v[4], v[5]};
            const auto direction = sample.strongest();
            ASSERT_TRUE(direction) << sample.description();
            EXPECT_EQ(direction->axis(), (Direction::Axis{static_cast<int>(index), sign}));
            EXPECT_EQ(sample.along(*direction), 3);
            found.insert(*direction);
        }
    }
    EXPECT_EQ(found.size(), 12u);
    // The signs users are most likely to get wrong.
    EXPECT_EQ((SpaceMouseAxes{0, -3, 0, 0, 0, 0}).strongest(), Direction::slideForward);
    EXPECT_EQ((SpaceMouseAxes{0, 0, -3, 0, 0, 0}).strongest(), Direction::pull);
    EXPECT_EQ((SpaceMouseAxes{0, 0, 0, 0, -3, 0}).strongest(), Direction::tiltRight);
    EXPECT_EQ((SpaceMouseAxes{0, 0, 0, 0, 0, 3}).strongest(), Direction::twistRight);
    EXPECT_EQ(Direction(Direction::slideForward).instruction(),
              "Slide the cap forward, away from you");
    EXPECT_EQ(Direction(Direction::twistLeft).instruction(), "Twist the cap counter-clockwise");
}

TEST(SpaceMouseAxesDirection, rawTextRoundTripsAndMustMatchExactly) {
    for (auto direction : Direction::allCases()) {
        EXPECT_EQ(Direction::fromRawValue(direction.rawValue()), direction);
        EXPECT_EQ(nlohmann::json(direction).get<Direction>(), direction);
    }
    EXPECT_EQ(nlohmann::json(Direction(Direction::tiltBack)), "tiltBack");
    EXPECT_FALSE(Direction::fromRawValue("TwistLeft"));
    EXPECT_FALSE(Direction::fromRawValue(""));
    EXPECT_THROW(nlohmann::json("TwistLeft").get<Direction>(), std::exception);
    EXPECT_THROW(nlohmann::json(3).get<Direction>(), std::exception);
}

TEST(SpaceMouseAxes, strongestTakesLargestAndEarlierOnTie) {
    EXPECT_FALSE(SpaceMouseAxes::zero.strongest());
    EXPECT_EQ((SpaceMouseAxes{5, -5, 0, 0, 0, 0}).strongest(), Direction::slideRight);
    EXPECT_EQ((SpaceMouseAxes{0, 0, -2, 0, 0, 9}).strongest(), Direction::twistRight);
    EXPECT_EQ((SpaceMouseAxes{0, 0, -9, 0, 0, 9}).strongest(), Direction::pull);
    EXPECT_EQ((SpaceMouseAxes{0, 0, 0, 0, 4, -5}).strongest(), Direction::twistLeft);
    EXPECT_EQ((SpaceMouseAxes{5, 0, 0, 0, 0, 0}).along(Direction::slideLeft), 0);
    const SpaceMouseAxes mostNegative{INT64_MIN, 0, 0, 0, 0, 0};
    EXPECT_EQ(mostNegative.along(Direction::slideLeft), INT64_MAX);
}

TEST(SpaceMouseAxes, fractionDividesByFullScaleAndCaps) {
    EXPECT_DOUBLE_EQ((SpaceMouseAxes{0, 0, 3, 0, 0, 0}).fraction(Direction::push, 0), 1.0);
    EXPECT_DOUBLE_EQ((SpaceMouseAxes{0, 0, 175, 0, 0, 0}).fraction(Direction::push, 350), 0.5);
    EXPECT_DOUBLE_EQ((SpaceMouseAxes{0, 0, 700, 0, 0, 0}).fraction(Direction::push, 350), 1.0);
    EXPECT_DOUBLE_EQ((SpaceMouseAxes{0, 0, 700, 0, 0, 0}).fraction(Direction::pull, 350), 0.0);
    EXPECT_DOUBLE_EQ((SpaceMouseAxes{0, 0, -1, 0, 0, 0}).fraction(Direction::pull, -5), 1.0);
}

TEST(SpaceMouseAxesJSON, sixIntegerMembers) {
    const nlohmann::json json = SpaceMouseAxes{12, -3, 0, 1, 2, 7};
    EXPECT_EQ(json, nlohmann::json::parse(R"({"x":12,"y":-3,"z":0,"rx":1,"ry":2,"rz":7})"));
    EXPECT_EQ(json.get<SpaceMouseAxes>(), (SpaceMouseAxes{12, -3, 0, 1, 2, 7}));
    for (const char* text : {R"({"x":1,"y":2,"z":3,"rx":4,"ry":5})",
                             R"({"x":1,"y":2,"z":3,"rx":4,"ry":5,"rz":1.5})",
                             R"({"x":1,"y":2,"z":3,"rx":4,"ry":5,"rz":"6"})",
                             R"({"x":18446744073709551615,"y":2,"z":3,"rx":4,"ry":5,"rz":6})",
                             R"([1,2,3,4,5,6])"}) {
        EXPECT_THROW(nlohmann::json::parse(text).get<SpaceMouseAxes>(), std::exception) << text;
    }
}

} // namespace
} // namespace smk
