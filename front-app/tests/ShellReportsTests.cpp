#include "FrontApp/ShellReports.h"

#include <gtest/gtest.h>

using namespace kestrix::core;

TEST(ShellReports, processIDsAreDecimalNumbersOfAPositiveInt32) {
    struct Row {
        const char* text;
        std::optional<std::int32_t> id;
    } rows[] = {
        {"4711", 4711},         {"1", 1},           {"2147483647", 2147483647},
        {"2147483648", {}},     {"0", {}},          {"", {}},
        {"-5", {}},             {"+5", {}},         {" 5", {}},
        {"5 ", {}},             {"12a", {}},        {"99999999999", {}},
        {"0x10", {}},           {"3.0", {}},        {"00042", 42},
        {"123456789012345678901234567890", {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(processIDFromText(row.text), row.id) << row.text;
}

TEST(ShellReports, desktopIDsLoseTheirFolderAndSuffixAndTheShellsStandInNamesNone) {
    struct Row {
        const char* name;
        const char* id;
    } rows[] = {
        {"org.gnome.Terminal.desktop", "org.gnome.Terminal"},
        {"/usr/share/applications/org.kde.konsole.desktop", "org.kde.konsole"},
        {"org.kde.dolphin", "org.kde.dolphin"},
        {"window:12", ""},
        {"window:", ""},
        {".desktop", ".desktop"},
        {"a.desktop.desktop", "a.desktop"},
        {"display-im6.q16.desktop", "display-im6.q16"},
        {"/", ""},
        {"", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(desktopIDFromShell(row.name), row.id) << row.name;
}

TEST(ShellReports, whatKWinAndTheShellSayBecomesTheWindowsFacts) {
    FrontAppWindow kwin = windowFromKWin("org.kde.kate.desktop", "kate", "321");
    EXPECT_EQ(kwin.appID, "org.kde.kate");
    EXPECT_EQ(kwin.windowClass, "kate");
    EXPECT_EQ(kwin.instance, "");
    EXPECT_EQ(kwin.processID, 321);
    FrontAppWindow xwayland = windowFromKWin("", "Gimp-2.10", "0");
    EXPECT_EQ(xwayland.appID, "");
    EXPECT_EQ(xwayland.windowClass, "Gimp-2.10");
    EXPECT_EQ(xwayland.processID, std::nullopt);

    FrontAppWindow shell = windowFromGnomeShell("window:3", "org.example.Modeller", 55);
    EXPECT_EQ(shell.appID, "");
    EXPECT_EQ(shell.windowClass, "org.example.Modeller");
    EXPECT_EQ(shell.processID, 55);
    EXPECT_EQ(windowFromGnomeShell("org.gnome.Nautilus.desktop", "", -1).processID, std::nullopt);
    EXPECT_EQ(windowFromGnomeShell("org.gnome.Nautilus.desktop", "", -1).appID,
              "org.gnome.Nautilus");
}
