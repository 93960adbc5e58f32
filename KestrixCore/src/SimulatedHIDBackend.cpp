#include "KestrixCore/SimulatedHIDBackend.h"

#include "DescriptorFacts.h"
#include "KestrixProtocol/MainLoop.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>

namespace kestrix::core {

namespace {
class SimulatedHandle;
}

struct SimulatedHIDBackend::State {
    struct Device {
        SimulatedDevice described;
        bool attached = false;
        int epoch = 0; // counts attachments: a handle from an earlier one is dead
        std::map<std::string, PropertyValue> own;
        std::map<std::string, PropertyValue> searched;
        std::vector<std::weak_ptr<SimulatedHandle>> active; // open, activated handles
        int openHandles = 0;
        bool seized = false;
        int opens[2] = {0, 0};
        std::vector<std::vector<std::uint8_t>> outputs;
        std::vector<FeatureRead> featureReads;
        std::size_t delivered = 0;
    };

    mutable std::mutex mutex;
    std::condition_variable released;
    bool holding = false;
    std::map<DeviceKey, Device> devices;
    std::vector<ControlRequest> controlRequests;
    DeviceKey nextKey = 1;
    double startTime = 0.0;
    bool alive = true;
    // The handles a report goes to, on the loop only: kept from report to report.
    std::vector<std::weak_ptr<SimulatedHandle>> targets;
    bool sending = false;
};

namespace {

using State = SimulatedHIDBackend::State;

std::map<std::string, PropertyValue> ownProperties(const SimulatedDevice& described) {
    std::map<std::string, PropertyValue> own;
    own[property::vendorID] = described.vendorID;
    own[property::productID] = described.productID;
    if (described.product) own[property::product] = *described.product;
    if (described.transport) own[property::transport] = *described.transport;
    if (described.serialNumber) own[property::serialNumber] = *described.serialNumber;
    if (described.bluetoothAddress) own[property::deviceAddress] = *described.bluetoothAddress;
    if (described.locationID) own[property::locationID] = *described.locationID;
    if (described.reportDescriptor) {
        addDescriptorFacts(*described.reportDescriptor, own);
        own[property::reportDescriptor] = *described.reportDescriptor;
    }
    return own;
}

std::optional<PropertyValue> find(const std::map<std::string, PropertyValue>& map,
                                  const std::string& name) {
    auto it = map.find(name);
    if (it == map.end()) return std::nullopt;
    return it->second;
}

class SimulatedHandle final : public HIDHandle,
                              public std::enable_shared_from_this<SimulatedHandle> {
public:
    SimulatedHandle(std::shared_ptr<State> state, DeviceKey key,
                    std::map<std::string, PropertyValue> own)
        : state_(std::move(state))
        , key_(key)
        , own_(std::move(own)) {}
    ~SimulatedHandle() override { close(); }

    std::optional<PropertyValue> property(const std::string& name) const override {
        return find(own_, name);
    }

    void setInputHandler(std::uint8_t* buffer, std::size_t size, InputHandler handler) override {
        buffer_ = buffer;
        size_ = size;
        handler_ = std::move(handler);
    }

    HIDResult open(bool seize) override {
        std::lock_guard lock(state_->mutex);
        auto it = state_->devices.find(key_);
        if (it == state_->devices.end() || !it->second.attached) return ENODEV;
        auto& device = it->second;
        device.opens[seize ? 1 : 0] += 1;
        epoch_ = device.epoch;
        if (open_) return hidSuccess;
        if (device.described.openError != hidSuccess) return device.described.openError;
        if (seize && (device.described.busy || device.seized)) return exclusiveAccess;
        open_ = true;
        seized_ = seize;
        device.seized = device.seized || seize;
        device.openHandles += 1;
        return hidSuccess;
    }

    void activate() override {
        std::lock_guard lock(state_->mutex);
        auto it = state_->devices.find(key_);
        if (!open_ || !handler_ || active_ || it == state_->devices.end()) return;
        active_ = true;
        it->second.active.push_back(weak_from_this());
    }

    void close() override {
        std::lock_guard lock(state_->mutex);
        if (!open_) return;
        open_ = false;
        active_ = false;
        auto it = state_->devices.find(key_);
        if (it == state_->devices.end()) return;
        auto& device = it->second;
        if (device.epoch != epoch_)
            return; // opened before the device was plugged in again: nothing of it counts now
        device.openHandles -= 1;
        if (seized_) device.seized = false;
        std::erase_if(device.active, [this](const std::weak_ptr<SimulatedHandle>& weak) {
            auto handle = weak.lock();
            return !handle || handle.get() == this;
        });
    }

    void cancel() override { close(); }

    HIDResult getFeature(std::uint8_t reportID, std::uint8_t* buffer,
                         std::size_t& length) override {
        std::unique_lock lock(state_->mutex);
        state_->released.wait(lock, [&] { return !state_->holding; });
        auto it = state_->devices.find(key_);
        if (!open_ || it == state_->devices.end() || !live(it->second)) return ENODEV;
        auto& device = it->second;
        device.featureReads.push_back({reportID, length, seized_});
        auto report = device.described.featureReports.find(reportID);
        if (device.described.hidFeatureFails || report == device.described.featureReports.end()) return EPIPE;
        length = std::min(length, report->second.size());
        std::copy_n(report->second.begin(), length, buffer);
        return hidSuccess;
    }

    HIDResult setOutputReport(std::uint8_t, const std::uint8_t* bytes,
                              std::size_t length) override {
        std::lock_guard lock(state_->mutex);
        auto it = state_->devices.find(key_);
        if (!open_ || it == state_->devices.end() || !live(it->second)) return ENODEV;
        if (it->second.described.outputError != hidSuccess) return it->second.described.outputError;
        it->second.outputs.emplace_back(bytes, bytes + length);
        return hidSuccess;
    }

    // Called on the loop without the state lock held.
    void deliver(const std::vector<std::uint8_t>& bytes) {
        if (!handler_ || !buffer_) return;
        std::size_t n = std::min(bytes.size(), size_);
        std::copy_n(bytes.begin(), n, buffer_);
        handler_(buffer_, n);
    }

    bool isActive() const {
        std::lock_guard lock(state_->mutex);
        return active_;
    }

private:
    bool live(const State::Device& device) const {
        return device.attached && device.epoch == epoch_;
    }

    std::shared_ptr<State> state_;
    DeviceKey key_;
    int epoch_ = 0;
    std::map<std::string, PropertyValue> own_;
    std::uint8_t* buffer_ = nullptr;
    std::size_t size_ = 0;
    InputHandler handler_;
    bool open_ = false;
    bool seized_ = false;
    bool active_ = false;
};

} // namespace

SimulatedHIDBackend::SimulatedHIDBackend(MainLoop& loop, std::vector<SimulatedDevice> devices)
    : loop_(loop)
    , state_(std::make_shared<State>()) {
    for (auto& described : devices) {
        State::Device device;
        device.own = ownProperties(described);
        if (described.interface) device.searched[property::interfaceNumber] = *described.interface;
        device.described = std::move(described);
        state_->devices[state_->nextKey++] = std::move(device);
    }
}

SimulatedHIDBackend::~SimulatedHIDBackend() {
    std::lock_guard lock(state_->mutex);
    state_->alive = false;
    state_->holding = false;
    state_->released.notify_all();
}

void SimulatedHIDBackend::start(KeyHandler appeared, KeyHandler vanished) {
    if (running_) return;
    running_ = true;
    appeared_ = std::move(appeared);
    vanished_ = std::move(vanished);
    state_->startTime = loop_.now();
    std::vector<std::pair<DeviceKey, SimulatedDevice>> specs;
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& [key, device] : state_->devices)
            specs.emplace_back(key, device.described);
    }
    std::weak_ptr<State> weak = state_;
    for (const auto& [key, described] : specs) {
        DeviceKey k = key;
        loop_.after(std::max(0.0, described.appearAt), [this, weak, k] {
            if (auto state = weak.lock(); state && state->alive) attach(k);
        });
        if (described.vanishAt)
            loop_.after(std::max(0.0, *described.vanishAt), [this, weak, k] {
                if (auto state = weak.lock(); state && state->alive) detach(k);
            });
        for (const auto& report : described.reports)
            play(key, report);
    }
}

void SimulatedHIDBackend::play(DeviceKey key, const SimulatedReport& report) {
    if (report.count < 1) return;
    auto stream = std::make_shared<Stream>(Stream{key, report.bytes, report.count, nullptr});
    std::weak_ptr<State> weak = state_;
    double due = state_->startTime + report.at;
    loop_.after(std::max(0.0, due - loop_.now()), [this, weak, stream, every = report.every] {
        auto state = weak.lock();
        if (!state || !state->alive) return;
        send(stream->key, stream->bytes);
        if (--stream->left <= 0) return;
        if (!(every > 0)) {
            playAtOnce(stream);
            return;
        }
        // One repeating timer for the rest of the stream, not a timer per report.
        streams_.push_back(stream);
        stream->timer = loop_.repeat(every, 0.0, [this, weak, raw = stream.get()] {
            auto state = weak.lock();
            if (!state || !state->alive) return;
            send(raw->key, raw->bytes);
            if (--raw->left <= 0) {
                raw->timer.reset();
                std::erase_if(streams_, [raw](const auto& s) { return s.get() == raw; });
            }
        });
    });
}

void SimulatedHIDBackend::playAtOnce(std::shared_ptr<Stream> stream) {
    // Reports due at the same moment follow each other on the loop, one timer each.
    std::weak_ptr<State> weak = state_;
    loop_.after(0.0, [this, weak, stream] {
        auto state = weak.lock();
        if (!state || !state->alive) return;
        send(stream->key, stream->bytes);
        if (--stream->left > 0) playAtOnce(stream);
    });
}

void SimulatedHIDBackend::stop() {
    running_ = false;
}

void SimulatedHIDBackend::attach(DeviceKey key) {
    {
        std::lock_guard lock(state_->mutex);
        auto it = state_->devices.find(key);
        if (it == state_->devices.end() || it->second.attached) return;
        const auto& descriptor = it->second.described.reportDescriptor;
        // The matching a platform does: SpaceMouse vendors, multi-axis controllers only.
        if (!isSpaceMouseVendor(it->second.described.vendorID) ||
            (descriptor && !declaresMultiAxisController(*descriptor)))
            return;
        it->second.attached = true;
        it->second.epoch += 1;
        it->second.openHandles = 0;
        it->second.seized = false;
    }
    if (running_) appeared_(key);
}

void SimulatedHIDBackend::detach(DeviceKey key) {
    {
        std::lock_guard lock(state_->mutex);
        auto it = state_->devices.find(key);
        if (it == state_->devices.end() || !it->second.attached) return;
        it->second.attached = false;
        it->second.active.clear();
    }
    if (running_) vanished_(key);
}

DeviceKey SimulatedHIDBackend::add(SimulatedDevice described) {
    DeviceKey key;
    {
        std::lock_guard lock(state_->mutex);
        key = state_->nextKey++;
        State::Device device;
        device.own = ownProperties(described);
        if (described.interface) device.searched[property::interfaceNumber] = *described.interface;
        device.described = std::move(described);
        state_->devices[key] = std::move(device);
    }
    attach(key);
    return key;
}

void SimulatedHIDBackend::remove(DeviceKey key) {
    detach(key);
}

void SimulatedHIDBackend::reattach(DeviceKey key) {
    attach(key);
}

void SimulatedHIDBackend::setBusy(DeviceKey key, bool busy) {
    std::lock_guard lock(state_->mutex);
    if (auto it = state_->devices.find(key); it != state_->devices.end())
        it->second.described.busy = busy;
}

void SimulatedHIDBackend::setFaults(DeviceKey key, bool hidFeatureFails, bool controlPipeFails) {
    std::lock_guard lock(state_->mutex);
    if (auto it = state_->devices.find(key); it != state_->devices.end()) {
        it->second.described.hidFeatureFails = hidFeatureFails;
        it->second.described.controlPipeFails = controlPipeFails;
    }
}

void SimulatedHIDBackend::send(DeviceKey key, const std::vector<std::uint8_t>& bytes) {
    // A report sent from inside a delivery gets a list of its own.
    std::vector<std::weak_ptr<SimulatedHandle>> own;
    auto& targets = state_->sending ? own : state_->targets;
    struct Sending {
        State& state;
        bool was;
        explicit Sending(State& s)
            : state(s)
            , was(s.sending) {
            state.sending = true;
        }
        ~Sending() { state.sending = was; }
    } sending(*state_);
    {
        std::lock_guard lock(state_->mutex);
        auto it = state_->devices.find(key);
        if (it == state_->devices.end() || !it->second.attached) return;
        targets.assign(it->second.active.begin(), it->second.active.end());
    }
    for (const auto& weak : targets) {
        auto handle = weak.lock();
        // An earlier delivery may have closed this handle.
        if (!handle || !handle->isActive()) continue;
        {
            std::lock_guard lock(state_->mutex);
            state_->devices[key].delivered += 1;
        }
        handle->deliver(bytes);
    }
}

void SimulatedHIDBackend::holdFeatureReads() {
    std::lock_guard lock(state_->mutex);
    state_->holding = true;
}

void SimulatedHIDBackend::releaseFeatureReads() {
    std::lock_guard lock(state_->mutex);
    state_->holding = false;
    state_->released.notify_all();
}

bool SimulatedHIDBackend::exists(DeviceKey key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->devices.find(key);
    return it != state_->devices.end() && it->second.attached;
}

std::optional<PropertyValue> SimulatedHIDBackend::property(DeviceKey key,
                                                           const std::string& name) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->devices.find(key);
    if (it == state_->devices.end() || !it->second.attached) return std::nullopt;
    return find(it->second.own, name);
}

std::optional<PropertyValue> SimulatedHIDBackend::searchProperty(DeviceKey key,
                                                                 const std::string& name) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->devices.find(key);
    if (it == state_->devices.end() || !it->second.attached) return std::nullopt;
    return find(it->second.searched, name);
}

std::shared_ptr<HIDHandle> SimulatedHIDBackend::makeHandle(DeviceKey key) {
    std::lock_guard lock(state_->mutex);
    auto it = state_->devices.find(key);
    if (it == state_->devices.end() || !it->second.attached) return nullptr;
    return std::make_shared<SimulatedHandle>(state_, key, it->second.own);
}

std::optional<std::vector<std::uint8_t>>
SimulatedHIDBackend::getFeatureOverControlPipe(std::uint32_t location, std::uint16_t interface,
                                               std::uint8_t reportID, std::uint16_t size) {
    std::lock_guard lock(state_->mutex);
    state_->controlRequests.push_back({location, interface, reportID, size});
    for (const auto& [key, device] : state_->devices) {
        const auto& described = device.described;
        if (!device.attached || described.controlPipeFails ||
            static_cast<std::uint32_t>(described.locationID.value_or(0)) != location ||
            described.interface.value_or(0) != interface)
            continue;
        auto report = described.featureReports.find(reportID);
        if (report == described.featureReports.end()) return std::nullopt;
        auto bytes = report->second;
        bytes.resize(std::min<std::size_t>(bytes.size(), size));
        return bytes;
    }
    return std::nullopt;
}

std::vector<std::vector<std::uint8_t>> SimulatedHIDBackend::outputReports(DeviceKey key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->devices.find(key);
    return it == state_->devices.end() ? std::vector<std::vector<std::uint8_t>>{}
                                       : it->second.outputs;
}

std::vector<SimulatedHIDBackend::FeatureRead>
SimulatedHIDBackend::featureReads(DeviceKey key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->devices.find(key);
    return it == state_->devices.end() ? std::vector<FeatureRead>{} : it->second.featureReads;
}

std::vector<SimulatedHIDBackend::ControlRequest> SimulatedHIDBackend::controlRequests() const {
    std::lock_guard lock(state_->mutex);
    return state_->controlRequests;
}

int SimulatedHIDBackend::opens(DeviceKey key, bool seize) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->devices.find(key);
    return it == state_->devices.end() ? 0 : it->second.opens[seize ? 1 : 0];
}

int SimulatedHIDBackend::openHandles(DeviceKey key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->devices.find(key);
    return it == state_->devices.end() ? 0 : it->second.openHandles;
}

std::size_t SimulatedHIDBackend::deliveredReports(DeviceKey key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->devices.find(key);
    return it == state_->devices.end() ? 0 : it->second.delivered;
}

} // namespace kestrix::core
