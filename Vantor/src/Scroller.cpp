#include "Vantor/Scroller.h"

#include "KestrixProtocol/BrokerPlace.h"
#include "SpaceMouseKit/SpaceMouseModel.h"
#include "Vantor/Log.h"

#include <algorithm>

namespace vantor {

using scroll::ScrollSettings;

namespace {

std::string joined(const std::vector<std::string>& items, const std::string& separator) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) out += separator;
        out += item;
    }
    return out;
}

// A text the broker chose (a device's name, an app) as the log shows it: on one line and cut
// short, as the broker logs what its clients send.
std::string fromBroker(std::string_view text) {
    return kestrix::BrokerPlace::loggable(text, kestrix::BrokerPlace::peerTextLimit);
}

// A dictionary in its standard textual form: ["key": "value", ...], or [:] when empty.
std::string dictionaryText(const std::map<std::string, std::string>& entries) {
    if (entries.empty()) return "[:]";
    std::string out = "[";
    bool first = true;
    for (const auto& [key, value] : entries) {
        if (!first) out += ", ";
        first = false;
        out += "\"" + key + "\": \"" + value + "\"";
    }
    return out + "]";
}

} // namespace

Scroller::Scroller(ScrollerSystem system)
    : system_(std::move(system))
    , poster_(system_.poster)
    , ticker_(system_.makeTicker()) {
    diagnostics_.start = system_.now();
}

Scroller::~Scroller() {
    *self_ = nullptr;
    if (system_.workspace && observing_) {
        system_.workspace->onActivate = nullptr;
        system_.workspace->onStatusChange = nullptr;
    }
}

void Scroller::start() {
    if (kestrix_) return; // already started
    auto front = system_.workspace ? system_.workspace->frontmost() : std::nullopt;
    frontmostBundleID_ = front ? front->bundleID : std::nullopt;
    frontmostName_ = front ? front->name : std::nullopt;
    updateTarget();
    reloadSettings();
    startInput();

    if (system_.workspace) {
        std::weak_ptr<Scroller*> weak = self_;
        system_.workspace->onActivate = [weak](const std::optional<RunningApp>& app) {
            if (auto self = weak.lock(); self && *self) (*self)->frontmostChanged(app);
        };
        system_.workspace->onStatusChange = [weak] {
            if (auto self = weak.lock(); self && *self) (*self)->changed();
        };
        observing_ = true;
    }

    // Posting needs write access to the uinput node; there is nothing to ask the user for at run
    // time, only the udev rule (or the missing module) to point to.
    if (!system_.hasPermission()) Log::info("no permission to post events yet; " + permissionAdvice());
}

std::string Scroller::permissionAdvice() const {
    if (system_.permissionAdvice) return system_.permissionAdvice();
    return "install the udev rule that lets you write /dev/uinput";
}

void Scroller::stop() {
    endGesture();
    ticker_->stop();
    ticking_ = false;
    lastTick_.reset();
    // The link is let go before it is stopped: the disconnection that its stop reports is this
    // stop, not the broker going away.
    if (auto link = std::move(kestrix_)) link->stop();
    if (observing_ && system_.workspace) {
        system_.workspace->onActivate = nullptr;
        system_.workspace->onStatusChange = nullptr;
        observing_ = false;
    }
}

void Scroller::startInput() {
    sentClaim_ = claim();
    kestrix_ = system_.connect(*sentClaim_);
    connection_ = {Connection::starting, {}, {}};
    Log::info("using Kestrix");

    std::weak_ptr<Scroller*> weak = self_;
    SpaceMouseInput* input = kestrix_.get();
    kestrix_->setOnEvent([weak, input](const SpaceMouseInput::Event& event) {
        auto self = weak.lock();
        if (self && *self && (*self)->kestrix_.get() == input) (*self)->handle(event);
    });
    kestrix_->setOnAppsWithOwnClient([weak, input](const std::set<std::string>& apps) {
        auto self = weak.lock();
        if (!self || !*self || (*self)->kestrix_.get() != input) return;
        std::vector<std::string> sorted;
        for (const auto& app : apps)
            sorted.push_back(fromBroker(app));
        Log::info("apps with their own client: " + (sorted.empty() ? "none" : joined(sorted, " ")));
        (*self)->changed();
    });
    kestrix_->start();
    changed();
}

kestrix::Claim Scroller::claim() const {
    std::vector<std::string> apps;
    for (const auto& app : settings_.allowedApps)
        if (!settings_.excludedApps.contains(app)) apps.push_back(app);
    if (preview_ && system_.ownBundleID) apps.push_back(*system_.ownBundleID);
    std::sort(apps.begin(), apps.end());
    return kestrix::Claim{std::move(apps), false, std::nullopt, std::nullopt};
}

void Scroller::frontmostChanged(const std::optional<RunningApp>& app) {
    frontmostBundleID_ = app ? app->bundleID : std::nullopt;
    frontmostName_ = app ? app->name : std::nullopt;
    updateTarget();
    turnOnNewFrontmostApp();
    applyAppSettings();
    updateDevice();
}

void Scroller::updateTarget() {
    bool toPreview = preview_.has_value() && frontmostBundleID_ && system_.ownBundleID &&
                     *frontmostBundleID_ == *system_.ownBundleID;
    if (toPreview == postsToPreview_) return;
    // End what runs in the old sink first, so no phase sequence is split between two sinks.
    endGesture();
    postsToPreview_ = toPreview;
}

void Scroller::applyAppSettings() {
    std::optional<std::string> target =
        postsToPreview_ ? (preview_ ? preview_->second : std::nullopt) : frontmostBundleID_;
    applied_ = settings_.applied(target);
    if (!appliedMomentum_ || *appliedMomentum_ != applied_.momentum) {
        appliedMomentum_ = applied_.momentum;
        endGesture();
        glide_ = scroll::Glide(applied_.momentum.time(), ScrollSettings::momentumStop);
    }
}

void Scroller::turnOnNewFrontmostApp() {
    if (!frontmostBundleID_) return;
    const std::string& id = *frontmostBundleID_;
    if ((system_.ownBundleID && id == *system_.ownBundleID) ||
        (kestrix_ && kestrix_->appsWithOwnClient().contains(id)))
        return;
    if (!settings_.turnsOnInFront(id)) return;
    Log::info("SpaceMouse on for " + id + ": new apps start on");
    ScrollSettings changedSettings = settings_;
    changedSettings.setDevice(true, id);
    update(changedSettings);
}

void Scroller::updateDevice() {
    kestrix::Claim wanted = claim();
    if (!sentClaim_ || *sentClaim_ != wanted) {
        sentClaim_ = wanted;
        if (kestrix_) kestrix_->setClaim(wanted);
    }

    bool takes = false;
    if (kestrix_ && kestrix_->holds())
        takes = postsToPreview_ ||
                scroll::DevicePolicy::takesDevice(frontmostBundleID_, settings_.allowedApps,
                                                  settings_.excludedApps);
    if (takes != takesDevice_) {
        takesDevice_ = takes;
        Log::info(std::string(takes ? "taking" : "leaving") + " the SpaceMouse (frontmost " +
                  frontmostBundleID_.value_or("unknown") + ")");
        if (!takes) {
            endGesture();
            axes_ = {};
        }
    }
    changed();
}

void Scroller::changed() {
    if (onChange) onChange();
}

void Scroller::handle(const SpaceMouseInput::Event& event) {
    using E = SpaceMouseInput::Event;
    if (auto connected = event.as<E::Connected>()) {
        connection_ = {Connection::starting, {}, {}};
        Log::info("connected to Kestrix " + std::to_string(connected->version));
        changed();
    } else if (auto holding = event.as<E::Holding>()) {
        Log::info(holding->holds ? "Kestrix gives the SpaceMouse"
                                 : "Kestrix takes the SpaceMouse back");
        updateDevice();
    } else if (auto devices = event.as<E::Devices>()) {
        connection_ = devices->list.empty() ? Connection{Connection::disconnected, {}, {}}
                                            : Connection{Connection::connected, devices->list, {}};
        std::vector<std::string> entries;
        for (const auto& device : devices->list)
            entries.push_back(fromBroker(device.name) + " " + fromBroker(device.id) + " (" +
                              fromBroker(device.state) + ", full scale " +
                              (device.axisFullScale ? std::to_string(*device.axisFullScale)
                                                    : std::string("unknown")) +
                              ")");
        Log::info("devices: " + joined(entries, ", "));
        changed();
    } else if (auto axes = event.as<E::Axes>()) {
        diagnostics_.axisEvents += 1;
        axes_ = axes->axes;
        fullScale_ = fullScaleOf(axes->device);
        axesTime_ = system_.now();
        if (!axes_.isZero() && takesDevice_) startTicking();
    } else if (event.is<E::Buttons>()) {
        // The scrolling app has no use for the buttons.
    } else if (auto unavailable = event.as<E::Unavailable>()) {
        connection_ = {Connection::failed, {}, unavailable->reason};
        Log::error(unavailable->reason);
        changed();
    } else if (event.is<E::Disconnected>()) {
        connection_ = {Connection::starting, {}, {}};
        axes_ = {};
        endGesture();
        Log::info("Kestrix gone; reconnecting");
        changed();
    }
}

double Scroller::fullScaleOf(const std::string& device) const {
    if (!kestrix_) return 350;
    for (const auto& entry : kestrix_->devices()) {
        if (entry.id != device) continue;
        double scale = 350;
        if (entry.axisFullScale)
            scale = static_cast<double>(*entry.axisFullScale);
        else if (auto model = smk::SpaceMouseModel::matching(entry.vendorID, entry.productID))
            scale = static_cast<double>(model->axisFullScale);
        return std::max(scale, 1.0);
    }
    return 350;
}

void Scroller::setPreview(std::shared_ptr<EventPosting> sink, std::optional<std::string> app) {
    // Motion running in the preview ends there, before its sink goes away or is replaced;
    // otherwise its ending steps would reach the system instead.
    if (postsToPreview_ && (!preview_ || preview_->first != sink)) endGesture();
    if (sink)
        preview_.emplace(std::move(sink), std::move(app));
    else
        preview_.reset();
    updateTarget();
    applyAppSettings();
    updateDevice();
}

std::pair<std::string, std::optional<std::string>> Scroller::connectionDescription() const {
    switch (connection_.kind) {
    case Connection::starting:
        return {"Looking for the SpaceMouse…", std::nullopt};
    case Connection::disconnected:
        return {"No SpaceMouse connected", std::nullopt};
    case Connection::failed:
        return {"SpaceMouse not available", std::nullopt};
    case Connection::connected:
        break;
    }
    std::vector<std::string> names;
    bool anyDriver = false, allDirect = true;
    for (const auto& device : connection_.devices) {
        names.push_back(device.name);
        anyDriver = anyDriver || device.state == "driver";
        allDirect = allDirect && (device.state == "open" || device.state == "closed");
    }
    // The system driver on this platform is spacenavd.
    std::string driver = anyDriver ? "spacenavd" : allDirect ? "Vantor (direct)" : "Not available";
    return {joined(names, ", "), driver};
}

std::optional<std::string> Scroller::connectionProblem() const {
    if (connection_.kind != Connection::failed) return std::nullopt;
    return connection_.reason;
}

bool Scroller::frontmostHasOwnClient() const {
    if (!frontmostBundleID_ || !kestrix_) return false;
    if (system_.ownBundleID && *frontmostBundleID_ == *system_.ownBundleID) return false;
    return kestrix_->appsWithOwnClient().contains(*frontmostBundleID_);
}

kestrix::core::FrontAppStatus Scroller::frontAppStatus() const {
    return system_.workspace ? system_.workspace->status() : kestrix::core::FrontAppStatus{};
}

void Scroller::logOverrides(const std::string& app) {
    auto found = settings_.appSettings.find(app);
    Log::info("own settings for " + app + ": " +
              dictionaryText(found == settings_.appSettings.end()
                                 ? std::map<std::string, std::string>{}
                                 : found->second));
}

void Scroller::followDefaultInFrontmostApp(std::optional<ScrollSettings::AppSetting> setting) {
    if (!frontmostBundleID_) return;
    std::string id = *frontmostBundleID_;
    ScrollSettings next = settings_;
    next.follow(setting, id);
    update(next);
    logOverrides(id);
}

void Scroller::setForFrontmostApp(ScrollSettings::AppSetting setting,
                                  const std::function<void(ScrollSettings&)>& change) {
    if (!frontmostBundleID_) return;
    std::string id = *frontmostBundleID_;
    ScrollSettings next = settings_;
    next.setOwn(setting, id, change);
    update(next);
    logOverrides(id);
}

void Scroller::setDeviceForFrontmostApp(bool on) {
    if (!frontmostBundleID_) return;
    std::string id = *frontmostBundleID_;
    Log::info(std::string("SpaceMouse ") + (on ? "on" : "off") + " for " + id);
    ScrollSettings next = settings_;
    next.setDevice(on, id);
    update(next);
}

} // namespace vantor
