#include "VantorShell/AppDelegate.h"

#include "KestrixProtocol/UserDefaults.h"
#include "Vantor/Log.h"
#include "VantorModels/CanvasModel.h"
#include "VantorModels/SettingsModel.h"
#include "VantorShell/AccessibilityDialog.h"
#include "VantorShell/FrontAppDialog.h"
#include "VantorShell/MainMenu.h"
#include "VantorShell/WindowShot.h"
#include "StatusNotifierItem.h"
#include "VantorWindows/AboutView.h"
#include "VantorWindows/AppChooserDialog.h"
#include "VantorWindows/MainView.h"
#include "VantorWindows/ReleaseNotesView.h"
#include "VantorWindows/UpdateWindow.h"
#include "VantorWindows/WindowController.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLayout>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTimer>

namespace vantor {

using scroll::ScrollSettings;
using AppSetting = ScrollSettings::AppSetting;

namespace {

// The demonstration's app with settings of its own.
constexpr const char* demoMapsApp = "org.gnome.Maps";

} // namespace

AppDelegate::Services AppDelegate::standardServices() {
    Services services;
    services.modifiers = [] { return QGuiApplication::queryKeyboardModifiers(); };
    services.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    services.statusNotifierHost = [] {
        QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.isConnected() && bus.interface()->isServiceRegistered(
                                        QString::fromLatin1(StatusNotifierItem::watcherService));
    };
    services.followStatusNotifierHost =
        [](std::function<void()> appeared) -> std::unique_ptr<QObject> {
        auto follower = std::make_unique<QDBusServiceWatcher>(
            QString::fromLatin1(StatusNotifierItem::watcherService), QDBusConnection::sessionBus(),
            QDBusServiceWatcher::WatchForRegistration);
        QObject::connect(follower.get(), &QDBusServiceWatcher::serviceRegistered, follower.get(),
                         [appeared = std::move(appeared)] { appeared(); });
        return follower;
    };
    services.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    services.exit = [](int status) { QCoreApplication::exit(status); };
    return services;
}

AppDelegate::AppDelegate(Services services)
    : services_(std::move(services))
    , windowShot_(WindowShot::scene(services_.options).has_value())
    , scroller_(std::make_unique<Scroller>(services_.scroller)) {
    // The window-shot mode has no updater and writes nothing.
    if (windowShot_) services_.updates.defaults = nullptr;
    updates_ = std::make_unique<Updates>(std::move(services_.updates));
    canvas_ = windowShot_ ? std::make_shared<CanvasModel>(-8.0, 1.25)
                          : std::make_shared<CanvasModel>(0.0, 1.0);
}

AppDelegate::~AppDelegate() {
    scroller_->onChange = nullptr;
    // The windows go before the model and the canvas they show.
    updatePrompt_.reset();
    releaseNotesWindow_.reset();
    aboutWindow_.reset();
    mainWindow_.reset();
}

void AppDelegate::launch() {
    launchedAsLoginItem_ = services_.options.loginItem;
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive) becameActive();
            });
    if (windowShot_) return startWindowShot();

    MainMenu::Handlers handlers;
    handlers.openAbout = [this] { openAbout(); };
    if (updates_->available()) handlers.checkForUpdates = [this] { checkForUpdates(); };
    handlers.openMainWindow = [this] { openMainWindow(); };
    handlers.quit = [this] { quit(); };
    handlers.openReleaseNotes = [this] { openReleaseNotes(); };
    handlers.openWebsite = [this] { openWebsite(); };
    // The menu bar is made when a window first needs it: the tray alone has no use for it.
    mainMenuHandlers_ = std::move(handlers);

    QPointer<AppDelegate> self(this);
    updates_->userDriver.onShowsWindow = [self] {
        if (!self) return;
        self->updateSessionShowing_ = true;
        self->setActivationPolicy(ActivationPolicy::regular);
    };
    updates_->userDriver.onSessionEnded = [self] {
        if (!self) return;
        self->updateSessionShowing_ = false;
        self->leaveDockUnlessWindows(nullptr);
    };

    // What a check finds shows in the update window or a message.
    updatePrompt_ = std::make_unique<UpdatePrompt>(*updates_);

    createStatusItem();

    scroller_->onChange = [this] {
        // The icon is drawn again only when its state changes.
        if (iconDimmed_ == scroller_->takesDevice()) {
            iconDimmed_ = !scroller_->takesDevice();
            updateStatusIcon();
        }
        refreshModel();
    };
    scroller_->start();

    // Welcome: the About window once, on the first launch, unless the release notes are due or
    // the system started Vantor at login.
    kestrix::UserDefaults& defaults = *services_.scroller.defaults;
    bool welcomed = defaults.value("welcomed").has_value();
    defaults.set("welcomed", true);
    if (!welcomed && !updates_->releaseNotesDue && !launchedAsLoginItem_) show(aboutWindow());

    if (updates_->releaseNotesDue) {
        updates_->releaseNotesDue = false;
        refreshModel();
        refreshSystemState();
        setActivationPolicy(ActivationPolicy::regular);
        releaseNotesWindow().show();
    }

    // Without a tray nothing of Vantor would show: a start by hand opens the settings window and
    // says why, once (until a tray comes). A start at login stays quiet.
    if (!notifierItem_ && services_.trayAvailable && !services_.trayAvailable() &&
        !launchedAsLoginItem_) {
        openMainWindow();
        tellTrayMissing();
    }
}

QString AppDelegate::trayMissingText() {
    return tr("This desktop shows no tray icons, so Vantor's icon and its menu are missing. Vantor "
              "runs all the same; start it again to open this window.");
}

QString AppDelegate::trayHelpText() {
    return QStringLiteral("<p>%1</p><pre>%2</pre><p>%3</p>")
        .arg(tr("On GNOME, install the AppIndicator extension:"),
             QStringLiteral("sudo apt install gnome-shell-extension-appindicator"),
             tr("then log out and in again, and switch on \"AppIndicator and KStatusNotifierItem "
                "Support\" in the Extensions app. Other desktops show tray icons in their panel; "
                "add a system tray to it if it has none."));
}

void AppDelegate::tellTrayMissing() {
    QWidget* parent = mainWindow().window();
    auto* box = new QMessageBox(parent);
    trayMessage_ = box;
    box->setObjectName(QStringLiteral("noTrayMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Information);
    box->setWindowTitle(tr("No System Tray"));
    box->setText(trayMissingText());
    box->setInformativeText(trayHelpText());
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setStandardButtons(QMessageBox::Ok);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

MainMenu* AppDelegate::mainMenu() {
    if (!mainMenu_ && mainMenuHandlers_) mainMenu_ = std::make_unique<MainMenu>(*mainMenuHandlers_);
    return mainMenu_.get();
}

void AppDelegate::terminate() {
    scroller_->stop();
}

void AppDelegate::reopen() {
    openMainWindow();
}

void AppDelegate::becameActive() {
    refreshSystemState();
}

bool AppDelegate::canCheckForUpdates() const {
    return updates_->canCheck();
}

SettingsModel& AppDelegate::model() {
    if (model_) return *model_;
    std::shared_ptr<AppChooser> chooser = services_.appChooser;
    if (!chooser)
        chooser = std::make_shared<DialogAppChooser>(
            [this]() -> QWidget* { return mainWindow_ ? mainWindow_->window() : nullptr; },
            services_.scroller.ownBundleID);
    model_ = std::make_unique<SettingsModel>(windowShot_ ? demoSettings() : scroller_->settings(),
                                             services_.loginItem, chooser);
    QPointer<AppDelegate> self(this);
    // In the window-shot mode edits go nowhere.
    if (!windowShot_)
        model_->onChange = [self](const ScrollSettings& settings) {
            if (self) self->scroller_->update(settings);
        };
    model_->onOpenAccessibility = [self] {
        if (self) self->openAccessibility();
    };
    model_->onPreviewChange = [self](const std::optional<std::string>& app) {
        if (!self || !self->mainWindow_ || !self->mainWindow_->window()) return;
        if (self->mainWindow_->window()->isVisible())
            self->scroller_->setPreview(self->canvas_, app);
    };
    return *model_;
}

std::unique_ptr<WindowController> AppDelegate::window(const QString& title, QSize size,
                                                      std::function<QWidget*()> content,
                                                      std::function<void(QWidget&)> configure) {
    auto controller =
        std::make_unique<WindowController>(title, size, std::move(content), std::move(configure));
    WindowController* raw = controller.get();
    QPointer<AppDelegate> self(this);
    controller->onClose = [self, raw](QWidget& closing) {
        if (!self) return;
        if (self->mainWindow_.get() == raw) self->scroller_->setPreview(nullptr, std::nullopt);
        self->leaveDockUnlessWindows(&closing);
    };
    return controller;
}

WindowController& AppDelegate::mainWindow() {
    if (!mainWindow_)
        mainWindow_ = window(
            tr("Vantor"), QSize(560, 820),
            [this] { return new MainView(model(), *updates_, *canvas_); },
            [this](QWidget& window) {
                MainMenu* menu = mainMenu();
                if (!menu) return;
                // The menu bar sits above the content, which keeps its size.
                window.layout()->setMenuBar(menu->bar());
                window.resize(window.width(), window.height() + menu->bar()->sizeHint().height());
            });
    return *mainWindow_;
}

WindowController& AppDelegate::aboutWindow() {
    if (!aboutWindow_)
        aboutWindow_ = window(
            AboutView::title(), QSize(AboutView::width, AboutView::height),
            [this] {
                QPointer<AppDelegate> self(this);
                return new AboutView(
                    [self] {
                        if (self) self->openReleaseNotes();
                    },
                    [self] {
                        if (self) self->openMainWindow();
                    });
            },
            [this](QWidget& window) {
                AboutView::configure(window);
                if (MainMenu* menu = mainMenu()) menu->addKeysTo(&window);
            });
    return *aboutWindow_;
}

WindowController& AppDelegate::releaseNotesWindow() {
    if (!releaseNotesWindow_)
        releaseNotesWindow_ = window(
            tr("Release Notes"), QSize(520, 600), [] { return ReleaseNotesView::load(); },
            [this](QWidget& window) {
                if (MainMenu* menu = mainMenu()) menu->addKeysTo(&window);
            });
    return *releaseNotesWindow_;
}

void AppDelegate::show(WindowController& controller) {
    refreshModel();
    refreshSystemState();
    setActivationPolicy(ActivationPolicy::regular);
    controller.show();
}

void AppDelegate::openMainWindow() {
    show(mainWindow());
    scroller_->setPreview(canvas_, model().previewApp());
}

void AppDelegate::openAbout() {
    show(aboutWindow());
}

void AppDelegate::openReleaseNotes() {
    refreshModel();
    refreshSystemState();
    setActivationPolicy(ActivationPolicy::regular);
    releaseNotesWindow().show();
}

void AppDelegate::checkForUpdates() {
    setActivationPolicy(ActivationPolicy::regular);
    updates_->checkForUpdates();
}

void AppDelegate::openAccessibility() {
    if (services_.showAccessibilityHelp) return services_.showAccessibilityHelp();
    if (accessibilityDialog_) {
        accessibilityDialog_->raise();
        accessibilityDialog_->activateWindow();
        return;
    }
    QMessageBox* dialog = AccessibilityDialog::make();
    accessibilityDialog_ = dialog;
    dialog->show();
}

void AppDelegate::openFrontAppHelp() {
    if (frontAppDialog_) {
        frontAppDialog_->raise();
        frontAppDialog_->activateWindow();
        return;
    }
    QMessageBox* dialog = FrontAppDialog::make(scroller_->frontAppStatus());
    frontAppDialog_ = dialog;
    dialog->show();
}

void AppDelegate::openWebsite() {
    if (services_.openUrl) services_.openUrl(QUrl(QString::fromLatin1(website)));
}

void AppDelegate::reloadSettings() {
    scroller_->reloadSettings();
}

void AppDelegate::quit() {
    if (services_.exit) services_.exit(0);
}

void AppDelegate::refreshModel() {
    SettingsModel& m = model();
    auto [device, driver] = scroller_->connectionDescription();
    m.setDeviceName(QString::fromStdString(device));
    m.setDriverName(driver ? std::optional<QString>(QString::fromStdString(*driver))
                           : std::nullopt);
    auto front = scroller_->frontAppStatus();
    m.setFrontAppProblem(front.working()
                             ? std::nullopt
                             : std::optional<QString>(QString::fromStdString(front.reason)));
    auto text = [](const std::optional<std::string>& problem) {
        return problem ? std::optional<QString>(QString::fromStdString(*problem)) : std::nullopt;
    };
    m.setDeviceProblem(text(scroller_->connectionProblem()));
    if (kestrix::UserDefaults* defaults = services_.scroller.defaults)
        m.setSettingsFileProblem(text(defaults->problem()));
    m.setSettings(scroller_->settings());
}

void AppDelegate::refreshSystemState() {
    if (windowShot_) return;
    SettingsModel& m = model();
    // Names and icons are looked up afresh: apps may have been installed or removed.
    m.apps.clear();
    m.setHasPermission(services_.scroller.hasPermission && services_.scroller.hasPermission());
    if (services_.loginItem) m.setLoginItemStatus(services_.loginItem->status());
}

void AppDelegate::leaveDockUnlessWindows(QWidget* closing) {
    for (const auto* controller : {&mainWindow_, &aboutWindow_, &releaseNotesWindow_}) {
        QWidget* window = *controller ? (*controller)->window() : nullptr;
        if (window && window != closing && window->isVisible()) return;
    }
    if (!updateSessionShowing_) setActivationPolicy(ActivationPolicy::accessory);
}

void AppDelegate::startWindowShot() {
    SettingsModel& m = model();
    m.setDeviceName(QStringLiteral("SpaceMouse Compact"));
    m.setDriverName(tr("Vantor (direct)"));
    m.setHasPermission(true);
    m.setLoginItemStatus(LoginItemStatus::notRegistered);
    // On the loop, once the application runs.
    QTimer::singleShot(0, this, [this] {
        WindowShot::take(
            services_.options, [this](const QString& scene) { return openShotWindow(scene); },
            services_.exit);
    });
}

QWidget* AppDelegate::openShotWindow(const QString& scene) {
    if (scene == QLatin1String("main")) return mainWindow().loadWindow();
    if (scene == QLatin1String("about")) return aboutWindow().loadWindow();
    if (scene == QLatin1String("releaseNotes")) return releaseNotesWindow().loadWindow();
    std::optional<MainTab> tab = MainTab::fromRawValue(scene.toStdString());
    if (!tab) return nullptr;
    model().setTab(*tab);
    if (*tab == MainTab::apps) model().setSelectedApp(std::string(demoMapsApp));
    return mainWindow().loadWindow();
}

ScrollSettings AppDelegate::demoSettings() {
    ScrollSettings settings;
    settings.excludedApps.clear();
    settings.setDevice(true, "org.mozilla.firefox");
    settings.setDevice(true, demoMapsApp);
    settings.setOwn(AppSetting::momentum, demoMapsApp,
                    [](ScrollSettings& s) { s.momentum = ScrollSettings::Momentum::long_; });
    settings.setOwn(AppSetting::together, demoMapsApp,
                    [](ScrollSettings& s) { s.setScrollsWhileZooming(true); });
    return settings;
}

} // namespace vantor
