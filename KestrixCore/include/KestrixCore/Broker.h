#pragma once

#include "FrontApp/FrontApp.h"
#include "KestrixCore/Arbiter.h"
#include "KestrixCore/BrokerSeams.h"
#include "KestrixCore/DriverWatch.h"
#include "KestrixProtocol/BrokerPlace.h"
#include "KestrixProtocol/Messages.h"
#include "KestrixProtocol/ProtocolRecords.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrix {
class MainLoop;
class UserDefaults;
class Watch;
template <class Out, class In> class LineConnection;
} // namespace kestrix

namespace kestrix::core {

// The broker service: listens on the broker socket, keeps one record per connected client,
// answers the protocol's messages, lets the arbiter choose the client that holds the SpaceMouse,
// forwards axes, buttons and raw reports to that holder alone, and leaves by itself once no client
// that claims the device has been connected for `linger` seconds. While the system's device
// driver (spacenavd) runs it releases the devices and reads them through the driver instead
// ("driver mode"). Main loop only.
class Broker {
public:
    // The parts the broker owns. Each may be left null: the broker then uses a stand-in that has
    // no devices, no driver, no driver daemon and no app in front.
    struct Parts {
        std::unique_ptr<BrokerDevices> devices;
        std::unique_ptr<BrokerDriver> driver;
        std::unique_ptr<DriverWatch> driverWatch;
        std::unique_ptr<FrontApp> frontApp;
        // The wall clock, only for the launch time shown in a driver problem.
        std::function<std::chrono::system_clock::time_point()> wallClock = [] {
            return std::chrono::system_clock::now();
        };
    };
    using BundleIDLookup = std::function<std::optional<std::string>(std::int32_t)>;

    // `bundleID` may be null: the app-in-front seam then answers.
    Broker(MainLoop& loop, std::int64_t version, BrokerPlace place, double linger, bool usesDevices,
           UserDefaults& settings, BrokerPlace::Newest record, BundleIDLookup bundleID,
           Parts parts);
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // Rotates the log, records this broker as the newest, listens, wires the device layer and the
    // driver, follows the app in front and the driver daemon, and arms the idle exit. False when
    // it cannot listen: it has said why in the log, and the caller ends the program.
    bool start(int lockFile);
    // Ends the broker as its idle exit does: says `reason` in the log, removes the socket file,
    // closes every client's link (the holder's too, so it hears at once) and calls onLeave.
    // Nothing when it is leaving already.
    void quit(const std::string& reason);

    BrokerStatus status() const;
    bool isEnabled(const std::string& device) const;
    void setEnabled(bool on, const std::string& device);
    std::int64_t version() const { return version_; }

    // Something that the status shows has changed.
    std::function<void()> onChange = [] {};
    // Called last when the broker leaves; ends the process unless replaced.
    std::function<void()> onLeave;
    // Receives a copy of every log line.
    std::function<void(const std::string&)> log = [](const std::string&) {};

    // For tests and the program shell.
    bool leaving() const { return leaving_; }
    bool driverMode() const { return driverMode_; }
    std::optional<int> holder() const { return holder_; }
    int arbitrations() const { return arbitrations_; }
    std::size_t clientCount() const { return clients_.size(); }
    // The device that driver input is attributed to: the first enabled one of the list.
    std::optional<SpaceMouseDevice> driverDevice() const;

    // The text of a wall-clock time in local time, "yyyy-MM-dd HH:mm:ss".
    static std::string stamp(std::chrono::system_clock::time_point time);

private:
    using Connection = LineConnection<BrokerMessage, ClientMessage>;
    struct Client {
        std::shared_ptr<Connection> connection;
        std::optional<Hello> hello;
        std::optional<Claimant> claimant;
    };

    void say(const std::string& line);
    void watchListener();
    void rememberSocketFile();
    void watchSocketFile();
    void stopWatchingSocketFile();
    void checkSocketFile();
    void accept();
    void received(const ClientMessage& message, int id);
    void closed(int id);
    void refuseOverlong(int id);
    void send(int id, const BrokerMessage& message);
    void toHolder(const BrokerMessage& message);
    void toIntroduced(const BrokerMessage& message);
    void arbitrate();
    std::optional<FrontmostApp> frontmost() const;
    std::vector<Claimant> claimants() const;
    bool anyClaimant() const;
    void scheduleLingerIfIdle();
    void cancelLinger();
    void leave(const std::string& reason);
    void updateAppsWithOwnClient();
    bool holderWantsReports() const;
    void devicesChanged();
    std::string nameOf(const Client& client) const;
    Client* holderClient();

    // Driver mode and its health.
    void updateDriverMode();
    void updateDriverProblem(bool announce);
    void scheduleHealthCheck();
    void driverAxes(const smk::SpaceMouseAxes& axes);
    void driverButtons(std::uint32_t bits);

    MainLoop& loop_;
    const std::int64_t version_;
    const BrokerPlace place_;
    const double linger_;
    const bool usesDevices_;
    UserDefaults& settings_;
    const BrokerPlace::Newest record_;
    BundleIDLookup bundleID_;
    Parts parts_;

    std::vector<std::string> appsWithOwnClient_;
    int lockFile_ = -1;
    int listenFD_ = -1;
    std::unique_ptr<Watch> acceptWatch_;
    // The socket file this broker listens at (device and inode), looked at whenever its folder
    // changes (or every few seconds where the folder cannot be watched): when it is gone or
    // replaced, clients could no longer reach this broker, so it listens anew.
    std::unique_ptr<Watch> socketCheck_;
    int socketFolderWatch_ = -1; // the inotify descriptor, when there is one
    std::uint64_t socketDevice_ = 0, socketInode_ = 0;
    std::map<int, Client> clients_;
    int nextID_ = 1;
    int arbitrations_ = 0;
    std::optional<int> holder_;
    std::uint64_t lingerGeneration_ = 0;
    bool lingerPending_ = false;
    bool leaving_ = false;
    double startedAt_ = 0;
    bool settlePending_ = false;
    bool settled_ = false;
    bool driverMode_ = false;
    std::optional<double> helperSeen_;
    std::uint64_t healthChecks_ = 0;
    // The disabled device ids as last read from the settings (see isEnabled).
    mutable std::optional<std::vector<std::string>> disabled_;
    int settingsObserver_ = 0;
    // Delayed actions hold this weakly and do nothing once the broker is gone.
    std::shared_ptr<Broker*> self_;
};

} // namespace kestrix::core
