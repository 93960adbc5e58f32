#include "VantorShell/AppDelegate.h"

#include "KestrixProtocol/UserDefaults.h"
#include "Vantor/Log.h"
#include "VantorShell/AccessibilityDialog.h"
#include "VantorShell/MainMenu.h"
#include "VantorShell/WindowShot.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QWidgetAction>
#include <cmath>

namespace vantor {

using scroll::ScrollSettings;
using AppSetting = ScrollSettings::AppSetting;

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("AppDelegate", text);
}

// One selectable item of a tray submenu; an absent Choice in a list stands for a separator.
struct Choice {
    QString title;
    bool on;
    std::function<void()> choose;
};

// A submenu of `parent` with one item per entry.
QMenu* submenu(QMenu& parent, const QString& title, const char* name,
               const std::vector<std::optional<Choice>>& entries) {
    auto* menu = new QMenu(title, &parent);
    menu->setObjectName(QString::fromLatin1(name));
    for (const auto& entry : entries) {
        if (!entry) {
            menu->addSeparator();
            continue;
        }
        QAction* item = menu->addAction(entry->title);
        item->setCheckable(true);
        item->setChecked(entry->on);
        QObject::connect(item, &QAction::triggered, item, [choose = entry->choose] { choose(); });
    }
    parent.addMenu(menu);
    return menu;
}

// TODO(models): the titles come from the models' enumeration titles.
QString responseTitle(ScrollSettings::Response response) {
    static const char* titles[] = {"Direct", "Balanced", "Precise"};
    return tr(titles[static_cast<int>(response)]);
}
QString momentumTitle(ScrollSettings::Momentum momentum) {
    static const char* titles[] = {"No momentum", "Short momentum", "Medium momentum",
                                   "Long momentum"};
    return tr(titles[static_cast<int>(momentum)]);
}

// Positions of the tray's speed slider between 0 and 1.
constexpr int sliderSteps = 1000;

} // namespace

AppDelegate::Services AppDelegate::standardServices() {
    Services services;
    services.modifiers = [] { return QGuiApplication::queryKeyboardModifiers(); };
    services.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    services.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    services.exit = [](int status) { QCoreApplication::exit(status); };
    return services;
}

AppDelegate::AppDelegate(Services services)
    : services_(std::move(services))
    , scroller_(std::make_unique<Scroller>(services_.scroller)) {}

AppDelegate::~AppDelegate() {
    if (scroller_) scroller_->onChange = nullptr;
}

void AppDelegate::launch() {
    launchedAsLoginItem_ = services_.options.loginItem;
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive) becameActive();
            });
    if (WindowShot::scene(services_.options)) {
        // TODO: the window-shot mode needs the windows.
        return;
    }

    MainMenu::Handlers handlers;
    handlers.openAbout = [this] { openAbout(); };
    handlers.checkForUpdates = [this] { checkForUpdates(); };
    handlers.openMainWindow = [this] { openMainWindow(); };
    handlers.quit = [this] { quit(); };
    handlers.openReleaseNotes = [this] { openReleaseNotes(); };
    handlers.openWebsite = [this] { openWebsite(); };
    handlers.windows = [] { return QList<QWidget*>(); };
    mainMenu_ = std::make_unique<MainMenu>(std::move(handlers));

    createStatusItem();

    scroller_->onChange = [this] {
        iconDimmed_ = !scroller_->takesDevice();
        updateStatusIcon();
        refreshModel();
    };
    scroller_->start();

    if (services_.defaults) {
        bool welcomed = services_.defaults->value("welcomed").has_value();
        services_.defaults->set("welcomed", true);
        (void)welcomed;
    }
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

void AppDelegate::createStatusItem() {
    if (services_.trayAvailable && !services_.trayAvailable()) {
        Log::info("no system tray on this desktop: Vantor runs without its icon; start vantor "
                  "again to open its settings");
        return;
    }
    statusMenu_ = std::make_unique<QMenu>();
    statusMenu_->setObjectName(QStringLiteral("statusMenu"));
    statusMenu_->setToolTipsVisible(true);
    connect(statusMenu_.get(), &QMenu::aboutToShow, this, &AppDelegate::menuNeedsUpdate);
    statusItem_ = std::make_unique<QSystemTrayIcon>();
    statusItem_->setToolTip(QStringLiteral("Vantor"));
    statusItem_->setContextMenu(statusMenu_.get());
    // A click on the icon opens the menu, as a right click does.
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) statusMenu_->popup(QCursor::pos());
            });
    updateStatusIcon();
    statusItem_->show();
}

void AppDelegate::updateStatusIcon() {
    if (!statusItem_) return;
    QColor color = QApplication::palette().color(QPalette::Active, QPalette::WindowText);
    if (iconDimmed_) color.setAlphaF(0.4);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(color);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QRectF(size * 0.15, size * 0.15, size * 0.7, size * 0.7));
        painter.end();
        icon.addPixmap(pixmap);
    }
    statusItem_->setIcon(icon);
}

QAction* AppDelegate::addItem(QMenu& menu, const QString& title, const char* name,
                              void (AppDelegate::*action)()) {
    QAction* item = menu.addAction(title);
    item->setObjectName(QString::fromLatin1(name));
    connect(item, &QAction::triggered, this, action);
    return item;
}

void AppDelegate::menuNeedsUpdate() {
    if (!statusMenu_) return;
    QMenu& menu = *statusMenu_;
    menu.clear();
    for (QMenu* old : menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly))
        old->deleteLater();

    const Scroller& s = *scroller_;
    QString name = QString::fromStdString(
        s.frontmostName().value_or(s.frontmostBundleID().value_or(std::string())));
    if (s.frontmostHasOwnClient()) {
        QAction* item = addItem(menu, tr("Use the SpaceMouse in %1").arg(name),
                                "status.useInFront", &AppDelegate::toggleFrontmostApp);
        item->setCheckable(true);
        item->setChecked(false);
        item->setEnabled(false);
        item->setToolTip(tr("%1 uses the SpaceMouse itself").arg(name));
        menu.addSeparator();
    } else if (s.frontmostBundleID() && s.frontmostBundleID() != services_.scroller.ownBundleID) {
        bool on = s.settings().deviceChoice(*s.frontmostBundleID()) ==
                  scroll::DevicePolicy::AppChoice::on;
        QAction* item = addItem(menu, tr("Use the SpaceMouse in %1").arg(name),
                                "status.useInFront", &AppDelegate::toggleFrontmostApp);
        item->setCheckable(true);
        item->setChecked(on);
        for (QAction* appItem : frontmostAppMenus(menu))
            appItem->setEnabled(on);
        menu.addSeparator();
    }
    if (!services_.scroller.hasPermission || !services_.scroller.hasPermission()) {
        addItem(menu, tr("Allow Accessibility…"), "status.allowAccessibility",
                &AppDelegate::openAccessibility);
        menu.addSeparator();
    }
    addItem(menu, tr("Settings…"), "status.settings", &AppDelegate::openMainWindow);
    // Alt held as the menu opens shows the alternate of the update check.
    if (services_.modifiers && (services_.modifiers() & Qt::AltModifier))
        addItem(menu, tr("Reload Settings"), "status.reloadSettings",
                &AppDelegate::reloadSettings);
    else
        addItem(menu, tr("Check for Updates…"), "status.checkForUpdates",
                &AppDelegate::checkForUpdates)
            ->setEnabled(canCheckForUpdates());
    menu.addSeparator();
    addItem(menu, tr("Quit Vantor"), "status.quit", &AppDelegate::quit);
}

QList<QAction*> AppDelegate::frontmostAppMenus(QMenu& menu) {
    const auto& front = scroller_->frontmostBundleID();
    if (!front) return {};
    const std::string app = *front;
    const ScrollSettings& defaults = scroller_->settings();
    const ScrollSettings applied = defaults.applied(app);
    QPointer<AppDelegate> self(this);
    auto follow = [self](std::optional<AppSetting> setting) {
        return [self, setting] {
            if (self) self->scroller_->followDefaultInFrontmostApp(setting);
        };
    };
    auto set = [self](AppSetting setting, std::function<void(ScrollSettings&)> change) {
        return [self, setting, change = std::move(change)] {
            if (self) self->scroller_->setForFrontmostApp(setting, change);
        };
    };
    QList<QAction*> items;

    bool followsSpeed = defaults.follows(AppSetting::speed, app);
    QMenu* speed = submenu(menu, tr("Speed"), "status.speed",
                           {Choice{tr("Default"), followsSpeed, follow(AppSetting::speed)},
                            std::nullopt});
    speed->addAction(speedSliderItem(*speed, ScrollSettings::sliderPosition(applied.speed),
                                     !followsSpeed));
    items << speed->menuAction();

    bool followsResponse = defaults.follows(AppSetting::response, app);
    std::vector<std::optional<Choice>> responses{
        Choice{tr("Default (%1)").arg(responseTitle(defaults.response)), followsResponse,
               follow(AppSetting::response)},
        std::nullopt};
    for (auto response : ScrollSettings::Response::allCases())
        responses.push_back(Choice{responseTitle(response),
                                   !followsResponse && applied.response == response,
                                   set(AppSetting::response, [response](ScrollSettings& v) {
                                       v.response = response;
                                   })});
    items << submenu(menu, tr("Response"), "status.response", responses)->menuAction();

    bool followsMomentum = defaults.follows(AppSetting::momentum, app);
    std::vector<std::optional<Choice>> momenta{
        Choice{tr("Default (%1)").arg(momentumTitle(defaults.momentum)), followsMomentum,
               follow(AppSetting::momentum)},
        std::nullopt};
    for (auto momentum : ScrollSettings::Momentum::allCases())
        momenta.push_back(Choice{momentumTitle(momentum),
                                 !followsMomentum && applied.momentum == momentum,
                                 set(AppSetting::momentum, [momentum](ScrollSettings& v) {
                                     v.momentum = momentum;
                                 })});
    items << submenu(menu, tr("Momentum"), "status.momentum", momenta)->menuAction();

    // Each of the three negates the value in force, whether or not the app follows the default.
    bool diagonal = applied.diagonal, scrolls = applied.scrollsWhileZooming(),
         rotates = applied.rotatesWhileZooming();
    items << submenu(menu, tr("At the Same Time"), "status.together",
                     {Choice{tr("Default"), defaults.follows(AppSetting::together, app),
                             follow(AppSetting::together)},
                      std::nullopt,
                      Choice{tr("Scroll diagonally"), diagonal,
                             set(AppSetting::together,
                                 [diagonal](ScrollSettings& v) { v.diagonal = !diagonal; })},
                      Choice{tr("Scroll and zoom"), scrolls,
                             set(AppSetting::together,
                                 [scrolls](ScrollSettings& v) {
                                     v.setScrollsWhileZooming(!scrolls);
                                 })},
                      Choice{tr("Zoom and rotate"), rotates,
                             set(AppSetting::together, [rotates](ScrollSettings& v) {
                                 v.setRotatesWhileZooming(!rotates);
                             })}})
                 ->menuAction();
    if (defaults.hasOwnSettings(app))
        items << addItem(menu, tr("Use the Defaults"), "status.useDefaults",
                         &AppDelegate::useDefaults);
    return items;
}

QWidgetAction* AppDelegate::speedSliderItem(QMenu& menu, double position, bool own) {
    auto* item = new QWidgetAction(&menu);
    item->setObjectName(QStringLiteral("status.speedSlider"));
    auto* frame = new QWidget;
    frame->setFixedSize(220, 30);
    auto* slider = new QSlider(Qt::Horizontal, frame);
    slider->setObjectName(QStringLiteral("speedSlider"));
    slider->setGeometry(20, 4, 180, 22);
    slider->setRange(0, sliderSteps);
    slider->setTracking(true);
    slider->setAccessibleName(tr("Speed"));
    slider->setValue(static_cast<int>(std::lround(position * sliderSteps)));
    auto* opacity = new QGraphicsOpacityEffect(slider);
    opacity->setOpacity(own ? 1.0 : 0.5);
    slider->setGraphicsEffect(opacity);
    item->setDefaultWidget(frame);
    connect(slider, &QSlider::valueChanged, this, [this, slider](int value) {
        speedSliderMoved(slider, static_cast<double>(value) / sliderSteps);
    });
    return item;
}

void AppDelegate::speedSliderMoved(QSlider* slider, double position) {
    if (auto* effect = qobject_cast<QGraphicsOpacityEffect*>(slider->graphicsEffect()))
        effect->setOpacity(1.0);
    double speed = ScrollSettings::speedAtSliderPosition(position);
    scroller_->setForFrontmostApp(AppSetting::speed,
                                  [speed](ScrollSettings& settings) { settings.speed = speed; });
}

void AppDelegate::toggleFrontmostApp() {
    const auto& app = scroller_->frontmostBundleID();
    bool on = app ? scroller_->settings().deviceChoice(*app) != scroll::DevicePolicy::AppChoice::on
                  : true;
    scroller_->setDeviceForFrontmostApp(on);
}

void AppDelegate::useDefaults() {
    scroller_->followDefaultInFrontmostApp(std::nullopt);
}

bool AppDelegate::canCheckForUpdates() const {
    return true; // TODO(secondary)
}

void AppDelegate::openMainWindow() {}
void AppDelegate::openAbout() {}
void AppDelegate::openReleaseNotes() {}
void AppDelegate::checkForUpdates() {
    setActivationPolicy(ActivationPolicy::regular);
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

void AppDelegate::openWebsite() {
    if (services_.openUrl) services_.openUrl(QUrl(QString::fromLatin1(website)));
}

void AppDelegate::reloadSettings() {
    scroller_->reloadSettings();
}

void AppDelegate::quit() {
    if (services_.exit) services_.exit(0);
}

void AppDelegate::refreshModel() {}
void AppDelegate::refreshSystemState() {}
void AppDelegate::leaveDockUnlessWindows(QWidget*) {}

ScrollSettings AppDelegate::demoSettings() {
    ScrollSettings settings;
    settings.excludedApps.clear();
    settings.setDevice(true, "org.mozilla.firefox");
    settings.setDevice(true, "org.gnome.Maps");
    settings.setOwn(AppSetting::momentum, "org.gnome.Maps",
                    [](ScrollSettings& s) { s.momentum = ScrollSettings::Momentum::long_; });
    settings.setOwn(AppSetting::together, "org.gnome.Maps",
                    [](ScrollSettings& s) { s.setScrollsWhileZooming(true); });
    return settings;
}

} // namespace vantor
