#include "VantorShell/CommandLine.h"
#include "VantorShell/WindowShot.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace vantor {
namespace {

CommandLine::Result parse(QStringList words) {
    words.prepend(QStringLiteral("vantor"));
    return CommandLine::parse(words);
}

TEST(CommandLine, windowShotArgumentsLoginMarkAndQtsOwnOptions) {
    auto result = parse({"-snapshot", "/tmp/a.png", "-snapshotWindow", "apps", "-snapshotSize",
                         "800 x 600", "-snapshotDark", "--login-item", "-platform", "offscreen"});
    ASSERT_FALSE(result.exitStatus) << result.output.toStdString();
    EXPECT_EQ(result.options.snapshot, QStringLiteral("/tmp/a.png"));
    EXPECT_EQ(result.options.snapshotWindow, QStringLiteral("apps"));
    EXPECT_EQ(result.options.snapshotSize, QStringLiteral("800 x 600"));
    EXPECT_TRUE(result.options.snapshotDark);
    EXPECT_TRUE(result.options.loginItem);
    EXPECT_EQ(WindowShot::scene(result.options), QStringLiteral("apps"));

    auto plain = parse({"--snapshotWindow=main"});
    ASSERT_FALSE(plain.exitStatus);
    EXPECT_FALSE(plain.options.loginItem);
    EXPECT_FALSE(plain.options.snapshotDark);
    EXPECT_FALSE(WindowShot::scene(plain.options)) << "a scene needs a path too";
    EXPECT_FALSE(WindowShot::scene(parse({"-snapshot", "x.png"}).options));
}

TEST(CommandLine, aMistakeIsNamedWithAPointerToTheHelp) {
    struct Case {
        QStringList words;
        const char* said;
    };
    for (const Case& c : std::initializer_list<Case>{
             {{"--bogus"}, "vantor: unknown option: --bogus\n"},
             {{"-bogus"}, "vantor: unknown option: -bogus\n"},
             {{"--bogus=3", "-snapshotDark"}, "vantor: unknown option: --bogus\n"},
             {{"-snapshotDark", "stray"}, "vantor: Unexpected argument 'stray'.\n"},
         }) {
        auto result = parse(c.words);
        EXPECT_EQ(result.exitStatus, 2) << c.said;
        EXPECT_TRUE(result.toStandardError);
        EXPECT_EQ(result.output, QString::fromUtf8(c.said) + "Try 'vantor --help'.\n");
    }
}

TEST(CommandLine, theHelpNamesTheOptionsAsItListsThem) {
    const QString help = parse({"--help"}).output;
    EXPECT_TRUE(help.contains("--snapshotWindow <name>"));
    // Every mention of an option has the two dashes of the list.
    EXPECT_FALSE(help.contains(QRegularExpression("(^|[^-])-snapshot"))) << help.toStdString();
}

TEST(WindowShot, sizeNeedsExactlyTwoNumbersSeparatedByBlanks) {
    struct Case {
        const char* text;
        std::optional<QSizeF> size;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"1200 x 800", QSizeF(1200, 800)},
             {"1200 800", QSizeF(1200, 800)},
             {"  640.5   480 ", QSizeF(640.5, 480)},
             {"1200x800", std::nullopt},
             {"800", std::nullopt},
             {"", std::nullopt},
             {"1 x 2 x 3", std::nullopt},
             {"0 x 800", std::nullopt},
             {"-5 x 800", std::nullopt},
             {"inf x 800", std::nullopt},
             {"nan 800", std::nullopt},
         })
        EXPECT_EQ(WindowShot::parseSize(QString::fromUtf8(c.text)), c.size) << c.text;
}

} // namespace
} // namespace vantor
