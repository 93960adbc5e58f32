#include "AppTestSupport.h"
#include "KeysTestSupport.h"
#include "StatusNotifierItem.h"
#include "VantorModels/CanvasModel.h"
#include "VantorModels/SettingsModel.h"
#include "VantorShell/MainMenu.h"
#include "VantorWindows/WindowController.h"

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QSystemTrayIcon>

namespace vantor::testing {
namespace {

using Policy = AppDelegate::ActivationPolicy;

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool visible(WindowController& controller) {
    return controller.window() && controller.window()->isVisible();
}

TEST_F(AppTest, launchShowsAboutOnceOrReleaseNotesAfterAnUpdate) {
    struct Case {
        const char* name;
        bool welcomed;
        bool loginItem;
        std::optional<int> storedBuild; // "updates_last_build"; the running build is 7
        bool about, releaseNotes;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"first launch", false, false, std::nullopt, true, false},
             {"first launch at login", false, true, std::nullopt, false, false},
             {"later launch", true, false, 7, false, false},
             {"higher build", true, false, 6, false, true},
             {"higher build, never welcomed", false, false, 6, false, true},
             {"lower build", true, false, 8, false, false},
         }) {
        SCOPED_TRACE(c.name);
        delegate.reset();
        defaults->remove("welcomed");
        if (c.welcomed) defaults->set("welcomed", true);
        defaults->remove("updates_last_build");
        if (c.storedBuild) defaults->set("updates_last_build", *c.storedBuild);
        LaunchOptions options;
        options.loginItem = c.loginItem;
        AppDelegate& app = make(options);
        app.launch();

        EXPECT_EQ(defaults->get<bool>("welcomed"), true);
        EXPECT_EQ(visible(app.aboutWindow()), c.about);
        EXPECT_EQ(visible(app.releaseNotesWindow()), c.releaseNotes);
        EXPECT_FALSE(app.updates().releaseNotesDue);
        EXPECT_EQ(app.activationPolicy(),
                  c.about || c.releaseNotes ? Policy::regular : Policy::accessory);
        EXPECT_EQ(app.launchedAsLoginItem(), c.loginItem);
        ASSERT_NE(input, nullptr);
        EXPECT_TRUE(input->started) << "the Scroller runs";
        EXPECT_NE(app.mainMenu(), nullptr);
        ASSERT_NE(app.statusItem(), nullptr);
        EXPECT_EQ(app.statusItem()->toolTip(), QStringLiteral("Vantor"));
    }
}

TEST_F(AppTest, closingTheLastWindowLeavesTheDockUnlessAnUpdateWindowShows) {
    AppDelegate& app = launched(std::string(editor));
    EXPECT_EQ(app.activationPolicy(), Policy::accessory);

    app.openMainWindow();
    app.openAbout();
    EXPECT_EQ(app.activationPolicy(), Policy::regular);
    EXPECT_TRUE(contains(app.scroller().sentClaim()->apps, own)) << "the preview joins the claim";

    app.aboutWindow().window()->close();
    EXPECT_EQ(app.activationPolicy(), Policy::regular) << "the main window is still open";
    EXPECT_TRUE(contains(app.scroller().sentClaim()->apps, own)) << "and its preview";
    app.mainWindow().window()->close();
    EXPECT_EQ(app.activationPolicy(), Policy::accessory);
    EXPECT_FALSE(contains(app.scroller().sentClaim()->apps, own)) << "the preview is off";

    // Choosing an app in the Apps tab while the window is closed leaves the Scroller alone.
    auto claims = input->claims.size();
    app.model().setTab(MainTab::apps);
    app.model().setSelectedApp(std::string(editor));
    EXPECT_EQ(input->claims.size(), claims);

    // An update window keeps the app regular until its session ends.
    app.openReleaseNotes();
    app.updates().userDriver.willHandleShowingUpdate(true);
    EXPECT_TRUE(app.updateSessionShowing());
    app.releaseNotesWindow().window()->close();
    EXPECT_EQ(app.activationPolicy(), Policy::regular);
    app.updates().userDriver.willFinishUpdateSession();
    EXPECT_FALSE(app.updateSessionShowing());
    EXPECT_EQ(app.activationPolicy(), Policy::accessory);

    // A second start (or a click on the app) always opens the main window.
    app.reopen();
    EXPECT_TRUE(visible(app.mainWindow()));
    EXPECT_EQ(app.activationPolicy(), Policy::regular);
}

TEST_F(AppTest, theViewModelFollowsTheScrollerAndTheSystem) {
    AppDelegate& app = launched(std::string(editor));
    input->deliver(SpaceMouseInput::Event::devices({device()}));
    EXPECT_EQ(app.model().deviceName(), QStringLiteral("SpaceMouse Compact"));
    EXPECT_EQ(app.model().driverName(), QStringLiteral("Vantor (direct)"));

    // An edit in the window is stored by the Scroller; the tray's edits reach the window.
    app.model().isOn(editor).set(true);
    EXPECT_TRUE(app.scroller().settings().allowedApps.count(editor));
    app.scroller().setDeviceForFrontmostApp(false);
    EXPECT_FALSE(app.model().settings().allowedApps.count(editor));

    permission = false;
    loginItem->current = LoginItemStatus::enabled;
    app.model().apps.emplace(editor, ListedApp(editor, "Editor", QIcon(), true));
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(app.model().hasPermission());
    EXPECT_EQ(app.model().loginItemStatus(), LoginItemStatus::enabled);
    EXPECT_TRUE(app.model().apps.empty()) << "names and icons are looked up afresh";

    app.model().onOpenAccessibility();
    EXPECT_EQ(accessibilityHelps, 1);
    app.openWebsite();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl("https://orvella.me/vantor/"));
}

// A broken settings file and a broker that cannot be reached reach the window with what to do.
TEST_F(AppTest, theViewModelSaysWhyTheSettingsFileAndTheSpaceMouseAreNotInUse) {
    folder.write("vantor.json", "{\"allowed_apps\": [}");
    AppDelegate& app = launched(std::string(editor));
    const std::string path = folder.path + "/vantor.json";
    EXPECT_EQ(app.model().settingsFileProblem(),
              QString::fromStdString(path + " is not valid JSON (line 1, column 19); its settings "
                                            "are ignored, and a copy of it is kept in " +
                                     path + ".bad"));
    // Put right by the user, the file is in use and nothing is said of it any more.
    folder.write("vantor.json", "{\"allowed_apps\": \"org.example.Other\"}");
    app.reloadSettings();
    EXPECT_TRUE(app.scroller().settings().allowedApps.count("org.example.Other"));
    EXPECT_EQ(app.model().settingsFileProblem(), std::nullopt);
    EXPECT_EQ(app.model().deviceProblem(), std::nullopt);
    const std::string why = "Kestrix could not be reached: the broker folder /k belongs to user 0";
    input->deliver(SpaceMouseInput::Event::unavailable(why));
    EXPECT_EQ(app.model().deviceProblem(), QString::fromStdString(why));
    input->deliver(SpaceMouseInput::Event::devices({device()}));
    EXPECT_EQ(app.model().deviceProblem(), std::nullopt);
}

TEST_F(AppTest, theTrayIconIsDimmedWhileVantorDoesNotTakeTheDevice) {
    defaults->set("allowed_apps", editor);
    AppDelegate& app = launched(std::string(editor));
    EXPECT_TRUE(app.iconDimmed());
    input->deliver(SpaceMouseInput::Event::holding(true));
    EXPECT_FALSE(app.iconDimmed());
    EXPECT_FALSE(app.statusItem()->icon().isNull());
    input->deliver(SpaceMouseInput::Event::holding(false));
    EXPECT_TRUE(app.iconDimmed());
}

TEST_F(AppTest, withoutATrayAStartByHandOpensTheSettingsWindowAndSaysWhyOnce) {
    struct Case {
        const char* name;
        bool tray, loginItem;
        bool opens;             // the settings window, with the message over it
        bool hostComes = false; // then a StatusNotifier host, which takes the message's place
    };
    for (const Case& c : std::initializer_list<Case>{
             {"no tray", false, false, true},
             {"no tray, at login", false, true, false},
             {"a tray", true, false, false},
             {"no tray, then a tray host", false, false, true, true},
             {"no tray, at login, then a tray host", false, true, false, true},
         }) {
        SCOPED_TRACE(c.name);
        delegate.reset();
        logs.clear();
        tray = c.tray;
        trayHost = false;
        defaults->set("welcomed", true);
        LaunchOptions options;
        options.loginItem = c.loginItem;
        AppDelegate& app = make(options);
        app.launch();
        ASSERT_NE(app.statusItem(), nullptr) << "shown once a tray appears";
        EXPECT_TRUE(input->started);
        EXPECT_EQ(std::count_if(logs.begin(), logs.end(),
                                [](const std::string& l) { return l.find("no system tray") == 0; }),
                  c.tray ? 0 : 1);
        EXPECT_EQ(visible(app.mainWindow()), c.opens);
        QList<QMessageBox*> messages =
            app.mainWindow().loadWindow()->findChildren<QMessageBox*>("noTrayMessage");
        ASSERT_EQ(messages.size(), c.opens ? 1 : 0);
        if (c.hostComes) {
            trayHost = true;
            hostAppears();
            EXPECT_EQ(app.statusItem(), nullptr);
            ASSERT_NE(app.notifierItem(), nullptr);
            EXPECT_FALSE(app.statusMenu()->actions().isEmpty()) << "the host's first look";
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            EXPECT_TRUE(app.mainWindow().window()->findChildren<QMessageBox*>().isEmpty());
            EXPECT_EQ(visible(app.mainWindow()), c.opens) << "the window stays as it is";
            continue;
        }
        if (!c.opens) continue;
        EXPECT_TRUE(messages[0]->isVisible());
        EXPECT_TRUE(messages[0]->informativeText().contains("gnome-shell-extension-appindicator"));
        // Opening the window again says nothing more.
        app.mainWindow().window()->close();
        app.reopen();
        EXPECT_EQ(app.mainWindow().window()->findChildren<QMessageBox*>("noTrayMessage").size(), 1);
        messages[0]->close();
    }
}

TEST_F(AppTest, mainMenuKeysWorkInEveryWindowAndQuitEndsTheApp) {
    AppDelegate& app = launched();
    app.openMainWindow();
    EXPECT_EQ(app.mainWindow().window()->findChild<QMenuBar*>(), app.mainMenu()->bar());
    app.openAbout();
    QAction* quit = app.mainMenu()->action("menu.quit");
    ASSERT_NE(quit, nullptr);
    EXPECT_TRUE(quit->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Q)));
    EXPECT_EQ(quit->shortcutContext(), Qt::ApplicationShortcut);
    EXPECT_TRUE(app.aboutWindow().window()->actions().contains(quit));
    EXPECT_TRUE(
        app.aboutWindow().window()->actions().contains(app.mainMenu()->action("menu.settings")));
    quit->trigger();
    EXPECT_EQ(exits, std::vector<int>{0});

    // Nothing of the desktop's own: no services, no hiding, no app-wide raise, no full screen.
    QStringList titles;
    for (QAction* action : app.mainMenu()->bar()->findChildren<QAction*>())
        titles << action->text();
    for (const char* gone : {"Services", "Hide Vantor", "Hide Others", "Show All",
                             "Bring All to Front", "Enter Full Screen", "&View", "Zoom"})
        EXPECT_FALSE(titles.contains(QString::fromUtf8(gone))) << gone;
    EXPECT_EQ(app.mainMenu()->action("menu.zoom")->text(), "Maximize");

    // Each menu title has an Alt mnemonic of its own.
    QSet<QChar> mnemonics;
    QStringList menus;
    for (QAction* menu : app.mainMenu()->bar()->actions()) {
        menus << menu->text();
        qsizetype at = menu->text().indexOf('&');
        ASSERT_GE(at, 0) << menu->text().toStdString();
        mnemonics.insert(menu->text().at(at + 1).toLower());
    }
    EXPECT_EQ(menus, (QStringList{"&Vantor", "&File", "&Edit", "&Window", "&Help"}));
    EXPECT_EQ(mnemonics.size(), menus.size());
}

// The settings window's buttons and tabs and its menu bar share one set of Alt keys; so do the
// About window's buttons.
TEST_F(AppTest, mnemonicsOfEachWindowDoNotClashWithItsMenus) {
    AppDelegate& app = launched();
    app.openMainWindow();
    app.openAbout();
    for (WindowController* controller : {&app.mainWindow(), &app.aboutWindow()}) {
        const auto keys = testsupport::mnemonics(controller->window());
        SCOPED_TRACE(controller->window()->windowTitle().toStdString());
        EXPECT_GE(keys.size(), 2u);
        EXPECT_EQ(testsupport::clashes(keys), QStringList{});
    }
    const auto keys = testsupport::mnemonics(app.mainWindow().window());
    for (const char* control : {"menu Vantor", "menu Help", "tab Apps", "addApp"})
        EXPECT_EQ(keys.count(control), 1u) << control;
}

TEST_F(AppTest, editItemsAreEnabledForWhatTheFocusedWidgetCanDo) {
    AppDelegate& app = launched();
    MainMenu& menu = *app.mainMenu();
    using Can = MainMenu::EditAbilities;
    QApplication::clipboard()->setText("pasted");
    QLineEdit empty, typed("some text"), selected("some text"), readOnly("fixed"),
        password("secret");
    selected.selectAll();
    readOnly.setReadOnly(true);
    readOnly.selectAll();
    password.setEchoMode(QLineEdit::Password);
    password.selectAll();
    typed.end(false);
    typed.insert(", changed"); // an edit to undo
    QPushButton button("OK");
    QLabel label("a selectable note");
    label.setTextInteractionFlags(Qt::TextSelectableByMouse);
    label.setSelection(0, 1);
    QPlainTextEdit notes;
    notes.setPlainText("line");
    struct Case {
        const char* name;
        const QWidget* focus;
        Can can;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"no focus", nullptr, {}},
             {"a button", &button, {}},
             {"an empty field", &empty, {.paste = true}},
             {"a changed field", &typed, {.undo = true, .paste = true, .selectAll = true}},
             {"a selection",
              &selected,
              {.cut = true, .copy = true, .paste = true, .remove = true, .selectAll = true}},
             {"read only", &readOnly, {.copy = true, .selectAll = true}},
             {"a password", &password, {.paste = true, .remove = true, .selectAll = true}},
             {"a label's selection", &label, {.copy = true}},
             {"a text editor", &notes, {.paste = true, .selectAll = true}},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(MainMenu::editAbilities(c.focus) == c.can);
        menu.updateEditItems(c.focus);
        EXPECT_EQ(menu.action("menu.copy")->isEnabled(), c.can.copy);
        EXPECT_EQ(menu.action("menu.paste")->isEnabled(), c.can.paste);
        EXPECT_EQ(menu.action("menu.selectAll")->isEnabled(), c.can.selectAll);
    }
    QApplication::clipboard()->clear();
    EXPECT_FALSE(MainMenu::editAbilities(&empty).paste) << "nothing to paste";
}

TEST_F(AppTest, windowShotModeStartsNothingAndStoresNoEdits) {
    LaunchOptions options;
    options.snapshot = QString::fromStdString(folder.path + "/shot.png");
    options.snapshotWindow = QStringLiteral("apps");
    AppDelegate& app = make(options);
    app.launch();
    EXPECT_EQ(app.statusItem(), nullptr);
    EXPECT_EQ(app.mainMenu(), nullptr);
    EXPECT_EQ(input, nullptr) << "the Scroller never connects";
    EXPECT_FALSE(app.updates().available());
    EXPECT_EQ(app.model().settings(), AppDelegate::demoSettings());
    EXPECT_DOUBLE_EQ(app.canvas().rotation(), -8.0);
    app.model().isOn("org.gnome.Maps").set(false);
    EXPECT_EQ(app.scroller().settings(), scroll::ScrollSettings());
    EXPECT_FALSE(defaults->value("welcomed"));
}

TEST(AppDelegateDemo, demoSettingsSwitchOnTwoAppsAndGiveMapsItsOwnSettings) {
    auto demo = AppDelegate::demoSettings();
    EXPECT_TRUE(demo.excludedApps.empty());
    EXPECT_EQ(demo.allowedApps, (std::set<std::string>{"org.gnome.Maps", "org.mozilla.firefox"}));
    auto maps = demo.applied("org.gnome.Maps");
    EXPECT_EQ(maps.momentum, scroll::ScrollSettings::Momentum::long_);
    EXPECT_TRUE(maps.scrollsWhileZooming());
    EXPECT_FALSE(demo.hasOwnSettings("org.mozilla.firefox"));
    EXPECT_FALSE(demo.scrollsWhileZooming()) << "the defaults stay as they are";
}

// A click on the icon: under an XEmbed tray the app shows the menu. Under a StatusNotifier host
// the icon is an item of Vantor's own whose menu the host draws; where the host asks the item to
// act instead (Activate, or ContextMenu, which swaybar sends for either click), the settings
// window opens and no menu of the app's own appears (on Wayland it would be a window of its own).
TEST_F(AppTest, aClickOnTheIconOpensTheMenuOrUnderAStatusNotifierHostTheSettings) {
    enum class Click { trigger, context, activate, contextMenu, secondary };
    struct Case {
        bool host;
        Click click;
        bool menu;
        bool settings;
    };
    const std::vector<Case> cases{
             {false, Click::trigger, true, false},
             {false, Click::context, false, false},
             {true, Click::activate, false, true},
             {true, Click::contextMenu, false, true},
             {true, Click::secondary, false, false},
    };
    for (std::size_t row = 0; row < cases.size(); ++row) {
        const Case& c = cases[row];
        trayHost = c.host;
        AppDelegate& app = launched();
        QMenu* menu = app.statusMenu();
        ASSERT_NE(menu, nullptr);
        if (c.host) {
            ASSERT_EQ(app.statusItem(), nullptr) << row;
            StatusNotifierItem* item = app.notifierItem();
            ASSERT_NE(item, nullptr) << row;
            EXPECT_TRUE(item->itemIsMenu());
            // The host is handed the menu's items before it first asks.
            EXPECT_FALSE(menu->actions().isEmpty()) << row;
            if (c.click == Click::activate) item->Activate(10, 10);
            if (c.click == Click::contextMenu) item->ContextMenu(10, 10);
            if (c.click == Click::secondary) item->SecondaryActivate(10, 10);
            QCoreApplication::processEvents();
        } else {
            ASSERT_NE(app.statusItem(), nullptr);
            EXPECT_EQ(app.notifierItem(), nullptr);
            Q_EMIT app.statusItem()->activated(c.click == Click::trigger
                                                   ? QSystemTrayIcon::Trigger
                                                   : QSystemTrayIcon::Context);
        }
        EXPECT_EQ(menu->isVisible(), c.menu) << row;
        EXPECT_EQ(visible(app.mainWindow()), c.settings) << row;
        menu->hide();
        delegate.reset();
    }
}

} // namespace
} // namespace vantor::testing
