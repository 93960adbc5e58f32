#include "ScrollCore/AxisMapping.h"

#include <gtest/gtest.h>

namespace scroll {
namespace {

using Axis = AxisMapping::Axis;
using Role = AxisMapping::Role;
using Term = AxisMapping::Term;
using Movement = AxisMapping::Movement;
using Terms = AxisMapping::Terms;

TEST(AxisMapping, absentRoleReadsAsNoTermsYetDiffersFromAnEmptyList) {
    EXPECT_EQ(AxisMapping()[Role::horizontal], (Terms{Term(Axis::x), Term(Axis::ry, true)}));
    AxisMapping absent;
    absent.axes.erase(Role::zoom);
    AxisMapping empty;
    empty.setTerms(Role::zoom, {});
    EXPECT_NE(absent, empty);
    EXPECT_TRUE(absent[Role::zoom].empty());
    EXPECT_EQ(absent.text(Role::zoom), "none");
}

TEST(AxisMapping, zoomTakesForwardBackMovementsNegated) {
    for (auto role : Role::allCases()) {
        const bool zoom = role == Role::zoom;
        EXPECT_EQ(Movement(Movement::slideSideways).term(role), Term("x"));
        EXPECT_EQ(Movement(Movement::tiltSideways).term(role), Term("-ry"));
        EXPECT_EQ(Movement(Movement::slideForwardBack).term(role), Term(Axis::y, zoom));
        EXPECT_EQ(Movement(Movement::tiltForwardBack).term(role), Term(Axis::rx, zoom));
        EXPECT_EQ(Movement(Movement::twist).term(role), Term("rz"));
        EXPECT_EQ(Movement(Movement::push).term(role), Term("z"));
    }
    EXPECT_EQ(Movement::fromRawValue("tiltSideways"), Movement::tiltSideways);
    EXPECT_FALSE(Movement::fromRawValue("slide"));
}

TEST(AxisMapping, roleOfMovementIsFirstRoleUsingItsAxisWithEitherSign) {
    AxisMapping mapping;
    EXPECT_EQ(mapping.role(Movement::tiltSideways), Role::horizontal);
    EXPECT_EQ(mapping.role(Movement::twist), Role::rotate);
    // rx in both vertical and zoom: vertical comes first in role order.
    mapping.setTerms(Role::zoom, {Term("-rx")});
    EXPECT_EQ(mapping.role(Movement::tiltForwardBack), Role::vertical);
    mapping.setTerms(Role::vertical, {Term("y")});
    EXPECT_EQ(mapping.role(Movement::tiltForwardBack), Role::zoom);
    EXPECT_FALSE(mapping.role(Movement::push));
}

TEST(AxisMapping, assignMovesTermAndSortsByMovementOrder) {
    AxisMapping mapping;
    mapping.assign(Movement::tiltForwardBack, Role::zoom);
    EXPECT_EQ(mapping[Role::vertical], (Terms{Term("y")}));
    EXPECT_EQ(mapping[Role::zoom], (Terms{Term("-rx"), Term("z")}));
    EXPECT_EQ(mapping.role(Movement::tiltForwardBack), Role::zoom);

    // x ranks before ry, which ranks before y: slide sideways goes in front.
    mapping.assign(Movement::slideForwardBack, Role::horizontal);
    mapping.assign(Movement::slideSideways, Role::horizontal);
    EXPECT_EQ(mapping[Role::horizontal], (Terms{Term("x"), Term("-ry"), Term("y")}));
    EXPECT_EQ(mapping[Role::vertical], Terms{});
}

TEST(AxisMapping, assignRemovesEitherSignAndKeepsOrderOfEqualRanks) {
    AxisMapping mapping({{Role::horizontal, {Term("-x"), Term("z"), Term("x")}}}, {});
    mapping.assign(Movement::slideSideways, Role::rotate);
    EXPECT_EQ(mapping[Role::horizontal], (Terms{Term("z")}));
    EXPECT_EQ(mapping[Role::rotate], (Terms{Term("x")}));

    // Duplicates of another axis keep their relative order through the stable sort.
    AxisMapping duplicates({{Role::zoom, {Term("z"), Term("-z")}}}, {});
    duplicates.assign(Movement::slideSideways, Role::zoom);
    EXPECT_EQ(duplicates[Role::zoom], (Terms{Term("x"), Term("z"), Term("-z")}));

    // Assigned to no role, the movement leaves every role present.
    duplicates.assign(Movement::push, std::nullopt);
    EXPECT_EQ(duplicates.axes.size(), 4u);
    EXPECT_EQ(duplicates.text(Role::zoom), "x");
    EXPECT_FALSE(duplicates.role(Movement::push));
}

TEST(AxisMappingTerm, parseAndText) {
    EXPECT_EQ(Term::parse("x"), Term(Axis::x));
    EXPECT_EQ(Term::parse(" \t-RY\t "), Term(Axis::ry, true));
    for (const char* bad : {"- x", "--x", "x\n", "-", "", "xy"})
        EXPECT_FALSE(Term::parse(bad)) << bad;
    EXPECT_EQ(Term("-rx").text(), "-rx");
    EXPECT_EQ(Term("z").text(), "z");
}

TEST(AxisMappingTermDeathTest, invalidLiteralStops) {
    EXPECT_DEATH({ (void)Term("q"); }, "");
}

TEST(AxisMapping, axesFromStoredText) {
    EXPECT_EQ(AxisMapping::axesFrom(" X , -RY "), (Terms{Term("x"), Term("-ry")}));
    EXPECT_EQ(AxisMapping::axesFrom(" NONE "), Terms{});
    EXPECT_EQ(AxisMapping::axesFrom("none,"), Terms{});
    EXPECT_EQ(AxisMapping::axesFrom("x,,y"), (Terms{Term("x"), Term("y")}));
    EXPECT_EQ(AxisMapping::axesFrom("x,x"), (Terms{Term("x"), Term("x")}));
    for (const char* bad : {"", ",", "x,q", "none,x", "x, ,y"})
        EXPECT_FALSE(AxisMapping::axesFrom(bad)) << bad;
}

} // namespace
} // namespace scroll
