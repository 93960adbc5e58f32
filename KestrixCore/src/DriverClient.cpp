#include "KestrixCore/DriverClient.h"

#include "KestrixProtocol/Kestrix.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <cstdlib>
#include <fmt/format.h>
#include <unistd.h>
#include <vector>

namespace kestrix::core {

namespace {

// The client that owns the process's registration. Main thread only.
DriverClient* current = nullptr;
// The main loop of that client, for the library's callbacks, which run on the library's thread
// and may only post. Set before the handlers are installed and cleared after the library has
// been told to clean up, which ends its callbacks.
std::atomic<MainLoop*> currentLoop{nullptr};

// Seconds a failure must lie back before wanting the driver brings the next attempt forward.
constexpr double wantRetryAge = 10.0;
// Seconds from start() to the first registration attempt.
constexpr double startDelay = 1.0;

} // namespace

// One thread that runs the library's controls in the order they were asked for.
class DriverClient::Calls {
public:
    Calls()
        : thread_([this] { run(); }) {}
    // Runs what is queued, then ends the thread.
    ~Calls() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Calls(const Calls&) = delete;
    Calls& operator=(const Calls&) = delete;

    void add(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_all();
    }

private:
    void run() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

DriverClient::DriverClient(MainLoop& loop)
    : loop_(loop)
    , self_(std::make_shared<DriverClient*>(this)) {}

DriverClient::~DriverClient() {
    // Quietly: the owner is going away too, so neither log nor onChange is called.
    if (api_) {
        if (const std::uint16_t id = endCalls(); id != 0) api_->unregister(id);
        clientID_ = 0;
        releaseLibrary();
    }
}

void DriverClient::start() {
    if (!api_ && !starting_) schedule(startDelay);
}

void DriverClient::schedule(double delay) {
    starting_ = true;
    const std::uint64_t generation = ++scheduled_;
    loop_.after(delay, [weak = std::weak_ptr<DriverClient*>(self_), generation] {
        const auto self = weak.lock();
        if (!self) return;
        DriverClient& client = **self;
        if (!client.starting_ || client.scheduled_ != generation) return;
        client.starting_ = false;
        client.registerClient();
    });
}

void DriverClient::finishCalls() {
    calls_.reset(); // waits for the call under way
    ledUnderWay_ = false;
    nextLED_.reset();
}

std::uint16_t DriverClient::endCalls() {
    finishCalls();
    // A registration whose result is still on its way to the loop is ended here.
    std::uint16_t id = clientID_;
    if (registering_ && registeredID_) id = registeredID_->load();
    registering_ = false;
    registeredID_.reset();
    ++registrations_;
    return id;
}

void DriverClient::releaseLibrary() {
    finishCalls();
    api_->cleanup();
    api_.reset();
    if (current == this) {
        current = nullptr;
        currentLoop = nullptr;
    }
}

void DriverClient::registerClient() {
    if (current) {
        failed("another client in this process");
        return;
    }
    ConnexionAPI api;
    try {
        api = loader(libraryPath);
    } catch (const ConnexionAPI::LoadError& error) {
        failed(error.description);
        return;
    }
    api_ = api;
    current = this;
    currentLoop = &loop_;
    calls_ = std::make_unique<Calls>();

    const std::int16_t result =
        api.setHandlers(&DriverClient::messageHandler, &DriverClient::addedHandler,
                        &DriverClient::removedHandler, 0 /* no separate thread */);
    if (result != 0) {
        releaseLibrary();
        failed("SetConnexionHandlers returned " + std::to_string(result));
        return;
    }

    // The client name as a length-prefixed byte string: one length byte, at most 255 bytes.
    const std::string_view appName = Kestrix::appName;
    const std::size_t length = std::min<std::size_t>(appName.size(), 255);
    std::vector<std::uint8_t> name;
    name.reserve(length + 1);
    name.push_back(std::uint8_t(length));
    name.insert(name.end(), appName.begin(), appName.begin() + std::ptrdiff_t(length));

    // Registering waits on the daemon (for its answer to the event mask): off the loop too.
    registering_ = true;
    const std::uint64_t registration = ++registrations_;
    auto id = std::make_shared<std::atomic<std::uint16_t>>(0);
    registeredID_ = id;
    calls_->add([api, name = std::move(name), id, registration, loop = &loop_,
                 weak = std::weak_ptr<DriverClient*>(self_)] {
        const std::uint16_t got =
            api.registerClient(ConnexionAPI::manualClientSignature, name.data(),
                               ConnexionAPI::registrationMode, ConnexionAPI::registrationMask);
        if (got != 0) api.setButtonMask(got, ConnexionAPI::allButtons);
        id->store(got);
        loop->post([weak, registration, got] {
            if (const auto self = weak.lock()) (*self)->registered(registration, got);
        });
    });
}

void DriverClient::registered(std::uint64_t registration, std::uint16_t id) {
    // A registration that stop() ended meanwhile was undone there.
    if (!registering_ || registration != registrations_) return;
    registering_ = false;
    registeredID_.reset();
    clientID_ = id;
    if (id == 0) {
        releaseLibrary();
        failed("RegisterConnexionClient returned no client ID");
        return;
    }

    const std::int64_t failures = retry_.failures;
    retry_ = DriverRetry();
    std::string line = "driver: registered as manual client " + std::to_string(id);
    if (failures != 0) line += " after " + std::to_string(failures) + " failed attempts";
    log(line);
    updateActivation();
    onChange();
}

void DriverClient::failed(const std::string& reason) {
    const DriverRetry::Next next = retry_.failed(reason, loop_.now());
    if (next.message) log(*next.message);
    schedule(next.delay);
    onChange();
}

void DriverClient::want(bool on) {
    wanted_ = on;
    if (on && !api_ && retry_.failures >= 1 && retry_.lastAttempt &&
        loop_.now() - *retry_.lastAttempt >= wantRetryAge)
        schedule(0);
    updateActivation();
}

void DriverClient::updateActivation() {
    if (clientID_ == 0 || wanted_ == active_) return;
    active_ = wanted_;
    control(active_ ? ConnexionAPI::activateControl : ConnexionAPI::deactivateControl);
    log(active_ ? "driver: activated" : "driver: deactivated");
}

void DriverClient::control(std::uint32_t code, std::int32_t parameter) {
    if (!api_ || !calls_ || !api_->control) return;
    const std::uint64_t serial = ++sent_;
    calls_->add([control = api_->control, id = clientID_, code, parameter, serial,
                 loop = &loop_, weak = std::weak_ptr<DriverClient*>(self_)] {
        std::int32_t resultWord = 0;
        const std::int16_t result = control(id, code, parameter, &resultWord);
        loop->post([weak, serial, code, result] {
            if (const auto self = weak.lock()) (*self)->controlled(serial, code, result);
        });
    });
    loop_.after(callTimeout, [weak = std::weak_ptr<DriverClient*>(self_), serial, code] {
        const auto self = weak.lock();
        if (!self || (*self)->answered_ >= serial) return;
        (*self)->log(fmt::format("driver: control 0x{:08X} unanswered after {} s", code,
                                 callTimeout));
    });
}

void DriverClient::controlled(std::uint64_t serial, std::uint32_t code, std::int16_t result) {
    answered_ = std::max(answered_, serial);
    if (result != 0) log(fmt::format("driver: control 0x{:08X} returned {}", code, result));
    if (code != ConnexionAPI::statusLEDControl || !ledUnderWay_) return;
    ledUnderWay_ = false;
    if (const std::optional<bool> next = std::exchange(nextLED_, std::nullopt)) setLED(*next);
}

void DriverClient::setLED(bool on) {
    if (!api_ || clientID_ == 0) return;
    if (ledUnderWay_) {
        nextLED_ = on;
        return;
    }
    ledUnderWay_ = true;
    control(ConnexionAPI::statusLEDControl, on ? 1 : 0);
}

void DriverClient::stop() {
    starting_ = false;
    scheduled_ += 1;
    retry_ = DriverRetry();
    if (api_) {
        if (clientID_ != 0 && active_) control(ConnexionAPI::deactivateControl);
        active_ = false;
        // The deactivation (or the registration) under way ends before the registration does.
        if (const std::uint16_t id = endCalls(); id != 0) api_->unregister(id);
        clientID_ = 0;
        releaseLibrary();
        log("driver: unregistered");
    }
    onChange();
}

void DriverClient::received(const smk::ConnexionDeviceState& state) {
    if (!active_) return;
    if (state.client != 0 && state.client != clientID_) return;
    if (state.command == smk::ConnexionDeviceState::handleButtons)
        onButtons(state.buttonBits);
    else if (state.command == smk::ConnexionDeviceState::handleAxis)
        onAxes(state.axes);
}

void DriverClient::messageHandler(std::uint32_t, std::uint32_t type, void* argument) {
    if (type != ConnexionAPI::deviceStateMessage || !argument) return;
    const auto state = smk::ConnexionDeviceState::read(argument, smk::ConnexionDeviceState::size);
    MainLoop* loop = currentLoop.load();
    if (!state || !loop) return;
    loop->post([state = *state] {
        if (current) current->received(state);
    });
}

void DriverClient::addedHandler(std::uint32_t deviceID) {
    deviceChanged(deviceID, "added");
}

void DriverClient::removedHandler(std::uint32_t deviceID) {
    deviceChanged(deviceID, "removed");
}

void DriverClient::deviceChanged(std::uint32_t deviceID, const char* change) {
    MainLoop* loop = currentLoop.load();
    if (!loop) return;
    loop->post([deviceID, change] {
        if (current) current->log(fmt::format("driver: device 0x{:04X} {}", deviceID, change));
    });
}

std::string DriverClient::frameworkPath() {
    if (const char* path = std::getenv(libraryVariable); path && *path) return path;
    std::string folder = ".";
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length > 0) {
        const std::string executable(buffer.data(), std::size_t(length));
        if (const auto slash = executable.rfind('/'); slash != std::string::npos)
            folder = executable.substr(0, slash == 0 ? 1 : slash);
    }
    return folder + (folder.ends_with('/') ? "" : "/") + libraryFileName;
}

} // namespace kestrix::core
