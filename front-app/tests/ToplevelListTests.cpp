#include "ToplevelList.h"

#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using kestrix::core::ToplevelList;

namespace {

std::vector<unsigned char> words(std::vector<std::uint32_t> values) {
    std::vector<unsigned char> bytes(values.size() * 4);
    if (!values.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

} // namespace

// maximized 0, minimized 1, activated 2, fullscreen 3; only whole 32-bit values count.
TEST(ToplevelList, theStateArrayTellsWhetherTheToplevelIsActivated) {
    auto withTail = words({2});
    withTail.insert(withTail.end(), {0, 0});
    auto partial = words({0});
    partial.insert(partial.end(), {2, 0, 0});
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
        bool activated;
    } rows[] = {
        {"no states", {}, false},
        {"activated", words({2}), true},
        {"maximized, activated, fullscreen", words({0, 2, 3}), true},
        {"maximized, minimized, fullscreen", words({0, 1, 3}), false},
        {"a value from a later version", words({9, 2}), true},
        {"activated and two stray bytes", withTail, true},
        {"activated in a value cut short", partial, false},
        {"2 in another byte", words({0x200}), false},
        {"all bits", words({0xffffffff}), false},
    };
    for (const auto& row : rows) {
        ToplevelList list;
        list.added(1);
        list.appID(1, "org.example.App");
        list.state(1, row.bytes.data(), row.bytes.size());
        list.done(1);
        EXPECT_EQ(list.front().has_value(), row.activated) << row.what;
    }
}

TEST(ToplevelList, appIDAndStatesTakeEffectTogetherOnDone) {
    ToplevelList list;
    auto active = words({2}), none = words({});
    list.added(1);
    list.appID(1, "org.example.First");
    list.state(1, active.data(), active.size());
    EXPECT_EQ(list.front(), std::nullopt) << "nothing before done";
    EXPECT_TRUE(list.done(1));
    EXPECT_EQ(list.front(), "org.example.First");

    list.appID(1, "org.example.Second");
    EXPECT_EQ(list.front(), "org.example.First");
    EXPECT_TRUE(list.done(1));
    EXPECT_EQ(list.front(), "org.example.Second");

    // A done that changes nothing is no change; the pending values stay what was applied.
    EXPECT_FALSE(list.done(1));
    list.state(1, none.data(), none.size());
    EXPECT_TRUE(list.done(1));
    EXPECT_EQ(list.front(), std::nullopt);
}

// The compositor moves the focus in two steps (the old window loses it, the new one gains it);
// each done tells whether the app in front changed.
TEST(ToplevelList, focusMovesBetweenToplevelsAndNoneActivatedLeavesNoFront) {
    ToplevelList list;
    auto active = words({2}), none = words({0});
    const struct {
        ToplevelList::Key key;
        const char* app; // nullptr: unchanged
        bool activated;
        bool changed;
        std::optional<std::string> front;
    } steps[] = {
        {1, "org.example.Editor", true, true, "org.example.Editor"},
        {2, "org.example.Modeller", false, false, "org.example.Editor"},
        {1, nullptr, false, true, std::nullopt},
        {2, nullptr, true, true, "org.example.Modeller"},
        {3, "org.example.Modeller", true, false, "org.example.Modeller"}, // same app, other window
        {2, nullptr, false, false, "org.example.Modeller"},
        {3, nullptr, false, true, std::nullopt}, // a launcher of the shell in front
        {1, "", true, true, ""},                // a window without an app id
    };
    for (ToplevelList::Key key : {1, 2, 3})
        list.added(key);
    int i = 0;
    for (const auto& s : steps) {
        if (s.app) list.appID(s.key, s.app);
        const auto& bytes = s.activated ? active : none;
        list.state(s.key, bytes.data(), bytes.size());
        EXPECT_EQ(list.done(s.key), s.changed) << "step " << i;
        EXPECT_EQ(list.front(), s.front) << "step " << i;
        ++i;
    }
}

// With one activated toplevel per seat, the one activated last is in front; when it is gone the
// other one is.
TEST(ToplevelList, ofSeveralActivatedTheLastOneIsInFront) {
    ToplevelList list;
    auto active = words({2});
    for (ToplevelList::Key key : {7, 3}) {
        list.added(key);
        list.appID(key, key == 7 ? "org.example.Seven" : "org.example.Three");
        list.state(key, active.data(), active.size());
        list.done(key);
    }
    EXPECT_EQ(list.front(), "org.example.Three");
    EXPECT_TRUE(list.closed(3));
    EXPECT_EQ(list.front(), "org.example.Seven");
    EXPECT_FALSE(list.closed(3)) << "closed twice";
    EXPECT_EQ(list.size(), 1u);
    EXPECT_TRUE(list.clear());
    EXPECT_FALSE(list.clear());
    EXPECT_EQ(list.front(), std::nullopt);
}

TEST(ToplevelList, eventsForToplevelsNeverAnnouncedChangeNothing) {
    ToplevelList list;
    auto active = words({2});
    list.appID(5, "org.example.Ghost");
    list.state(5, active.data(), active.size());
    EXPECT_FALSE(list.done(5));
    EXPECT_FALSE(list.closed(5));
    list.state(5, nullptr, 4);
    EXPECT_EQ(list.front(), std::nullopt);
    EXPECT_EQ(list.size(), 0u);
    // A toplevel announced again starts afresh.
    list.added(6);
    list.appID(6, "org.example.Old");
    list.state(6, active.data(), active.size());
    list.done(6);
    list.added(6);
    EXPECT_EQ(list.front(), std::nullopt);
}
