#include "KestrixClient/KestrixConnection.h"

#include "KestrixProtocol/Kestrix.h"
#include "KestrixProtocol/MainLoop.h"
#include "KestrixProtocol/UnixSocket.h"

#include <algorithm>
#include <unistd.h>
#include <utility>

namespace kestrix::client {

namespace {

DeviceDescription unanswered(const std::string& device, std::string error) {
    DeviceDescription description;
    description.device = device;
    description.error = std::move(error);
    return description;
}

bool endsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

std::shared_ptr<KestrixConnection> KestrixConnection::create(MainLoop& loop, std::string name,
                                                             Claim claim, Launcher launcher,
                                                             BrokerPlace place,
                                                             std::int64_t version) {
    return std::make_shared<KestrixConnection>(Private{}, loop, std::move(name), std::move(claim),
                                               std::move(launcher), std::move(place), version);
}

KestrixConnection::KestrixConnection(Private, MainLoop& loop, std::string name, Claim claim,
                                     Launcher launcher, BrokerPlace place, std::int64_t version)
    : starter(client::startLauncher)
    , loop_(loop)
    , name_(std::move(name))
    , claim_(std::move(claim))
    , launcher_(std::move(launcher))
    , place_(std::move(place))
    , version_(version) {}

// Dropping the object drops the link without closing it through close(): nothing is sent and no
// event is emitted; the line connection closes its socket as it goes.
KestrixConnection::~KestrixConnection() {
    dropConnecting();
}

void KestrixConnection::start() {
    auto keep = shared_from_this(); // the owner may drop it from its handlers
    if (running_) return;
    running_ = true;
    ++generation_;
    attempt_ = 0;
    shortLinks_ = 0;
    refusalReported_ = false;
    connect();
}

void KestrixConnection::stop() {
    auto keep = shared_from_this(); // the owner may drop it from its handlers
    running_ = false;
    ++generation_;
    dropConnecting();
    // The close handler runs at once: it reports `disconnected` and drops the link, and as running
    // is now false it does not reconnect.
    if (std::shared_ptr<Link> link = connection_) link->close();
    connection_.reset();
}

void KestrixConnection::setClaim(Claim claim) {
    auto keep = shared_from_this(); // the owner may drop it from its handlers
    claim_ = std::move(claim);
    if (connection_) send(ClientMessage{claim_});
}

void KestrixConnection::setLED(bool on, const std::string& device) {
    auto keep = shared_from_this(); // the owner may drop it from its handlers
    if (connection_) send(ClientMessage{ClientMessage::SetLED{device, on}});
}

void KestrixConnection::setLEDs(bool on) {
    auto keep = shared_from_this(); // the owner may drop it from its handlers
    // A copy: a send that closes the link may let the owner change the list meanwhile.
    const std::vector<SpaceMouseDevice> devices = devices_;
    for (const SpaceMouseDevice& device : devices) {
        if (device.canLightLED() && connection_)
            send(ClientMessage{ClientMessage::SetLED{device.id, on}});
    }
}

void KestrixConnection::describe(const std::string& device, Completion completion) {
    auto keep = shared_from_this(); // the owner may drop it from its handlers
    if (!connection_) {
        completion(unanswered(device, "Kestrix not reached"));
        return;
    }
    const int request = ++describeRequests_;
    describing_[device].emplace_back(request, std::move(completion));
    send(ClientMessage{ClientMessage::Describe{device}});
    std::weak_ptr<KestrixConnection> weak = weak_from_this();
    loop_.after(describeTimeout, [weak, device, request] {
        if (auto self = weak.lock()) self->describeTimedOut(device, request);
    });
}

void KestrixConnection::describeTimedOut(const std::string& device, int request) {
    auto waiting = describing_.find(device);
    if (waiting == describing_.end()) return;
    auto& list = waiting->second;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->first == request) {
            Completion completion = std::move(it->second);
            // The device's list stays, perhaps empty, as the answer may still come for others.
            list.erase(it);
            completion(unanswered(device, "no answer from Kestrix"));
            return;
        }
    }
}

smk::SpaceMouseButtons KestrixConnection::heldButtons() const {
    smk::SpaceMouseButtons all;
    for (const auto& [device, buttons] : held_)
        all |= buttons;
    return all;
}

smk::SpaceMouseButtons KestrixConnection::heldTwoButtons() const {
    smk::SpaceMouseButtons all;
    for (const auto& [id, buttons] : held_) {
        for (const SpaceMouseDevice& device : devices_) {
            if (device.id == id) {
                auto [left, right] = device.twoButtons();
                all |= buttons.asTwoButtons({left, right});
                break;
            }
        }
    }
    return all;
}

void KestrixConnection::connect() {
    if (!running_ || connection_ || connecting_) return;
    // Never blocking: a broker that hangs with a full queue must not freeze the owner's loop.
    std::optional<UnixSocket::Connecting> started =
        UnixSocket::startConnect(place_.socket().string());
    if (!started) {
        failedAttempt();
        return;
    }
    if (started->connected) {
        linkUp(started->fd);
        return;
    }
    const int fd = started->fd;
    std::weak_ptr<KestrixConnection> weak = weak_from_this();
    connecting_ = loop_.watchWritable(fd, [weak, fd] {
        if (auto self = weak.lock()) self->connectFinished(fd);
    });
    connectingFD_ = fd;
}

void KestrixConnection::connectFinished(int fd) {
    connecting_.reset();
    connectingFD_ = -1;
    if (UnixSocket::finishConnect(fd)) {
        linkUp(fd);
        return;
    }
    ::close(fd);
    failedAttempt();
}

void KestrixConnection::dropConnecting() {
    connecting_.reset();
    if (connectingFD_ >= 0) ::close(connectingFD_);
    connectingFD_ = -1;
}

void KestrixConnection::linkUp(int fd) {
    // The attempt counts as a success only with the broker's welcome: a socket that accepts and
    // closes at once (a broker on its way out, or something else) must not be tried at full speed.
    welcomed_ = false;
    refusal_.reset();
    launchHeldBack_ = false;
    std::shared_ptr<Link> link = Link::create(loop_, fd);
    // Both handlers act only for the current link: a read may still deliver messages after its
    // link was closed (by stop() from an event handler, say), and those belong to no link.
    std::weak_ptr<KestrixConnection> weak = weak_from_this();
    const Link* current = link.get();
    link->onMessage = [weak, current](const BrokerMessage& message) {
        if (auto self = weak.lock(); self && self->connection_.get() == current)
            self->received(message);
    };
    link->onClose = [weak, current] {
        if (auto self = weak.lock(); self && self->connection_.get() == current) self->closed();
    };
    connection_ = link;
    link->holdReading(readingHeld_);
    link->start();
    Hello hello;
    hello.protocolVersion = Kestrix::protocolVersion;
    hello.version = version_;
    hello.processID = static_cast<std::int32_t>(::getpid());
    hello.name = name_;
    hello.claim = claim_;
    link->send(ClientMessage{hello});
}

void KestrixConnection::holdReading(bool hold) {
    readingHeld_ = hold;
    if (connection_) connection_->holdReading(hold);
}

void KestrixConnection::readWaiting() {
    if (std::shared_ptr<Link> link = connection_) link->readWaiting();
}

void KestrixConnection::failedAttempt() {
    const int generation = generation_;
    attempt_ += 1;
    if (attempt_ == firstLaunchAttempt) launch();
    if (attempt_ == slowAttempt) {
        // A broker refuses a folder of another user: the owner hears why, and what to do.
        std::optional<std::string> refusal = place_.refusal();
        emit(Event::unavailable("Kestrix could not be reached" + (refusal ? ": " + *refusal : "")));
    }
    // The owner stopped or restarted the connection from the event: a restart runs attempts of
    // its own, and a second chain of them would double their pace.
    if (generation != generation_) return;
    if (attempt_ >= slowAttempt && attempt_ % launchEvery == 0) launch();
    // A launch that the guard held back (the broker launched just before died early) comes as
    // soon as the guard allows, not at the next multiple of launchEvery.
    if (launchHeldBack_ && lastLaunch_ && loop_.now() - *lastLaunch_ >= launchGuard) launch();
    std::weak_ptr<KestrixConnection> weak = weak_from_this();
    loop_.after(attempt_ < slowAttempt ? fastRetry : slowRetry, [weak] {
        if (auto self = weak.lock()) self->connect();
    });
}

void KestrixConnection::launch() {
    const double now = loop_.now();
    if (lastLaunch_ && now - *lastLaunch_ < launchGuard) {
        launchHeldBack_ = true;
        return;
    }
    launchHeldBack_ = false;
    lastLaunch_ = now;
    // A newer broker that registered itself takes precedence over the one this program ships.
    if (std::optional<BrokerPlace::Newest> newest = place_.readNewest();
        newest && newest->version > version_ && newest->isUsable()) {
        if (endsWith(newest->path, ".app")) {
            startLauncher(Launcher::app(newest->path));
            return;
        }
        if (std::holds_alternative<Launcher::Executable>(launcher_.how)) {
            startLauncher(Launcher::executable(newest->path, newest->arguments));
            return;
        }
    }
    startLauncher(launcher_);
}

void KestrixConnection::startLauncher(const Launcher& launcher) {
    if (launcher.isNone() || !starter) return;
    std::optional<std::string> error = starter(launcher);
    if (!error) return;
    // Reported from the loop, as an open that completes later would be.
    std::weak_ptr<KestrixConnection> weak = weak_from_this();
    loop_.post([weak, text = "Kestrix could not be started: " + *error] {
        if (auto self = weak.lock()) self->emit(Event::unavailable(text));
    });
}

void KestrixConnection::emit(const Event& event) {
    if (onEvent) onEvent(event);
}

void KestrixConnection::send(const ClientMessage& message) {
    // A strong reference of its own: a send that fails closes the link, and the close handler
    // drops connection_.
    if (std::shared_ptr<Link> link = connection_) link->send(message);
}

void KestrixConnection::received(const BrokerMessage& message) {
    if (const auto* welcome = message.as<BrokerMessage::Welcome>()) {
        welcomed_ = true;
        welcomedAt_ = loop_.now();
        attempt_ = 0;
        brokerVersion_ = welcome->version;
        brokerProtocolVersion_ = welcome->protocolVersion;
        emit(Event::connected(welcome->version));
        // An older broker answered: starting ours makes it hand over to the newer one.
        if (welcome->version < version_) launch();
    } else if (const auto* devices = message.as<BrokerMessage::Devices>()) {
        devices_ = devices->devices;
        emit(Event::devices(devices->devices));
    } else if (const auto* holding = message.as<BrokerMessage::Holding>()) {
        setHolds(holding->holding);
    } else if (const auto* axes = message.as<BrokerMessage::Axes>()) {
        if (!holds_) return;
        if (axes->axes.isZero())
            moved_.erase(axes->device);
        else
            moved_.insert(axes->device);
        // At the device's report rate: one event object, filled in again each time.
        auto& event = std::get<Event::Axes>(axesEvent_.value);
        event.axes = axes->axes;
        event.device.assign(axes->device);
        emit(axesEvent_);
    } else if (const auto* buttons = message.as<BrokerMessage::Buttons>()) {
        if (!holds_) return;
        held_[buttons->device] = buttons->held;
        auto& event = std::get<Event::Buttons>(buttonsEvent_.value);
        event.held = buttons->held;
        event.device.assign(buttons->device);
        emit(buttonsEvent_);
    } else if (const auto* report = message.as<BrokerMessage::Report>()) {
        if (holds_ && onReport) onReport(report->bytes, report->device);
    } else if (const auto* description = message.as<DeviceDescription>()) {
        auto waiting = describing_.find(description->device);
        if (waiting == describing_.end()) return;
        std::vector<std::pair<int, Completion>> completions = std::move(waiting->second);
        describing_.erase(waiting);
        for (auto& [request, completion] : completions)
            completion(*description);
    } else if (const auto* apps = message.as<BrokerMessage::AppsWithOwnClient>()) {
        std::set<std::string> set(apps->apps.begin(), apps->apps.end());
        if (set == appsWithOwnClient_) return;
        appsWithOwnClient_ = std::move(set);
        if (onAppsWithOwnClient) onAppsWithOwnClient(appsWithOwnClient_);
    } else if (const auto* refused = message.as<BrokerMessage::Refused>()) {
        refusal_ = refused->reason; // the link closes next
    }
    // status and handingOver answer requests that this client never makes.
}

void KestrixConnection::setHolds(bool flag) {
    if (!flag) {
        // The owner must not keep a moved cap or a pressed button of a device it no longer holds.
        std::set<std::string> moved = std::move(moved_);
        std::map<std::string, smk::SpaceMouseButtons> held = std::move(held_);
        moved_.clear();
        held_.clear();
        for (const std::string& device : moved)
            emit(Event::axes(smk::SpaceMouseAxes::zero, device));
        for (const auto& [device, buttons] : held)
            emit(Event::buttons(smk::SpaceMouseButtons(), device));
    }
    holds_ = flag;
    emit(Event::holding(flag));
}

void KestrixConnection::closed() {
    const int generation = generation_;
    const bool welcomed = std::exchange(welcomed_, false);
    const std::optional<std::string> refusal = std::exchange(refusal_, std::nullopt);
    connection_.reset();
    brokerVersion_.reset();
    brokerProtocolVersion_.reset();

    auto describing = std::move(describing_);
    describing_.clear();
    for (auto& [device, completions] : describing) {
        for (auto& [request, completion] : completions)
            completion(unanswered(device, "Kestrix gone"));
    }
    if (holds_) setHolds(false);
    if (!appsWithOwnClient_.empty()) {
        appsWithOwnClient_.clear();
        if (onAppsWithOwnClient) onAppsWithOwnClient(appsWithOwnClient_);
    }
    // A link that never got its welcome was only an attempt: the owner heard of no connection,
    // so it hears of no disconnection either (unless it closed the link itself).
    if (welcomed || !running_) emit(Event::disconnected());
    // A restart from the owner's handlers has already connected or scheduled its next attempt.
    if (!running_ || generation != generation_) return;
    if (welcomed) {
        // A broker that welcomes and closes at once, again and again, is not followed at full
        // speed: from the second such link in a row, each counts as a failed attempt.
        shortLinks_ = loop_.now() - welcomedAt_ < shortLink ? shortLinks_ + 1 : 0;
        if (shortLinks_ <= 1) {
            attempt_ = 0;
            connect();
            return;
        }
        attempt_ = shortLinks_ - 2;
    }
    if (refusal) {
        // The broker will answer the same hello the same way: said once, then tried only at the
        // slow pace.
        if (!refusalReported_) {
            refusalReported_ = true;
            // The broker's words, on one line and cut short as the broker logs a client's.
            emit(Event::unavailable("Kestrix refused the connection: " +
                                    BrokerPlace::loggable(*refusal, BrokerPlace::peerTextLimit)));
            if (!running_ || generation != generation_) return;
        }
        attempt_ = std::max(attempt_, slowAttempt);
    }
    failedAttempt();
}

} // namespace kestrix::client
