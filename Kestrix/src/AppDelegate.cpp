#include "AppDelegate.h"

#include "KestrixCore/Election.h"
#include "KestrixProtocol/MainLoop.h"
#include "MenuBarIcon.h"
#include "Permission.h"
#include "StatusMenu.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

using kestrix::core::Broker;
using kestrix::core::Election;

namespace {

// The StatusNotifier watcher that tray icons and the tray's host register with: its bus name (also
// its interface's) and its object.
constexpr const char* trayWatcher = "org.kde.StatusNotifierWatcher";
constexpr const char* trayWatcherPath = "/StatusNotifierWatcher";

} // namespace

AppDelegate::AppDelegate(kestrix::MainLoop& loop, kestrix::BrokerPlace place,
                         kestrix::UserDefaults& settings, Options options)
    : loop_(loop)
    , place_(std::move(place))
    , settings_(settings)
    , options_(std::move(options)) {}

AppDelegate::~AppDelegate() {
    *alive_ = false;
    if (observer_) settings_.removeObserver(observer_);
    trayFollower_.reset();
    statusItem_.reset();
    menu_.reset();
}

// The shell's own lines go to the broker log only.
void AppDelegate::say(const std::string& line) {
    place_.appendLog(line);
    if (options_.mirror) options_.mirror(line);
}

bool AppDelegate::launch() {
    std::string version = std::to_string(options_.version);
    Election::Outcome outcome =
        Election::run(place_, options_.version, [this](const std::string& line) { say(line); });
    if (outcome.kind == Election::Outcome::Kind::failed) {
        say("not started: " + outcome.text);
        options_.terminate(1);
        return false;
    }
    if (outcome.kind == Election::Outcome::Kind::stays) {
        say("Kestrix v" + std::to_string(outcome.runningVersion) + " runs and stays (this is v" +
            version + ", " + options_.executable + ")");
        options_.terminate(0);
        return false;
    }

    kestrix::core::Broker::Parts parts;
    if (options_.parts) parts = options_.parts(loop_);
    broker_ = std::make_unique<Broker>(
        loop_, options_.version, place_, options_.linger, options_.usesDevices, settings_,
        kestrix::BrokerPlace::Newest{options_.version, options_.executable, {}}, nullptr,
        std::move(parts));
    std::weak_ptr<bool> alive = alive_;
    if (options_.mirror) broker_->log = options_.mirror;
    broker_->onChange = [this, alive] {
        if (!alive.expired()) updateIcon();
    };
    broker_->onLeave = [this, alive] {
        if (!alive.expired()) options_.terminate(0);
    };

    // Follow showsMenuBarItem, also when another program changes it; the first look comes once
    // this launch has finished.
    settings_.watch(loop_);
    // A broker that cannot listen has said so last: nothing more goes to the log.
    auto update = [this, alive] {
        if (!alive.expired() && !broker_->leaving()) updateStatusItem();
    };
    observer_ = settings_.addObserver([this, update](const std::string& key) {
        if (key == "showsMenuBarItem") loop_.post(update);
    });
    loop_.post(update);

    if (!broker_->start(outcome.lockFile)) {
        options_.terminate(1);
        return false;
    }
    say("permission to listen (hidraw access): " + hidrawAccess() + " \u2014 " +
        options_.executable);
    return true;
}

bool AppDelegate::showsMenuBarItem() {
    return settings_.get<bool>("showsMenuBarItem").value_or(false);
}

void AppDelegate::updateStatusItem() {
    bool wanted = showsMenuBarItem();
    if (!options_.hasDisplay) {
        // Without a display there is nowhere to show the icon; say so once.
        if (wanted && !toldNoDisplay_) {
            toldNoDisplay_ = true;
            say("menu bar item not shown: no display (showsMenuBarItem)");
        }
        return;
    }
    bool shown = statusItem_ || trayFollower_;
    if (shown == wanted) return;
    if (shown) {
        trayFollower_.reset();
        if (statusItem_) statusItem_->hide();
        statusItem_.reset();
        menu_.reset();
        say("menu bar item hidden (showsMenuBarItem)");
        return;
    }
    if (options_.needsApplication) options_.needsApplication();
    say("menu bar item shown (showsMenuBarItem)");
    // Qt must not be asked about the tray while the icon waits: it would keep its answer.
    bool waits = waitsForTrayHost();
    if (waits) {
        // A host tells the bus when it registers with the watcher: the timer takes that signal.
        trayFollower_ = std::make_unique<QTimer>();
        trayFollower_->setSingleShot(true);
        QObject::connect(trayFollower_.get(), &QTimer::timeout, trayFollower_.get(), [this] {
            trayFollower_.release()->deleteLater();
            showStatusItem();
            say("a system tray appeared: the item is shown there");
        });
        QDBusConnection::sessionBus().connect(QString(), trayWatcherPath, trayWatcher,
                                              "StatusNotifierHostRegistered", trayFollower_.get(),
                                              SLOT(start()));
    } else {
        showStatusItem();
    }
    if (waits || !QSystemTrayIcon::isSystemTrayAvailable())
        say("no system tray on this desktop yet: the item appears when one starts");
}

bool AppDelegate::waitsForTrayHost() {
    // On Wayland Qt's tray icon is a StatusNotifier item, and whether a host is there Qt decides
    // once, when the first icon is made: until a host has registered with the watcher the icon
    // waits (an X11 tray Qt finds whenever it starts).
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return false;
    QDBusMessage get = QDBusMessage::createMethodCall(trayWatcher, trayWatcherPath,
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << trayWatcher << "IsStatusNotifierHostRegistered";
    QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 5000);
    return reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
           !reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void AppDelegate::showStatusItem() {
    statusItem_ = std::make_unique<QSystemTrayIcon>();
    statusItem_->setToolTip("Kestrix");
    menu_ = std::make_unique<QMenu>();
    QObject::connect(menu_.get(), &QMenu::aboutToShow, menu_.get(), [this] { menuNeedsUpdate(); });
    statusItem_->setContextMenu(menu_.get());
    dimmed_ = true;
    updateIcon();
    statusItem_->show();
}

void AppDelegate::updateIcon() {
    bool holds = false;
    if (broker_)
        for (const auto& client : broker_->status().clients)
            holds = holds || client.holds;
    dimmed_ = !holds;
    if (!statusItem_) return;
    // Trays do not tint icons: draw in the desktop's text colour with a halo that reads on a
    // panel of either kind, faded while nobody holds, at the sizes trays ask for.
    QColor color = QGuiApplication::palette().color(QPalette::WindowText);
    QIcon icon;
    for (int pixels : {16, 22, 24, 32, 36, 44, 48, 64})
        icon.addPixmap(
            QPixmap::fromImage(MenuBarIcon::trayImage(QSize(pixels, pixels), color, dimmed_)));
    statusItem_->setIcon(icon);
}

void AppDelegate::menuNeedsUpdate() {
    if (!menu_) return;
    if (!broker_) {
        menu_->clear();
        return;
    }
    fillMenu(
        *menu_, statusMenuItems(broker_->status(), broker_->version()),
        [this](const QString& device) { toggleDevice(device); }, [this] { showLog(); });
}

void AppDelegate::toggleDevice(const QString& device) {
    if (!broker_) return;
    std::string id = device.toStdString();
    broker_->setEnabled(!broker_->isEnabled(id), id);
}

void AppDelegate::showLog() {
    const QString path = QString::fromStdString(place_.log().string());
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
    // Nothing opens files here (no xdg-open, no desktop's handler): the user can still open it
    // by its path.
    say("cannot open the log: no program here opens it; it is " + path.toStdString());
    auto* box = new QMessageBox(QMessageBox::Information, tr("Kestrix Log"),
                                tr("No program here opens the log. It is at:"), QMessageBox::Ok);
    box->setObjectName(QStringLiteral("kestrix.logUnopened"));
    box->setInformativeText(path);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}
