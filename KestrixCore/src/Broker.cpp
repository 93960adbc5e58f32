#include "KestrixCore/Broker.h"

#include "KestrixProtocol/HotLines.h"
#include "KestrixProtocol/Kestrix.h"
#include "KestrixProtocol/LineConnection.h"
#include "KestrixProtocol/MainLoop.h"
#include "KestrixProtocol/UnixSocket.h"
#include "KestrixProtocol/UserDefaults.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <set>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix::core {

namespace {

// Stand-ins for parts the broker was built without.
class NoDevices final : public BrokerDevices {
public:
    void start() override {}
    void stop() override {}
    void want(bool) override {}
    std::vector<SpaceMouseDevice> list() const override { return {}; }
    std::optional<std::string> setLED(bool, const std::string& id) override {
        return "no device " + id;
    }
    void describe(const std::string& id,
                  std::function<void(DeviceDescription)> completion) override {
        DeviceDescription d;
        d.device = id;
        d.error = "no device " + id;
        completion(std::move(d));
    }
    std::optional<smk::SpaceMouseModel> model(const std::string&) const override {
        return std::nullopt;
    }
    void setDriverHolds(bool) override {}
    std::optional<DriverProblem> driverProblem() const override { return problem_; }
    void setDriverProblem(std::optional<DriverProblem> problem) override { problem_ = problem; }

private:
    std::optional<DriverProblem> problem_;
};

class NoDriver final : public BrokerDriver {
public:
    void start() override {}
    void stop() override {}
    void want(bool) override {}
    std::uint16_t clientID() const override { return 0; }
    std::int64_t failures() const override { return 0; }
    std::optional<std::string> lastReason() const override { return std::nullopt; }
    bool registered() const override { return false; }
    void setLED(bool) override {}
};

// How long accepting waits when the process has run out of descriptors.
constexpr double acceptPause = 0.1;
// How often the broker looks whether its socket file is still there, where its folder cannot be
// watched.
constexpr double socketCheckInterval = 2.0;

// A text that a client chose (its name, an app, a device id) as a log line shows it: on one
// line and cut short, so that no client writes lines of its own or fills the disk.
std::string shown(std::string_view text) {
    return BrokerPlace::loggable(text, BrokerPlace::peerTextLimit);
}

// The apps of a claim as the log shows them.
std::string appsText(const Claim& claim) {
    std::string text;
    for (const auto& app : claim.apps) {
        if (text.size() > BrokerPlace::logMessageLimit / 2) {
            text += ", … (" + std::to_string(claim.apps.size()) + " apps)";
            break;
        }
        text += (text.empty() ? "" : ", ") + shown(app);
    }
    if (text.empty()) text = "no app";
    if (claim.background) text += " + background";
    return text;
}

} // namespace

Broker::Broker(MainLoop& loop, std::int64_t version, BrokerPlace place, double linger,
               bool usesDevices, UserDefaults& settings, BrokerPlace::Newest record,
               BundleIDLookup bundleID, Parts parts)
    : loop_(loop)
    , version_(version)
    , place_(std::move(place))
    , linger_(linger)
    , usesDevices_(usesDevices)
    , settings_(settings)
    , record_(std::move(record))
    , bundleID_(std::move(bundleID))
    , parts_(std::move(parts))
    , self_(std::make_shared<Broker*>(this)) {
    if (!parts_.devices) parts_.devices = std::make_unique<NoDevices>();
    if (!parts_.driver) parts_.driver = std::make_unique<NoDriver>();
    if (!parts_.driverWatch) parts_.driverWatch = std::make_unique<SimulatedDriverWatch>();
    if (!parts_.frontApp) parts_.frontApp = std::make_unique<SimulatedFrontApp>();
    if (!bundleID_) bundleID_ = [this](std::int32_t pid) { return parts_.frontApp->bundleID(pid); };
    onLeave = [] { std::exit(0); };
    settingsObserver_ = settings_.addObserver([this](const std::string& key) {
        if (key == "disabledDevices") disabled_.reset();
    });
}

Broker::~Broker() {
    settings_.removeObserver(settingsObserver_);
    self_.reset();
    stopWatchingSocketFile();
    parts_.frontApp->onActivate = [] {};
    parts_.driverWatch->onChange = [] {};
    acceptWatch_.reset();
    if (listenFD_ >= 0) ::close(listenFD_);
    for (auto& [id, client] : clients_)
        client.connection->onClose = nullptr;
}

void Broker::say(const std::string& line) {
    log(line);
    place_.appendLog(line);
}

std::string Broker::nameOf(const Client& client) const {
    return client.hello ? client.hello->name : "?";
}

bool Broker::start(int lockFile) {
    lockFile_ = lockFile;
    startedAt_ = loop_.now();
    place_.rotateLog();
    place_.recordNewest(record_);
    try {
        listenFD_ = UnixSocket::listen(place_.socket().string());
    } catch (const UnixSocket::Failure& failure) {
        say("cannot listen: " + failure.description());
        leaving_ = true;
        return false;
    }
    // Accepting must never block the loop, also when a waiting peer gave up meanwhile.
    ::fcntl(listenFD_, F_SETFL, ::fcntl(listenFD_, F_GETFL) | O_NONBLOCK);
    ::fcntl(listenFD_, F_SETFD, FD_CLOEXEC);
    watchListener();
    rememberSocketFile();
    watchSocketFile();
    say("Kestrix v" + std::to_string(version_) + " (pid " + std::to_string(::getpid()) +
        ") listening");

    BrokerDevices& devices = *parts_.devices;
    // Axes and buttons come at the device's report rate: their lines are written straight into
    // the connection's buffer, without building the message.
    devices.onAxes = [this](const std::string& id, const smk::SpaceMouseAxes& axes) {
        if (Client* holder = holderClient())
            holder->connection->sendWritten(
                [&](std::string& out) { hotlines::appendAxesLine(out, id, axes); });
    };
    devices.onButtons = [this](const std::string& id, smk::SpaceMouseButtons held) {
        Client* holder = holderClient();
        if (!holder) return;
        // Protocol 1 knew only 32 buttons; a client that did not say otherwise gets no more.
        if (!holder->hello || holder->hello->protocolVersion < 2)
            held =
                smk::SpaceMouseButtons(held.rawValue & smk::SpaceMouseButtons::protocol1.rawValue);
        holder->connection->sendWritten(
            [&](std::string& out) { hotlines::appendButtonsLine(out, id, held); });
    };
    devices.onReport = [this](const std::string& id, const std::vector<std::uint8_t>& bytes) {
        Client* holder = holderClient();
        if (holder && holder->claimant && holder->claimant->claim.raw.value_or(false))
            holder->connection->send(BrokerMessage{BrokerMessage::Report{id, bytes}});
    };
    devices.wantsReports = [this] { return holderWantsReports(); };
    devices.onChange = [this] { devicesChanged(); };
    devices.log = [this](const std::string& line) { say(line); };
    devices.isEnabled = [this](const std::string& id) { return isEnabled(id); };

    BrokerDriver& driver = *parts_.driver;
    driver.onAxes = [this](const smk::SpaceMouseAxes& axes) { driverAxes(axes); };
    driver.onButtons = [this](std::uint32_t bits) { driverButtons(bits); };
    driver.log = [this](const std::string& line) { say(line); };
    driver.onChange = [this] { updateDriverProblem(true); };

    if (usesDevices_) {
        updateDriverMode();
        devices.start();
    }
    parts_.frontApp->onActivate = [this] { arbitrate(); };
    if (usesDevices_) parts_.driverWatch->onChange = [this] { updateDriverMode(); };
    scheduleLingerIfIdle();
    return true;
}

void Broker::watchListener() {
    if (leaving_ || listenFD_ < 0 || acceptWatch_) return;
    acceptWatch_ = loop_.watchReadable(listenFD_, [this] { accept(); });
}

void Broker::rememberSocketFile() {
    struct stat info {};
    if (::stat(place_.socket().c_str(), &info) != 0) return;
    socketDevice_ = info.st_dev;
    socketInode_ = info.st_ino;
}

// Changes in the folder (the socket file removed, renamed or made anew, the folder itself gone)
// wake the broker, and nothing else does: at rest it sleeps.
void Broker::watchSocketFile() {
    stopWatchingSocketFile();
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    std::string folder = place_.socket().parent_path().string();
    if (fd >= 0 && ::inotify_add_watch(fd, folder.c_str(),
                                       IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                           IN_DELETE_SELF | IN_MOVE_SELF) >= 0) {
        socketFolderWatch_ = fd;
        socketCheck_ = loop_.watchReadable(fd, [this, fd] {
            alignas(inotify_event) char events[4096];
            while (::read(fd, events, sizeof events) > 0) {
            }
            checkSocketFile();
        });
        return;
    }
    if (fd >= 0) ::close(fd);
    socketCheck_ = loop_.repeat(socketCheckInterval, 0.5, [this] { checkSocketFile(); });
}

void Broker::stopWatchingSocketFile() {
    socketCheck_.reset();
    if (socketFolderWatch_ >= 0) ::close(socketFolderWatch_);
    socketFolderWatch_ = -1;
}

void Broker::checkSocketFile() {
    if (leaving_ || listenFD_ < 0) return;
    std::string path = place_.socket().string();
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) &&
        info.st_dev == socketDevice_ && info.st_ino == socketInode_)
        return;
    // Removed or replaced (this broker holds the lock, so no other broker did it): new clients
    // and new brokers would find nobody. Listen anew, or step down so that a new broker can.
    int fd = -1;
    try {
        fd = UnixSocket::listen(path);
    } catch (const UnixSocket::Failure& failure) {
        leave("socket file " + path + " is gone and cannot be made again (" +
              failure.description() + "): leaving");
        return;
    }
    acceptWatch_.reset();
    ::close(listenFD_);
    listenFD_ = fd;
    ::fcntl(listenFD_, F_SETFL, ::fcntl(listenFD_, F_GETFL) | O_NONBLOCK);
    watchListener();
    rememberSocketFile();
    watchSocketFile(); // the folder may have been made anew too
    say("socket file " + path + " was gone or replaced: listening again");
}

void Broker::accept() {
    int fd = ::accept4(listenFD_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        // Without a descriptor to take it, the connection stays queued and the socket stays
        // readable: watching on would spin. Accepting goes on a moment later.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            acceptWatch_.reset();
            std::weak_ptr<Broker*> self = self_;
            loop_.after(acceptPause, [self] {
                if (auto b = self.lock()) (*b)->watchListener();
            });
        }
        return;
    }
    int id = nextID_++;
    auto connection = Connection::create(loop_, fd);
    std::weak_ptr<Broker*> self = self_;
    connection->onMessage = [self, id](const ClientMessage& message) {
        if (auto b = self.lock()) (*b)->received(message, id);
    };
    // The record is dropped from a task of its own, so that no arbitration or broadcast that is
    // under way (and may have caused the close by sending) sees the client table change.
    connection->onClose = [self, id, this] {
        if (self.expired()) return;
        loop_.post([self, id] {
            if (auto b = self.lock()) (*b)->closed(id);
        });
    };
    // A line the broker will not read to its end: the client hears why before the link closes,
    // so that it can tell this from a broker that went away.
    connection->onOverlong = [self, id] {
        if (auto b = self.lock()) (*b)->refuseOverlong(id);
    };
    clients_[id] = Client{connection, std::nullopt, std::nullopt};
    connection->start();
}

Broker::Client* Broker::holderClient() {
    if (!holder_) return nullptr;
    auto it = clients_.find(*holder_);
    if (it == clients_.end() || it->second.connection->isClosed()) return nullptr;
    return &it->second;
}

void Broker::send(int id, const BrokerMessage& message) {
    auto it = clients_.find(id);
    if (it != clients_.end()) it->second.connection->send(message);
}

void Broker::toIntroduced(const BrokerMessage& message) {
    std::vector<int> ids;
    for (const auto& [id, client] : clients_)
        if (client.hello && !client.connection->isClosed()) ids.push_back(id);
    for (int id : ids)
        send(id, message);
}

void Broker::toHolder(const BrokerMessage& message) {
    Client* client = holderClient();
    if (!client) return;
    if (auto* buttons = message.as<BrokerMessage::Buttons>()) {
        // Protocol 1 knew only 32 buttons; a client that did not say otherwise gets no more.
        if (!client->hello || client->hello->protocolVersion < 2) {
            BrokerMessage masked{BrokerMessage::Buttons{
                buttons->device,
                smk::SpaceMouseButtons(buttons->held.rawValue &
                                       smk::SpaceMouseButtons::protocol1.rawValue)}};
            client->connection->send(masked);
            return;
        }
    }
    if (message.as<BrokerMessage::Report>() &&
        !(client->claimant && client->claimant->claim.raw.value_or(false)))
        return;
    client->connection->send(message);
}

bool Broker::holderWantsReports() const {
    if (!holder_) return false;
    auto it = clients_.find(*holder_);
    return it != clients_.end() && !it->second.connection->isClosed() && it->second.claimant &&
           it->second.claimant->claim.raw.value_or(false);
}

void Broker::received(const ClientMessage& message, int id) {
    auto it = clients_.find(id);
    if (it == clients_.end() || it->second.connection->isClosed()) return;
    Client& client = it->second;

    if (auto* hello = message.as<Hello>()) {
        client.hello = *hello;
        send(id, BrokerMessage{BrokerMessage::Welcome{version_, Kestrix::protocolVersion}});
        send(id, BrokerMessage{BrokerMessage::Devices{parts_.devices->list()}});
        send(id, BrokerMessage{BrokerMessage::AppsWithOwnClient{appsWithOwnClient_}});
        if (hello->protocolVersion != Kestrix::protocolVersion)
            say(shown(hello->name) + " speaks protocol " + std::to_string(hello->protocolVersion));
        if (!hello->claim) return;
        client.claimant = Claimant{id, hello->processID, *hello->claim, id, std::nullopt};
        say(shown(hello->name) + " (pid " + std::to_string(hello->processID) + ", v" +
            std::to_string(hello->version) + ") claims " + appsText(*hello->claim));
        cancelLinger();
        arbitrate();
        updateAppsWithOwnClient();
        onChange();
    } else if (auto* claim = message.as<Claim>()) {
        if (client.claimant) client.claimant->claim = *claim;
        say(shown(nameOf(client)) + " claims " + appsText(*claim));
        arbitrate();
        updateAppsWithOwnClient();
        onChange();
    } else if (auto* led = message.as<ClientMessage::SetLED>()) {
        if (driverMode_ && parts_.driver->registered()) {
            parts_.driver->setLED(led->on);
            return;
        }
        if (auto error = parts_.devices->setLED(led->on, led->device))
            say("LED " + shown(led->device) + " for " + shown(nameOf(client)) + ": " +
                shown(*error));
    } else if (auto* describe = message.as<ClientMessage::Describe>()) {
        std::weak_ptr<Broker*> self = self_;
        parts_.devices->describe(describe->device, [self, id](DeviceDescription description) {
            auto b = self.lock();
            if (!b) return;
            auto it = (*b)->clients_.find(id);
            if (it != (*b)->clients_.end())
                it->second.connection->send(BrokerMessage{std::move(description)});
        });
    } else if (message.as<ClientMessage::Status>()) {
        send(id, BrokerMessage{status()});
    } else if (auto* takeOver = message.as<ClientMessage::TakeOver>()) {
        bool leaves = version_ < takeOver->version;
        send(id, BrokerMessage{BrokerMessage::HandingOver{leaves}});
        if (leaves) leave("handing over to v" + std::to_string(takeOver->version));
    }
}

void Broker::refuseOverlong(int id) {
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    const std::string reason =
        "a line longer than " + std::to_string(Connection::lineLimit) + " bytes";
    say(shown(nameOf(it->second)) + " sent " + reason + ": dropped");
    it->second.connection->send(BrokerMessage{BrokerMessage::Refused{reason}});
}

void Broker::closed(int id) {
    if (leaving_) return;
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    Client client = std::move(it->second);
    clients_.erase(it);
    if (client.connection->stalled()) say(shown(nameOf(client)) + " stopped reading: dropped");
    if (client.claimant) {
        say(shown(nameOf(client)) + " left");
        arbitrate();
        updateAppsWithOwnClient();
        onChange();
    }
    scheduleLingerIfIdle();
}

std::optional<FrontmostApp> Broker::frontmost() const {
    return parts_.frontApp->frontmost();
}

std::vector<Claimant> Broker::claimants() const {
    std::vector<Claimant> list;
    for (const auto& [id, client] : clients_)
        if (client.claimant && !client.connection->isClosed()) list.push_back(*client.claimant);
    return list;
}

bool Broker::anyClaimant() const {
    for (const auto& [id, client] : clients_)
        if (client.claimant && !client.connection->isClosed()) return true;
    return false;
}

void Broker::arbitrate() {
    if (leaving_) return;
    // Devices and clients that were there before this broker started need a moment to appear
    // and reconnect; an arbitration asked for in that window runs once at its end.
    double wait = 0.3 - (loop_.now() - startedAt_);
    if (!settled_ && wait > 0) {
        if (settlePending_) return;
        settlePending_ = true;
        std::weak_ptr<Broker*> self = self_;
        loop_.after(wait, [self] {
            if (auto b = self.lock()) {
                // The window is over when this runs, whatever rounding says about the clock.
                (*b)->settled_ = true;
                (*b)->settlePending_ = false;
                (*b)->arbitrate();
            }
        });
        return;
    }
    ++arbitrations_;
    std::optional<FrontmostApp> front = frontmost();
    std::vector<Claimant> list = claimants();
    // Background claims cannot hold while the driver has the devices.
    if (driverMode_)
        for (auto& c : list)
            c.claim.background = false;
    Arbiter::Decision d = Arbiter::decide(list, front ? front->bundleID : std::nullopt,
                                          front ? front->processID : std::nullopt);
    if (!d.holder) {
        parts_.devices->want(false);
        parts_.driver->want(false);
    } else {
        parts_.devices->want(!driverMode_);
        parts_.driver->want(driverMode_);
        if (d.throughFront) clients_[*d.holder].claimant->lastFrontUse = arbitrations_;
    }
    if (d.holder == holder_) return;
    if (holderClient()) send(*holder_, BrokerMessage{BrokerMessage::Holding{false}});
    holder_ = d.holder;
    std::string who = "nobody";
    if (holder_) {
        Client& client = clients_[*holder_];
        who = shown(nameOf(client));
        if (!client.connection->isClosed())
            client.connection->send(BrokerMessage{BrokerMessage::Holding{true}});
    }
    std::string suffix;
    if (d.throughFront)
        suffix = " (front: " + (front && front->bundleID ? *front->bundleID : "?") + ")";
    else if (holder_)
        suffix = " (background)";
    say("holder: " + who + suffix);
    onChange();
}

void Broker::updateAppsWithOwnClient() {
    if (leaving_) return;
    std::vector<std::string> apps = Arbiter::appsWithOwnClient(claimants(), bundleID_);
    if (apps == appsWithOwnClient_) return;
    appsWithOwnClient_ = apps;
    std::string text;
    for (const auto& app : apps)
        text += (text.empty() ? "" : ", ") + app;
    say("own clients: " + (text.empty() ? "none" : text));
    toIntroduced(BrokerMessage{BrokerMessage::AppsWithOwnClient{apps}});
}

void Broker::scheduleLingerIfIdle() {
    if (anyClaimant()) return;
    std::uint64_t generation = ++lingerGeneration_;
    lingerPending_ = true;
    std::weak_ptr<Broker*> self = self_;
    loop_.after(linger_, [self, generation] {
        auto b = self.lock();
        if (!b) return;
        Broker& broker = **b;
        if (generation != broker.lingerGeneration_) return;
        broker.lingerPending_ = false;
        if (broker.anyClaimant()) return;
        broker.quit("no clients for " + std::to_string(static_cast<long long>(broker.linger_)) +
                    " s, leaving");
    });
}

void Broker::cancelLinger() {
    ++lingerGeneration_;
    lingerPending_ = false;
}

void Broker::quit(const std::string& reason) {
    if (leaving_) return;
    // This broker holds the lock: the file at the socket's path is its own.
    ::unlink(place_.socket().c_str());
    leave(reason);
}

void Broker::leave(const std::string& reason) {
    say(reason);
    leaving_ = true;
    stopWatchingSocketFile();
    parts_.devices->stop();
    parts_.driver->stop();
    acceptWatch_.reset();
    if (listenFD_ >= 0) ::close(listenFD_);
    listenFD_ = -1;
    parts_.frontApp->onActivate = [] {};
    parts_.driverWatch->onChange = [] {};
    for (auto& [id, client] : clients_)
        client.connection->close();
    if (onLeave) onLeave();
}

void Broker::devicesChanged() {
    toIntroduced(BrokerMessage{BrokerMessage::Devices{parts_.devices->list()}});
    onChange();
}

BrokerStatus Broker::status() const {
    BrokerStatus s;
    s.version = version_;
    s.processID = static_cast<std::int32_t>(::getpid());
    if (auto front = frontmost()) s.frontmostApp = front->bundleID;
    s.devices = parts_.devices->list();
    for (const auto& [id, client] : clients_) // the map keeps them sorted by id
        if (client.claimant && !client.connection->isClosed())
            s.clients.push_back(BrokerStatus::Client{id, nameOf(client), client.claimant->processID,
                                                     client.claimant->claim, holder_ == id});
    s.driver = driverMode_;
    s.appsWithOwnClient = appsWithOwnClient_;
    return s;
}

bool Broker::isEnabled(const std::string& device) const {
    // Asked for every report. While the store follows outside changes by itself, the list is
    // converted once and kept until the store says it changed; otherwise the store is read (and
    // so checked for outside changes) every time.
    if (!disabled_ || !settings_.watching())
        disabled_ = settings_.get<std::vector<std::string>>("disabledDevices")
                        .value_or(std::vector<std::string>{});
    return std::find(disabled_->begin(), disabled_->end(), device) == disabled_->end();
}

void Broker::setEnabled(bool on, const std::string& device) {
    auto stored = settings_.get<std::vector<std::string>>("disabledDevices");
    std::set<std::string> disabled;
    if (stored) disabled.insert(stored->begin(), stored->end());
    if (on)
        disabled.erase(device);
    else
        disabled.insert(device);
    settings_.set("disabledDevices", std::vector<std::string>(disabled.begin(), disabled.end()));
    if (!on) {
        // The holder must not keep moving with the last sample of a device it no longer gets.
        if (holderClient())
            send(*holder_, BrokerMessage{BrokerMessage::Axes{device, smk::SpaceMouseAxes::zero}});
        toHolder(BrokerMessage{BrokerMessage::Buttons{device, smk::SpaceMouseButtons{}}});
    }
    devicesChanged();
}

std::string Broker::stamp(std::chrono::system_clock::time_point time) {
    std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

} // namespace kestrix::core
