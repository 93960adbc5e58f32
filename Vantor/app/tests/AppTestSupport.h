#pragma once

// The app delegate on simulated services: a broker connection driven by the test, user defaults
// in a temporary folder, a fake autostart entry, a feed fetcher that never answers, and the
// modifier keys, the tray and the exits under the test's control. Widgets run offscreen.

#include "KestrixProtocol/UserDefaults.h"
#include "ScrollerFakes.h"
#include "TempFolder.h"
#include "Vantor/Log.h"
#include "VantorShell/AppDelegate.h"

#include <QApplication>
#include <QMenu>
#include <QWidgetAction>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace vantor::testing {

// The tests' application, made by the first test that needs it. It is deleted after the last
// test, before exit(): left to exit(), the deletions still pending in it would run after Qt's
// thread data is gone.
inline QApplication*& testAppSlot() {
    static QApplication* app = nullptr;
    return app;
}

// Deletes what the tests left for deferred deletion, then the application itself.
class TestAppEnvironment final : public ::testing::Environment {
public:
    void TearDown() override {
        QApplication*& app = testAppSlot();
        if (!app) return;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete app;
        app = nullptr;
    }
};

inline ::testing::Environment* const testAppEnvironment =
    ::testing::AddGlobalTestEnvironment(new TestAppEnvironment);

inline QApplication& testApp() {
    static int argc = 1;
    static char name[] = "VantorShellTests";
    static char* argv[] = {name, nullptr};
    QApplication*& app = testAppSlot();
    if (!app) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        app = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    return *app;
}

class FakeLoginItem final : public LoginItem {
public:
    LoginItemStatus status() const override { return current; }
    std::optional<std::string> registerItem() override { return std::nullopt; }
    std::optional<std::string> unregisterItem() override { return std::nullopt; }
    LoginItemStatus current = LoginItemStatus::notRegistered;
};

// Holds every request; a check therefore stays running.
class SilentFetcher final : public FeedFetcher {
public:
    void fetch(const QUrl&, Done) override { ++fetches; }
    int fetches = 0;
};

class AppTest : public ::testing::Test {
protected:
    static constexpr const char* own = "me.orvella.Vantor";
    static constexpr const char* editor = "org.example.Editor";

    AppTest() {
        testApp();
        defaults = std::make_unique<kestrix::UserDefaults>(folder.path + "/vantor.json");
        Log::setSink([this](Log::Level, std::string_view line) { logs.emplace_back(line); });
    }
    ~AppTest() override {
        finish();
        Log::setSink({});
    }

    // Deletes the delegate and then whatever the test closed (dialogs delete themselves on
    // close, later), so that no window outlives its test.
    void finish() {
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The delegate on these services, not launched; `build` is the running build number.
    AppDelegate& make(LaunchOptions options = {}, std::string build = "7") {
        AppDelegate::Services services;
        ScrollerSystem& system = services.scroller;
        system.defaults = defaults.get();
        system.now = [] { return 100.0; };
        system.makeTicker = [] { return std::make_unique<ManualTicker>(); };
        system.connect = [this](const kestrix::Claim&) -> std::unique_ptr<SpaceMouseInput> {
            auto fake = std::make_unique<FakeInput>();
            input = fake.get();
            return fake;
        };
        system.poster = std::make_shared<RecordingSink>();
        system.ownBundleID = own;
        system.hasPermission = [this] { return permission; };
        system.workspace = workspace;
        services.options = std::move(options);
        services.modifiers = [this] { return modifiers; };
        services.trayAvailable = [this] { return tray; };
        services.statusNotifierHost = [this] { return trayHost; };
        services.followStatusNotifierHost = [this](std::function<void()> appeared) {
            hostAppears = std::move(appeared);
            return std::make_unique<QObject>();
        };
        services.openUrl = [this](const QUrl& url) { opened.push_back(url); };
        services.exit = [this](int status) { exits.push_back(status); };
        services.showAccessibilityHelp = [this] { ++accessibilityHelps; };
        services.updates.defaults = defaults.get();
        auto fetcher = std::make_unique<SilentFetcher>();
        fetches = fetcher.get();
        services.updates.fetcher = std::move(fetcher);
        services.updates.build = BuildInfo{"1.0.0", build, false};
        services.updates.feedBase = QStringLiteral("http://127.0.0.1:9/");
        services.loginItem = loginItem;
        delegate = std::make_unique<AppDelegate>(std::move(services));
        return *delegate;
    }

    // Launched with `app` in front (absent: none), its name "Editor".
    AppDelegate& launched(std::optional<std::string> app = std::nullopt) {
        defaults->set("welcomed", true);
        if (app) workspace->activate(RunningApp{*app, "Editor"});
        make().launch();
        return *delegate;
    }

    static kestrix::SpaceMouseDevice device() {
        kestrix::SpaceMouseDevice d;
        d.id = "serial:A";
        d.vendorID = 0x256f;
        d.productID = 0xc635;
        d.name = "SpaceMouse Compact";
        d.state = "open";
        d.axisFullScale = 350;
        return d;
    }

    // The tray menu as it opens: one line per item, "-" for separators, "[x] " / "[ ] " in front
    // of checkable items, " >" after submenus, " (off)" after disabled items.
    static std::vector<std::string> describe(const QMenu& menu) {
        std::vector<std::string> lines;
        for (QAction* item : menu.actions()) {
            if (item->isSeparator()) {
                lines.push_back("-");
                continue;
            }
            if (qobject_cast<QWidgetAction*>(item)) {
                lines.push_back("[slider]");
                continue;
            }
            std::string line = item->text().toStdString();
            if (item->isCheckable()) line = (item->isChecked() ? "[x] " : "[ ] ") + line;
            if (item->menu()) line += " >";
            if (!item->isEnabled()) line += " (off)";
            lines.push_back(line);
        }
        return lines;
    }

    QMenu& openStatusMenu() {
        QMenu* menu = delegate->statusMenu();
        EXPECT_NE(menu, nullptr);
        Q_EMIT menu->aboutToShow();
        return *menu;
    }

    // The item of `menu` (or of one of its submenus) with this text.
    static QAction* item(const QMenu& menu, const QString& text) {
        for (QAction* action : menu.actions()) {
            if (action->text() == text) return action;
            if (action->menu())
                if (QAction* found = item(*action->menu(), text)) return found;
        }
        return nullptr;
    }

    testsupport::TempFolder folder;
    std::unique_ptr<kestrix::UserDefaults> defaults;
    std::shared_ptr<SimulatedWorkspace> workspace = std::make_shared<SimulatedWorkspace>();
    std::shared_ptr<FakeLoginItem> loginItem = std::make_shared<FakeLoginItem>();
    std::unique_ptr<AppDelegate> delegate;
    FakeInput* input = nullptr;
    SilentFetcher* fetches = nullptr;
    bool permission = true;
    bool tray = true;
    bool trayHost = false;             // the tray is a StatusNotifier host
    std::function<void()> hostAppears; // a StatusNotifier host comes onto the bus
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    std::vector<QUrl> opened;
    std::vector<int> exits;
    int accessibilityHelps = 0;
    std::vector<std::string> logs;
};

} // namespace vantor::testing
