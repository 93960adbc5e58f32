#pragma once

#include "Vantor/Scroller.h"
#include "Vantor/ScrollerSystem.h"
#include "VantorModels/AppChooser.h"
#include "VantorModels/LoginItem.h"
#include "VantorModels/Updates.h"
#include "VantorShell/CommandLine.h"
#include "VantorShell/MainMenu.h"

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QSlider;
class QSystemTrayIcon;
class QWidget;
class QWidgetAction;

namespace kestrix {
class UserDefaults;
}

namespace vantor {

class CanvasModel;
class SettingsModel;
class StatusNotifierItem;
class UpdatePrompt;
class WindowController;

// Vantor's application delegate and the owner of everything the app runs: the Scroller, the
// update controller, the preview canvas, the tray item and its menu, and, made on first use, the
// settings view model and the three windows. Runs the launch sequence, decides when the About
// window and the release notes show by themselves, wires the Scroller, the view model and the
// windows together and keeps the view model's system fields current. Main thread only.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // Linux has no Dock: the activation policy is bookkeeping that the tests observe.
    enum class ActivationPolicy { accessory, regular };

    // The system as the app delegate reaches it; tests replace every field.
    struct Services {
        // The Scroller's services; its user defaults also keep "welcomed".
        ScrollerSystem scroller;
        LaunchOptions options;
        // The modifier keys held now (Alt shows "Reload Settings").
        std::function<Qt::KeyboardModifiers()> modifiers;
        // Whether the desktop shows tray icons.
        std::function<bool()> trayAvailable;
        // Whether the tray is a StatusNotifier host: the icon is then an item of Vantor's own
        // whose menu the host draws (a menu the app showed would be a window of its own on
        // Wayland); otherwise Qt's tray icon (XEmbed trays).
        std::function<bool()> statusNotifierHost;
        // Calls `appeared` each time a StatusNotifier host's watcher comes onto the bus, for as
        // long as the object it returns lives.
        std::function<std::unique_ptr<QObject>(std::function<void()> appeared)>
            followStatusNotifierHost;
        // Opens a web page in the desktop's browser.
        std::function<void(const QUrl&)> openUrl;
        // Ends the application's event loop with this status.
        std::function<void(int)> exit;
        // Explains how to allow posting events (the udev rule); the dialog when empty.
        std::function<void()> showAccessibilityHelp;
        // The update controller's services (its user defaults are dropped in window-shot mode).
        UpdatesSystem updates;
        // The autostart entry; the apps chooser of the Apps tab (the dialog when absent).
        std::shared_ptr<LoginItem> loginItem;
        std::shared_ptr<AppChooser> appChooser;
    };

    // The standard services, except the Scroller's and the user defaults.
    static Services standardServices();

    explicit AppDelegate(Services services);
    ~AppDelegate() override;

    // The launch sequence (or the window-shot mode and nothing else).
    void launch();
    // When the application ends.
    void terminate();
    // A second start of Vantor asked for its window (clicking the app again).
    void reopen();
    // The application became active.
    void becameActive();

    // Actions of the menus and windows.
    void openMainWindow();
    void openAbout();
    void openReleaseNotes();
    void checkForUpdates();
    void openAccessibility();
    void openFrontAppHelp();
    void openWebsite();
    void reloadSettings();
    void quit();
    void toggleFrontmostApp();
    void useDefaults();

    // Rebuilds the tray menu from the Scroller's state, as each time it opens.
    void menuNeedsUpdate();
    // Copies the Scroller's state into the view model.
    void refreshModel();
    // Reads the posting permission and the autostart entry again.
    void refreshSystemState();
    // Back to accessory unless one of the windows (other than `closing`) is visible or an
    // update window shows.
    void leaveDockUnlessWindows(QWidget* closing);

    // The settings the window-shot mode shows.
    static scroll::ScrollSettings demoSettings();

    Scroller& scroller() { return *scroller_; }
    Updates& updates() { return *updates_; }
    CanvasModel& canvas() { return *canvas_; }
    // Made on first use.
    SettingsModel& model();
    WindowController& mainWindow();
    WindowController& aboutWindow();
    WindowController& releaseNotesWindow();
    // Whether the window-shot mode runs instead of the app.
    bool windowShot() const { return windowShot_; }
    // The tray icon: Qt's under an XEmbed tray, or the StatusNotifier item; the other is null.
    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    StatusNotifierItem* notifierItem() const { return notifierItem_.get(); }
    QMenu* statusMenu() const { return statusMenu_.get(); }
    // Made with the first window that shows it (none in the window-shot mode).
    MainMenu* mainMenu();
    ActivationPolicy activationPolicy() const { return activationPolicy_; }
    bool updateSessionShowing() const { return updateSessionShowing_; }
    bool launchedAsLoginItem() const { return launchedAsLoginItem_; }
    bool iconDimmed() const { return iconDimmed_; }

    static constexpr const char* website = "https://orvella.me/vantor/";

    // What the settings window says at a start without a tray: that the tray is missing, and
    // how to get one (rich text, with the command that installs GNOME's extension).
    static QString trayMissingText();
    static QString trayHelpText();

private:
    QAction* addItem(QMenu& menu, const QString& title, const char* name,
                     void (AppDelegate::*action)());
    // The four or five items of the block about the app in front (none without one).
    QList<QAction*> frontmostAppMenus(QMenu& menu);
    QWidgetAction* speedSliderItem(QMenu& menu, double position, bool own);
    void speedSliderMoved(QSlider* slider, double position);
    bool canCheckForUpdates() const;
    void setActivationPolicy(ActivationPolicy policy) { activationPolicy_ = policy; }
    void createStatusItem();
    // The icon as an item of Vantor's own that the StatusNotifier host shows, with its menu;
    // from the start or once a host has come, which takes the place of Qt's icon and of the
    // message that the tray is missing.
    void showNotifierItem();
    // Refreshes the model, makes the app regular and shows the window in front.
    void show(WindowController& controller);
    std::unique_ptr<WindowController> window(const QString& title, QSize size,
                                             std::function<QWidget*()> content,
                                             std::function<void(QWidget&)> configure = {});
    void startWindowShot();
    QWidget* openShotWindow(const QString& scene);
    void updateStatusIcon();
    // Tells, over the settings window, that the desktop has no tray.
    void tellTrayMissing();

    Services services_;
    const bool windowShot_;
    std::unique_ptr<Scroller> scroller_;
    std::unique_ptr<Updates> updates_;
    std::shared_ptr<CanvasModel> canvas_;
    std::unique_ptr<SettingsModel> model_;
    std::unique_ptr<WindowController> mainWindow_;
    std::unique_ptr<WindowController> aboutWindow_;
    std::unique_ptr<WindowController> releaseNotesWindow_;
    std::unique_ptr<UpdatePrompt> updatePrompt_;
    std::unique_ptr<QMenu> statusMenu_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    std::unique_ptr<StatusNotifierItem> notifierItem_;
    std::unique_ptr<QObject> hostFollower_;
    QPointer<QWidget> trayMessage_;
    std::optional<MainMenu::Handlers> mainMenuHandlers_;
    std::unique_ptr<MainMenu> mainMenu_;
    bool updateSessionShowing_ = false;
    bool launchedAsLoginItem_ = false;
    bool iconDimmed_ = true;
    ActivationPolicy activationPolicy_ = ActivationPolicy::accessory;
    QPointer<QWidget> accessibilityDialog_;
    QPointer<QWidget> frontAppDialog_;
};

} // namespace vantor
