#pragma once

#include "KestrixClient/ConnectionEvent.h"
#include "KestrixClient/Launcher.h"
#include "KestrixProtocol/BrokerPlace.h"
#include "KestrixProtocol/LineConnection.h"
#include "KestrixProtocol/MainLoop.h"
#include "KestrixProtocol/Messages.h"
#include "KestrixProtocol/ProtocolRecords.h"
#include "SpaceMouseKit/SpaceMouseButtons.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kestrix::client {

// The client side of the broker protocol. It finds the broker's socket, connects, says hello with
// its owner's claim, reconnects whenever the link drops, starts a broker when none answers, and
// turns every broker message into an event. Everything runs on the loop's thread.
//
// Made with create(): timers and socket handlers hold the object weakly, so the owner may drop it
// at any time, even from inside onEvent; what is still pending then finds it gone.
class KestrixConnection : public std::enable_shared_from_this<KestrixConnection> {
    struct Private {};

public:
    using Event = ConnectionEvent;
    using Launcher = client::Launcher;
    using Completion = std::function<void(const DeviceDescription&)>;
    // Starts a launcher; returns an error text when it could not be started and says so.
    using Starter = std::function<std::optional<std::string>(const Launcher&)>;

    // Connect attempts follow each other this far apart, the slower pace from the
    // `slowAttempt`th failure on.
    static constexpr double fastRetry = 0.1;
    static constexpr double slowRetry = 2.0;
    static constexpr int slowAttempt = 50;
    // A broker is launched at the `firstLaunchAttempt`th failure and at every multiple of
    // `launchEvery` from `slowAttempt` on, but never twice within `launchGuard` seconds; a launch
    // that the guard held back comes at the first failed attempt after the guard.
    static constexpr int firstLaunchAttempt = 5;
    static constexpr int launchEvery = 15;
    static constexpr double launchGuard = 3.0;
    // How long a describe request waits for the broker's answer.
    static constexpr double describeTimeout = 5.0;
    // A welcomed link that closes sooner than this after its welcome was short-lived: the first
    // one is followed at once (a broker handing over), the next ones follow the attempts' pace.
    static constexpr double shortLink = 1.0;

    static std::shared_ptr<KestrixConnection> create(MainLoop& loop, std::string name, Claim claim,
                                                     Launcher launcher, BrokerPlace place,
                                                     std::int64_t version);

    KestrixConnection(Private, MainLoop& loop, std::string name, Claim claim, Launcher launcher,
                      BrokerPlace place, std::int64_t version);
    ~KestrixConnection();
    KestrixConnection(const KestrixConnection&) = delete;
    KestrixConnection& operator=(const KestrixConnection&) = delete;

    // Where events go.
    std::function<void(const Event&)> onEvent;
    // Raw HID input reports while holding, for claims that ask for them: bytes, device id.
    std::function<void(const std::vector<std::uint8_t>&, const std::string&)> onReport;
    // The bundle identifiers of apps with a broker client of their own, when that set changes.
    std::function<void(const std::set<std::string>&)> onAppsWithOwnClient;
    // How launchers are started; tests replace it to watch launches without spawning anything.
    Starter starter;

    // The last device list from the broker.
    const std::vector<SpaceMouseDevice>& devices() const { return devices_; }
    // This client holds the device (last `holding` message).
    bool holds() const { return holds_; }
    // The broker's release and protocol numbers from its welcome; absent while not welcomed.
    std::optional<std::int64_t> brokerVersion() const { return brokerVersion_; }
    std::optional<std::int64_t> brokerProtocolVersion() const { return brokerProtocolVersion_; }
    const std::set<std::string>& appsWithOwnClient() const { return appsWithOwnClient_; }

    const std::string& name() const { return name_; }
    const Claim& claim() const { return claim_; }
    const Launcher& launcher() const { return launcher_; }
    const BrokerPlace& place() const { return place_; }
    std::int64_t version() const { return version_; }
    // A link to a broker exists (it may not have answered yet).
    bool isLinked() const { return connection_ != nullptr; }

    // Begins connecting; does nothing while running.
    void start();
    // Stops connecting and closes the link, which reports `disconnected`.
    void stop();
    // Stores the claim and, while linked, sends it.
    void setClaim(Claim claim);
    // While held, the link is read only when readWaiting() asks, not whenever a message arrives:
    // for an owner that samples the axes at a pace of its own, which then wakes at that pace
    // instead of at the device's report rate. The hold carries over to later links.
    void holdReading(bool hold);
    // Delivers, as events, the messages that have arrived on a held link.
    void readWaiting();
    // Switches one device's status LED, while linked.
    void setLED(bool on, const std::string& device);
    // Switches the status LED of every listed device that can light one, while linked.
    void setLEDs(bool on);
    // Asks the broker to describe a device. The completion runs exactly once: with the answer,
    // or with a description carrying only an error ("Kestrix not reached", "no answer from
    // Kestrix" after describeTimeout seconds, "Kestrix gone").
    void describe(const std::string& device, Completion completion);

    // The buttons held on any device.
    smk::SpaceMouseButtons heldButtons() const;
    // The held buttons of each listed device mapped onto its standard left and right pair.
    smk::SpaceMouseButtons heldTwoButtons() const;

    // Whether a SpaceMouse is attached at all, asked of the system without the broker.
    static bool isSpaceMouseAttached();

private:
    using Link = LineConnection<ClientMessage, BrokerMessage>;

    void connect();
    void connectFinished(int fd);
    void dropConnecting();
    void linkUp(int fd);
    void failedAttempt();
    void launch();
    void startLauncher(const Launcher& launcher);
    void received(const BrokerMessage& message);
    void closed();
    void setHolds(bool flag);
    void describeTimedOut(const std::string& device, int request);
    void emit(const Event& event);
    void send(const ClientMessage& message);

    MainLoop& loop_;
    const std::string name_;
    Claim claim_;
    const Launcher launcher_;
    const BrokerPlace place_;
    const std::int64_t version_;

    std::vector<SpaceMouseDevice> devices_;
    bool holds_ = false;
    std::optional<std::int64_t> brokerVersion_;
    std::optional<std::int64_t> brokerProtocolVersion_;
    std::set<std::string> appsWithOwnClient_;

    std::shared_ptr<Link> connection_;
    // A connection under way: the write watch that finishes it, and its descriptor.
    std::unique_ptr<Watch> connecting_;
    int connectingFD_ = -1;
    bool running_ = false;
    bool readingHeld_ = false;
    // Bumped by every start() and stop(): an attempt or a close that called out to the owner
    // goes on only when the owner did not stop or restart the connection meanwhile.
    int generation_ = 0;
    // Failed attempts since the last welcome or start; a link closed before its welcome is one.
    int attempt_ = 0;
    bool welcomed_ = false;                // the current link got the broker's welcome
    double welcomedAt_ = 0;                // when it did
    int shortLinks_ = 0;                   // welcomed links in a row that closed soon after
    std::optional<std::string> refusal_;   // why the broker refused the current link
    bool refusalReported_ = false;         // a refusal was reported since start()
    std::optional<double> lastLaunch_;
    bool launchHeldBack_ = false; // a launch was skipped for the guard and is still wanted
    std::map<std::string, smk::SpaceMouseButtons> held_;
    // The events of the report-rate messages, reused so that their device texts keep their room.
    Event axesEvent_ = Event::axes({}, {});
    Event buttonsEvent_ = Event::buttons({}, {});
    std::set<std::string> moved_;
    std::map<std::string, std::vector<std::pair<int, Completion>>> describing_;
    int describeRequests_ = 0;
};

} // namespace kestrix::client
