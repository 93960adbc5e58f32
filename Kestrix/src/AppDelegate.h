#pragma once

#include "KestrixCore/Broker.h"
#include "KestrixProtocol/BrokerPlace.h"
#include "KestrixProtocol/UserDefaults.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace kestrix {
class MainLoop;
}

// The broker program's shell: runs the election, creates and starts the Broker, logs whether the
// devices may be read, and shows the tray icon while the user default "showsMenuBarItem" is true.
class AppDelegate : public QObject {
public:
    struct Options {
        std::int64_t version = 15;
        std::string executable;  // recorded as the newest broker
        bool hasDisplay = false; // a tray icon can be shown at all
        double linger = 10.0;
        bool usesDevices = true;
        // Makes the broker's parts; the program's default reads KESTRIX_DEVICES.
        std::function<kestrix::core::Broker::Parts(kestrix::MainLoop&)> parts;
        // Receives a copy of every line of the broker log, when set.
        std::function<void(const std::string&)> mirror;
        // Ends the program with this status.
        std::function<void(int)> terminate;
        // Makes the application object the tray icon needs, if there is none yet; called on the
        // loop right before the icon is first shown.
        std::function<void()> needsApplication;
    };

    AppDelegate(kestrix::MainLoop& loop, kestrix::BrokerPlace place,
                kestrix::UserDefaults& settings, Options options);
    ~AppDelegate() override;

    // The start-up sequence. False when the program must end right away (the election was lost
    // or failed, or the broker cannot listen); `terminate` has been called then.
    bool launch();

    kestrix::core::Broker* broker() { return broker_.get(); }
    QSystemTrayIcon* statusItem() { return statusItem_.get(); }
    QMenu* menu() { return menu_.get(); }

    // Rebuilds the menu from the broker's status, as when it opens.
    void menuNeedsUpdate();
    void toggleDevice(const QString& device);
    void showLog();
    // Follows showsMenuBarItem.
    void updateStatusItem();
    // Dimmed while nobody holds the device.
    void updateIcon();
    bool iconDimmed() const { return dimmed_; }

private:
    void say(const std::string& line);
    void showStatusItem();
    // Whether the tray icon waits for a StatusNotifier host to come.
    static bool waitsForTrayHost();
    bool showsMenuBarItem();

    kestrix::MainLoop& loop_;
    kestrix::BrokerPlace place_;
    kestrix::UserDefaults& settings_;
    Options options_;
    std::unique_ptr<kestrix::core::Broker> broker_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    // Takes the signal that a tray's host has come while the icon waits for one.
    std::unique_ptr<QTimer> trayFollower_;
    std::unique_ptr<QMenu> menu_;
    int observer_ = 0;
    bool dimmed_ = true;
    bool toldNoDisplay_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
