#include "AppTestSupport.h"
#include "VantorWindows/WindowController.h"

#include <QActionGroup>
#include <QGraphicsOpacityEffect>
#include <QSlider>
#include <QTextDocument>

namespace vantor::testing {
namespace {

using Lines = std::vector<std::string>;
using scroll::ScrollSettings;

const Lines fixedItems{"Settings…", "Check for Updates…", "-", "Quit Vantor"};

Lines with(Lines head, const Lines& tail = fixedItems) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST_F(AppTest, trayMenuForEachStateOfTheAppInFront) {
    struct Case {
        const char* name;
        std::optional<std::string> front;
        std::string allowed;              // "allowed_apps"
        std::set<std::string> ownClients; // apps with a broker client of their own
        bool permission;
        Lines menu;
        bool frontAppSeen = true;
    };
    const Lines appOn{"[x] Use the SpaceMouse in Editor",
                      "Speed >",
                      "Response >",
                      "Momentum >",
                      "At the Same Time >",
                      "-"};
    for (const Case& c : std::initializer_list<Case>{
             {"no app in front", std::nullopt, "", {}, true, fixedItems},
             {"Vantor in front", std::string(own), "", {}, true, fixedItems},
             {"no permission", std::nullopt, "", {}, false, with({"Allow Device Access…", "-"})},
             {"no app in front can be seen",
              std::nullopt,
              "",
              {},
              false,
              with({"App in Front Unavailable…", "-", "Allow Device Access…", "-"}),
              false},
             {"own client",
              std::string(editor),
              editor,
              {editor},
              true,
              with({"[ ] Use the SpaceMouse in Editor (off)", "-"})},
             {"unconfigured",
              std::string(editor),
              "",
              {},
              true,
              with({"[ ] Use the SpaceMouse in Editor", "Speed > (off)", "Response > (off)",
                    "Momentum > (off)", "At the Same Time > (off)", "-"})},
             {"on, following the defaults", std::string(editor), editor, {}, true, with(appOn)},
         }) {
        SCOPED_TRACE(c.name);
        delegate.reset();
        permission = c.permission;
        workspace->setStatus(c.frontAppSeen
                                 ? kestrix::core::FrontAppStatus{}
                                 : kestrix::core::FrontAppStatus::unavailable("No source."));
        defaults->set("allowed_apps", c.allowed);
        workspace->activate(c.front ? std::optional(RunningApp{*c.front, "Editor"}) : std::nullopt);
        make().launch();
        input->setAppsWithOwnClient(c.ownClients);
        QMenu& menu = openStatusMenu();
        EXPECT_EQ(describe(menu), c.menu);
        if (!c.ownClients.empty()) {
            EXPECT_EQ(item(menu, "Use the SpaceMouse in Editor")->toolTip(),
                      QStringLiteral("Editor uses the SpaceMouse itself"));
            EXPECT_TRUE(menu.toolTipsVisible());
        }
    }
}

TEST_F(AppTest, trayMenuShowsTheAppsNameAsItIsWritten) {
    // What a tooltip shows: Qt takes text that looks like markup for markup.
    auto shownTip = [](const QString& tip) {
        QTextDocument shown;
        if (Qt::mightBeRichText(tip))
            shown.setHtml(tip);
        else
            shown.setPlainText(tip);
        return shown.toPlainText();
    };
    const QString odd = R"(<img src="x.png"> & Co)";
    for (const bool ownClient : {false, true}) {
        SCOPED_TRACE(ownClient ? "own client" : "switchable");
        delegate.reset();
        defaults->set("welcomed", true);
        defaults->set("allowed_apps", editor);
        workspace->activate(RunningApp{std::string(editor), odd.toStdString()});
        make().launch();
        input->setAppsWithOwnClient(ownClient ? std::set<std::string>{editor}
                                              : std::set<std::string>{});
        QMenu& menu = openStatusMenu();
        QAction* use = menu.findChild<QAction*>("status.useInFront");
        ASSERT_NE(use, nullptr);
        // The text a menu shows: "&&" is one "&", a single "&" marks the next letter.
        EXPECT_EQ(use->iconText(), "Use the SpaceMouse in " + odd);
        if (ownClient) {
            EXPECT_EQ(shownTip(use->toolTip()), odd + " uses the SpaceMouse itself");
        }
    }
}

TEST_F(AppTest, appFollowingEveryDefaultShowsOnlyTheDefaultsMarked) {
    defaults->set("allowed_apps", editor);
    defaults->set("response", "precise");
    launched(std::string(editor));
    QMenu& menu = openStatusMenu();
    auto submenu = [&](const char* title) { return describe(*item(menu, title)->menu()); };
    EXPECT_EQ(submenu("Speed"), (Lines{"[x] Default", "-", "[slider]"}));
    EXPECT_EQ(submenu("Response"),
              (Lines{"[x] Default (Precise)", "-", "[ ] Direct", "[ ] Balanced", "[ ] Precise"}));
    EXPECT_EQ(submenu("Momentum"),
              (Lines{"[x] Default (Medium momentum)", "-", "[ ] No momentum", "[ ] Short momentum",
                     "[ ] Medium momentum", "[ ] Long momentum"}));
    EXPECT_EQ(submenu("At the Same Time"), (Lines{"[x] Default", "-", "[x] Scroll diagonally",
                                                  "[ ] Scroll and zoom", "[x] Zoom and rotate"}));
    auto* slider = menu.findChild<QSlider*>("speedSlider");
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->value(), 500) << "speed 1.0 sits in the middle";
    EXPECT_EQ(slider->geometry(), QRect(20, 4, 180, 22));
    EXPECT_DOUBLE_EQ(qobject_cast<QGraphicsOpacityEffect*>(slider->graphicsEffect())->opacity(),
                     0.5);
}

TEST_F(AppTest, choicesThatExcludeEachOtherAreRadioItemsTheOthersCheckBoxes) {
    defaults->set("allowed_apps", editor);
    AppDelegate& app = launched(std::string(editor));
    struct Case {
        const char* submenu;
        bool exclusive;
    };
    for (bool own : {false, true}) {
        if (own)
            app.scroller().setForFrontmostApp(ScrollSettings::AppSetting::response,
                                              [](ScrollSettings& s) {
                                                  s.response = ScrollSettings::Response::direct;
                                              });
        for (const Case& c : std::initializer_list<Case>{{"Speed", false},
                                                          {"Response", true},
                                                          {"Momentum", true},
                                                          {"At the Same Time", false}}) {
            SCOPED_TRACE(std::string(c.submenu) + (own ? ", own response" : ""));
            QMenu* submenu = item(openStatusMenu(), QString::fromUtf8(c.submenu))->menu();
            ASSERT_NE(submenu, nullptr);
            QActionGroup* group = nullptr;
            int choices = 0, checked = 0;
            for (QAction* choice : submenu->actions()) {
                if (!choice->isCheckable()) continue;
                ++choices;
                checked += choice->isChecked();
                if (!c.exclusive) {
                    EXPECT_EQ(choice->actionGroup(), nullptr) << "a check box";
                    continue;
                }
                ASSERT_NE(choice->actionGroup(), nullptr) << "a radio item";
                EXPECT_EQ(choice->actionGroup()->exclusionPolicy(),
                          QActionGroup::ExclusionPolicy::Exclusive);
                if (!group) group = choice->actionGroup();
                EXPECT_EQ(choice->actionGroup(), group) << "one group for all choices";
            }
            if (c.exclusive) {
                EXPECT_EQ(choices, c.submenu == std::string("Response") ? 4 : 5);
                EXPECT_EQ(checked, 1);
            }
        }
    }
}

TEST_F(AppTest, choosingTrayItemsChangesTheAppInFront) {
    defaults->set("allowed_apps", editor);
    AppDelegate& app = launched(std::string(editor));
    auto settings = [&] { return app.scroller().settings(); };
    auto choose = [&](const char* title) {
        QAction* action = item(openStatusMenu(), QString::fromUtf8(title));
        ASSERT_NE(action, nullptr) << title;
        action->trigger();
    };

    choose("Precise");
    EXPECT_EQ(settings().applied(editor).response, ScrollSettings::Response::precise);
    EXPECT_FALSE(settings().follows(ScrollSettings::AppSetting::response, editor));
    choose("Long momentum");
    EXPECT_EQ(settings().applied(editor).momentum, ScrollSettings::Momentum::long_);
    choose("Scroll diagonally");
    EXPECT_FALSE(settings().applied(editor).diagonal);
    EXPECT_TRUE(settings().diagonal) << "the defaults stay";
    choose("Scroll and zoom");
    EXPECT_TRUE(settings().applied(editor).scrollsWhileZooming());
    choose("Default (Balanced)");
    EXPECT_TRUE(settings().follows(ScrollSettings::AppSetting::response, editor));

    // Moving the slider gives the app its own speed at once.
    auto* slider = openStatusMenu().findChild<QSlider*>("speedSlider");
    ASSERT_NE(slider, nullptr);
    slider->setValue(1000);
    EXPECT_DOUBLE_EQ(settings().applied(editor).speed, 4.0);
    EXPECT_DOUBLE_EQ(qobject_cast<QGraphicsOpacityEffect*>(slider->graphicsEffect())->opacity(),
                     1.0);
    EXPECT_EQ(describe(*item(openStatusMenu(), "Speed")->menu())[0], "[ ] Default");

    EXPECT_EQ(describe(openStatusMenu()).at(5), "Use the Defaults");
    choose("Use the Defaults");
    EXPECT_FALSE(settings().hasOwnSettings(editor));

    choose("Use the SpaceMouse in Editor");
    EXPECT_EQ(settings().deviceChoice(editor), scroll::DevicePolicy::AppChoice::off);
    choose("Use the SpaceMouse in Editor");
    EXPECT_EQ(settings().deviceChoice(editor), scroll::DevicePolicy::AppChoice::on);
    EXPECT_EQ(defaults->get<std::string>("allowed_apps"), std::string(editor)) << "stored";
}

TEST_F(AppTest, altHeldOffersReloadAndARunningCheckDisablesTheUpdateItem) {
    AppDelegate& app = launched();
    modifiers = Qt::AltModifier;
    EXPECT_EQ(describe(openStatusMenu()),
              with({}, {"Settings…", "Reload Settings", "-", "Quit Vantor"}));
    defaults->set("speed", "2.0");
    item(openStatusMenu(), "Reload Settings")->trigger();
    EXPECT_DOUBLE_EQ(app.scroller().settings().speed, 2.0);

    modifiers = Qt::NoModifier;
    app.updates().checkForUpdates();
    EXPECT_EQ(fetches->fetches, 1);
    EXPECT_EQ(describe(openStatusMenu()),
              with({}, {"Settings…", "Check for Updates… (off)", "-", "Quit Vantor"}));

    permission = false;
    item(openStatusMenu(), "Allow Device Access…")->trigger();
    EXPECT_EQ(accessibilityHelps, 1);
    item(openStatusMenu(), "Settings…")->trigger();
    EXPECT_TRUE(app.mainWindow().window()->isVisible());
}

} // namespace
} // namespace vantor::testing
