#include "SpaceMouseKit/SpaceMouseAxes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unordered_set>

namespace smk {
namespace {

using Direction = SpaceMouseAxes::Direction;

TEST(SpaceMouseAxes, zeroIsZeroAndReadsAllSixZeros) {
    EXPECT_TRUE(SpaceMouseAxes::zero.isZero());
    EXPECT_EQ(SpaceMouseAxes::zero.description(), "x 0 y 0 z 0 rx 0 ry 0 rz 0");
    EXPECT_FALSE((SpaceMouseAxes{0, 0, 0, 0, 0, 1}).isZero());
    EXPECT_FALSE((SpaceMouseAxes{1, 0, 0, 0, 0, 0}).isZero());
}

TEST(SpaceMouseAxes, descriptionNamesEachAxisInFieldOrder) {
    EXPECT_EQ((SpaceMouseAxes{12, -3, 0, 0, 0, 7}).description(), "x 12 y -3 z 0 rx 0 ry 0 rz 7");
    EXPECT_EQ((SpaceMouseAxes{1, 2, 3, 4, 5, 6}).description(), "x 1 y 2 z 3 rx 4 ry 5 rz 6");
}

struct DirectionRow {
    Direction direction;
    const char* raw;
    int index;
    int sign;
    const char* instruction;
};

const DirectionRow directionTable[] = {
    {Direction::slideRight, "slideRight", 0, +1, "Slide the cap to the right"},
    {Direction::slideLeft, "slideLeft", 0, -1, "Slide the cap to the left"},
    {Direction::slideForward, "slideForward", 1, -1, "Slide the cap forward, away from you"},
    {Direction::slideBack, "slideBack", 1, +1, "Slide the cap back, towards you"},
    {Direction::push, "push", 2, +1, "Push the cap down"},
    {Direction::pull, "pull", 2, -1, "Pull the cap up"},
    {Direction::tiltForward, "tiltForward", 3, -1, "Tilt the cap forward"},
    {Direction::tiltBack, "tiltBack", 3, +1, "Tilt the cap back"},
    {Direction::tiltRight, "tiltRight", 4, -1, "Tilt the cap to the right"},
    {Direction::tiltLeft, "tiltLeft", 4, +1, "Tilt the cap to the left"},
    {Direction::twistRight, "twistRight", 5, +1, "Twist the cap clockwise"},
    {Direction::twistLeft, "twistLeft", 5, -1, "Twist the cap counter-clockwise"},
};

TEST(SpaceMouseAxesDirection, tableOfAxesTextsAndOrder) {
    const auto& all = Direction::allCases();
    ASSERT_EQ(all.size(), std::size(directionTable));
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto& row = directionTable[i];
        SCOPED_TRACE(row.raw);
        EXPECT_EQ(all[i], row.direction);
        EXPECT_EQ(row.direction.rawValue(), row.raw);
        EXPECT_EQ(row.direction.axis(), (Direction::Axis{row.index, row.sign}));
        EXPECT_EQ(row.direction.instruction(), row.instruction);
        EXPECT_EQ(Direction::fromRawValue(row.raw), row.direction);
        EXPECT_EQ(nlohmann::json(row.direction), row.raw);
        EXPECT_EQ(nlohmann::json(row.raw).get<Direction>(), row.direction);

        // One count along the direction's own axis gives exactly that direction.
        std::array<std::int64_t, 6> values{};
        values[static_cast<std::size_t>(row.index)] = row.sign * 3;
        const SpaceMouseAxes sample{values[0], values[1], values[2],
                                    values[3], values[4], values[5]};
        EXPECT_EQ(sample.along(row.direction), 3);
        EXPECT_EQ(sample.strongest(), row.direction);
    }
}

TEST(SpaceMouseAxesDirection, rawTextMustMatchExactly) {
    EXPECT_EQ(Direction::fromRawValue("twistLeft"), Direction::twistLeft);
    EXPECT_FALSE(Direction::fromRawValue("TwistLeft"));
    EXPECT_FALSE(Direction::fromRawValue(""));
    EXPECT_THROW(nlohmann::json("TwistLeft").get<Direction>(), std::exception);
    EXPECT_THROW(nlohmann::json(3).get<Direction>(), std::exception);
}

TEST(SpaceMouseAxes, alongIsZeroAgainstTheDirection) {
    const SpaceMouseAxes sample{5, -5, 0, 0, 0, 0};
    EXPECT_EQ(sample.along(Direction::slideRight), 5);
    EXPECT_EQ(sample.along(Direction::slideForward), 5);
    EXPECT_EQ(sample.along(Direction::slideLeft), 0);
    EXPECT_EQ(sample.along(Direction::slideBack), 0);
    EXPECT_EQ(sample.strongest(), Direction::slideRight);
}

TEST(SpaceMouseAxes, strongestTakesLargestAndEarlierOnTie) {
    EXPECT_FALSE(SpaceMouseAxes::zero.strongest());
    EXPECT_EQ((SpaceMouseAxes{0, 0, -2, 0, 0, 9}).strongest(), Direction::twistRight);
    EXPECT_EQ((SpaceMouseAxes{0, 0, -9, 0, 0, 9}).strongest(), Direction::pull);
    EXPECT_EQ((SpaceMouseAxes{0, 0, 0, 0, 4, -5}).strongest(), Direction::twistLeft);
}

TEST(SpaceMouseAxes, fractionDividesByFullScaleAndCaps) {
    EXPECT_DOUBLE_EQ((SpaceMouseAxes{0, 0, 3, 0, 0, 0}).fraction(Direction::push, 0), 1.0);
    EXPECT_DOUBLE_EQ((SpaceMouseAxes{0, 0, 175, 0, 0, 0}).fraction(Direction::push, 350), 0.5);
    EXPECT_DOUBLE_EQ((SpaceMouseAxes{0, 0, 700, 0, 0, 0}).fraction(Direction::push, 350), 1.0);
    EXPECT_DOUBLE_EQ((SpaceMouseAxes{0, 0, 700, 0, 0, 0}).fraction(Direction::pull, 350), 0.0);
    EXPECT_DOUBLE_EQ((SpaceMouseAxes{0, 0, -1, 0, 0, 0}).fraction(Direction::pull, -5), 1.0);
}

TEST(SpaceMouseAxes, alongSurvivesTheMostNegativeValue) {
    const SpaceMouseAxes sample{INT64_MIN, 0, 0, 0, 0, 0};
    EXPECT_EQ(sample.along(Direction::slideLeft), INT64_MAX);
    EXPECT_EQ(sample.along(Direction::slideRight), 0);
}

TEST(SpaceMouseAxesJSON, writesSixIntegerMembers) {
    const nlohmann::json json = SpaceMouseAxes{12, -3, 0, 1, 2, 7};
    EXPECT_EQ(json, nlohmann::json::parse(R"({"x":12,"y":-3,"z":0,"rx":1,"ry":2,"rz":7})"));
    EXPECT_EQ(json.size(), 6u);
    EXPECT_EQ(json.get<SpaceMouseAxes>(), (SpaceMouseAxes{12, -3, 0, 1, 2, 7}));
}

TEST(SpaceMouseAxesJSON, readingRejectsMissingOrNonIntegerMembers) {
    const char* bad[] = {
        R"({"x":1,"y":2,"z":3,"rx":4,"ry":5})",
        R"({"x":1,"y":2,"z":3,"rx":4,"ry":5,"rz":1.5})",
        R"({"x":1,"y":2,"z":3,"rx":4,"ry":5,"rz":"6"})",
        R"({"x":1,"y":2,"z":3,"rx":4,"ry":5,"rz":null})",
        R"({"x":18446744073709551615,"y":2,"z":3,"rx":4,"ry":5,"rz":6})",
        R"([1,2,3,4,5,6])",
        R"(7)",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        EXPECT_THROW(nlohmann::json::parse(text).get<SpaceMouseAxes>(), std::exception);
    }
    EXPECT_EQ(nlohmann::json::parse(R"({"rz":6,"ry":5,"rx":4,"z":3,"y":2,"x":1,"w":0})")
                  .get<SpaceMouseAxes>(),
              (SpaceMouseAxes{1, 2, 3, 4, 5, 6}));
}

} // namespace
} // namespace smk
