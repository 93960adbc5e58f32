// The status item (the tray icon or Vantor's own StatusNotifier item) and its menu for the app in
// front.
#include "StatusNotifierItem.h"
#include "Vantor/Log.h"
#include "VantorModels/Titles.h"
#include "VantorShell/AppDelegate.h"
#include "VantorWindows/MenuBarIcon.h"
#include "VantorWindows/TextStyle.h"

#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QGraphicsOpacityEffect>
#include <QMenu>
#include <QPointer>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QWidgetAction>
#include <cmath>

namespace vantor {

using scroll::ScrollSettings;
using AppSetting = ScrollSettings::AppSetting;

namespace {

// One selectable item of a tray submenu; an absent Choice in a list stands for a separator.
struct Choice {
    QString title;
    bool on;
    std::function<void()> choose;
};

// Whether a submenu's choices exclude each other (shown as radio items) or each is a switch of
// its own (check boxes).
enum class Choices { exclusive, independent };

// A submenu of `parent` with one item per entry.
QMenu* submenu(QMenu& parent, const QString& title, const char* name,
               const std::vector<std::optional<Choice>>& entries,
               Choices choices = Choices::independent) {
    auto* menu = new QMenu(title, &parent);
    menu->setObjectName(QString::fromLatin1(name));
    QActionGroup* group = nullptr;
    if (choices == Choices::exclusive) {
        group = new QActionGroup(menu);
        group->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    }
    for (const auto& entry : entries) {
        if (!entry) {
            menu->addSeparator();
            continue;
        }
        QAction* item = menu->addAction(entry->title);
        item->setCheckable(true);
        if (group) group->addAction(item);
        item->setChecked(entry->on);
        QObject::connect(item, &QAction::triggered, item, [choose = entry->choose] { choose(); });
    }
    parent.addMenu(menu);
    return menu;
}

// Positions of the tray's speed slider between 0 and 1.
constexpr int sliderSteps = 1000;

} // namespace

void AppDelegate::createStatusItem() {
    statusMenu_ = std::make_unique<QMenu>();
    statusMenu_->setObjectName(QStringLiteral("statusMenu"));
    statusMenu_->setToolTipsVisible(true);
    connect(statusMenu_.get(), &QMenu::aboutToShow, this, &AppDelegate::menuNeedsUpdate);
    if (services_.statusNotifierHost && services_.statusNotifierHost()) return showNotifierItem();
    // The icon is made all the same: Qt shows it once an XEmbed tray appears (a panel that starts
    // after Vantor at login, say).
    if (services_.trayAvailable && !services_.trayAvailable())
        Log::info("no system tray on this desktop: Vantor runs without its icon; start vantor "
                  "again to open its settings (GNOME shows tray icons with the AppIndicator "
                  "extension, package gnome-shell-extension-appindicator)");
    statusItem_ = std::make_unique<QSystemTrayIcon>();
    statusItem_->setToolTip(QStringLiteral("Vantor"));
    statusItem_->setContextMenu(statusMenu_.get());
    // Under an XEmbed tray a click on the icon opens the menu, as a right click does.
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) statusMenu_->popup(QCursor::pos());
            });
    updateStatusIcon();
    statusItem_->show();
    // A StatusNotifier host that comes later (a bar started together with Vantor) gets the item.
    if (services_.followStatusNotifierHost)
        hostFollower_ = services_.followStatusNotifierHost([this] {
            Log::info("a system tray appeared: Vantor's icon is shown there");
            showNotifierItem();
        });
}

void AppDelegate::showNotifierItem() {
    // The item follows the host from now on: it registers again whenever a host comes back.
    if (hostFollower_) hostFollower_.release()->deleteLater();
    if (notifierItem_) return;
    statusItem_.reset();
    // The host draws the exported menu itself, so it must hold the items before it first asks;
    // it asks again before each opening, and the menu is rebuilt then.
    menuNeedsUpdate();
    notifierItem_ =
        std::make_unique<StatusNotifierItem>(*statusMenu_, QDBusConnection::sessionBus(),
                                             QStringLiteral("vantor"), QStringLiteral("Vantor"));
    notifierItem_->onActivate = [this] { openMainWindow(); };
    updateStatusIcon();
    if (trayMessage_) trayMessage_->close();
}

void AppDelegate::updateStatusIcon() {
    // Trays do not tint icons: the figure is drawn in the palette's text colour on a halo that
    // stands out from it, dimmed while Vantor does not take the device; drawn when the tray
    // shows it, at the tray's size.
    QIcon icon = MenuBarIcon::trayIcon(
        QApplication::palette().color(QPalette::Active, QPalette::WindowText), iconDimmed_);
    if (statusItem_) statusItem_->setIcon(icon);
    if (notifierItem_) notifierItem_->setIcon(icon);
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
    // The name as it is written: an "&" in a menu item would mark a mnemonic.
    const QString itemName = QString(name).replace(QLatin1Char('&'), QLatin1String("&&"));
    if (s.frontmostHasOwnClient()) {
        QAction* item = addItem(menu, tr("Use the SpaceMouse in %1").arg(itemName),
                                "status.useInFront", &AppDelegate::toggleFrontmostApp);
        item->setCheckable(true);
        item->setChecked(false);
        item->setEnabled(false);
        item->setToolTip(style::plainToolTip(tr("%1 uses the SpaceMouse itself").arg(name)));
        menu.addSeparator();
    } else if (s.frontmostBundleID() && s.frontmostBundleID() != services_.scroller.ownBundleID) {
        bool on = s.settings().deviceChoice(*s.frontmostBundleID()) ==
                  scroll::DevicePolicy::AppChoice::on;
        QAction* item = addItem(menu, tr("Use the SpaceMouse in %1").arg(itemName),
                                "status.useInFront", &AppDelegate::toggleFrontmostApp);
        item->setCheckable(true);
        item->setChecked(on);
        for (QAction* appItem : frontmostAppMenus(menu))
            appItem->setEnabled(on);
        menu.addSeparator();
    }
    if (!s.frontAppStatus().working()) {
        addItem(menu, tr("App in Front Unavailable…"), "status.frontAppUnavailable",
                &AppDelegate::openFrontAppHelp);
        menu.addSeparator();
    }
    if (!services_.scroller.hasPermission || !services_.scroller.hasPermission()) {
        addItem(menu, tr("Allow Device Access…"), "status.allowAccessibility",
                &AppDelegate::openAccessibility);
        menu.addSeparator();
    }
    addItem(menu, tr("Settings…"), "status.settings", &AppDelegate::openMainWindow);
    // Alt held as the menu opens shows the alternate of the update check.
    if (services_.modifiers && (services_.modifiers() & Qt::AltModifier))
        addItem(menu, tr("Reload Settings"), "status.reloadSettings", &AppDelegate::reloadSettings);
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
    QMenu* speed =
        submenu(menu, tr("Speed"), "status.speed",
                {Choice{tr("Default"), followsSpeed, follow(AppSetting::speed)}, std::nullopt});
    speed->addAction(
        speedSliderItem(*speed, ScrollSettings::sliderPosition(applied.speed), !followsSpeed));
    items << speed->menuAction();

    bool followsResponse = defaults.follows(AppSetting::response, app);
    std::vector<std::optional<Choice>> responses{
        Choice{tr("Default (%1)").arg(title(defaults.response)), followsResponse,
               follow(AppSetting::response)},
        std::nullopt};
    for (auto response : ScrollSettings::Response::allCases())
        responses.push_back(Choice{
            title(response), !followsResponse && applied.response == response,
            set(AppSetting::response, [response](ScrollSettings& v) { v.response = response; })});
    items << submenu(menu, tr("Response"), "status.response", responses, Choices::exclusive)
                 ->menuAction();

    bool followsMomentum = defaults.follows(AppSetting::momentum, app);
    std::vector<std::optional<Choice>> momenta{
        Choice{tr("Default (%1)").arg(title(defaults.momentum)), followsMomentum,
               follow(AppSetting::momentum)},
        std::nullopt};
    for (auto momentum : ScrollSettings::Momentum::allCases())
        momenta.push_back(Choice{
            title(momentum), !followsMomentum && applied.momentum == momentum,
            set(AppSetting::momentum, [momentum](ScrollSettings& v) { v.momentum = momentum; })});
    items << submenu(menu, tr("Momentum"), "status.momentum", momenta, Choices::exclusive)
                 ->menuAction();

    // Each of the three negates the value in force, whether or not the app follows the default.
    bool diagonal = applied.diagonal, scrolls = applied.scrollsWhileZooming(),
         rotates = applied.rotatesWhileZooming();
    items << submenu(
                 menu, tr("At the Same Time"), "status.together",
                 {Choice{tr("Default"), defaults.follows(AppSetting::together, app),
                         follow(AppSetting::together)},
                  std::nullopt,
                  Choice{tr("Scroll diagonally"), diagonal,
                         set(AppSetting::together,
                             [diagonal](ScrollSettings& v) { v.diagonal = !diagonal; })},
                  Choice{tr("Scroll and zoom"), scrolls,
                         set(AppSetting::together,
                             [scrolls](ScrollSettings& v) { v.setScrollsWhileZooming(!scrolls); })},
                  Choice{
                      tr("Zoom and rotate"), rotates,
                      set(AppSetting::together,
                          [rotates](ScrollSettings& v) { v.setRotatesWhileZooming(!rotates); })}})
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

} // namespace vantor
