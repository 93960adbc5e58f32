#include "KestrixCore/Devices.h"

#include "KestrixProtocol/MainLoop.h"
#include "SpaceMouseKit/HIDReportDescriptor.h"
#include "SpaceMouseKit/SpaceMouseReport.h"
#include "SpaceMouseKit/Text.h"

#include <algorithm>
#include <cctype>
#include <fmt/format.h>

namespace kestrix::core {

namespace {

std::optional<std::int64_t> integerProperty(const std::optional<PropertyValue>& value) {
    if (!value) return std::nullopt;
    if (auto* number = std::get_if<std::int64_t>(&*value)) return *number;
    return std::nullopt;
}

std::optional<std::string> textProperty(const std::optional<PropertyValue>& value) {
    if (!value) return std::nullopt;
    if (auto* text = std::get_if<std::string>(&*value)) return *text;
    return std::nullopt;
}

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Blocking feature reads run on worker threads; a burst of requests (a client may send
// describe after describe) waits for these few instead of starting a thread each.
constexpr std::size_t maximumWorkers = 4;

constexpr double busyRetryDelay = 0.1;
constexpr int busyRetries = 20;
constexpr std::size_t minimumInputBuffer = 64;

} // namespace

Devices::Devices(MainLoop& loop, std::unique_ptr<HIDBackend> backend)
    : loop_(loop)
    , backend_(std::move(backend)) {}

Devices::~Devices() {
    alive_.reset();
    if (started_) backend_->stop();
    for (auto& [key, entry] : entries_)
        if (entry.device) entry.device->cancel();
    // Work that still waits runs now, so that every description is still answered once.
    while (!waiting_.empty()) {
        launch(std::move(waiting_.front()));
        waiting_.pop_front();
    }
    for (auto& [id, worker] : workers_)
        worker.join();
}

void Devices::inBackground(BackgroundWork work) {
    waiting_.push_back(std::move(work));
    startWorkers();
}

void Devices::startWorkers() {
    while (workers_.size() < maximumWorkers && !waiting_.empty()) {
        BackgroundWork work = std::move(waiting_.front());
        waiting_.pop_front();
        launch(std::move(work));
    }
}

void Devices::launch(BackgroundWork work) {
    auto id = nextWorker_++;
    std::weak_ptr<bool> alive = alive_;
    MainLoop* loop = &loop_;
    workers_.emplace(id, std::thread([this, id, alive, loop, work = std::move(work)] {
                         auto done = work();
                         loop->post([this, id, alive, done = std::move(done)] {
                             // A finished worker is joined here; after the layer is gone its
                             // destructor has.
                             if (!alive.expired()) {
                                 auto it = workers_.find(id);
                                 if (it != workers_.end()) {
                                     it->second.join();
                                     workers_.erase(it);
                                 }
                                 startWorkers();
                             }
                             done();
                         });
                     }));
}

void Devices::start() {
    if (started_) return;
    started_ = true;
    backend_->start([this](DeviceKey key) { appeared(key); },
                    [this](DeviceKey key) { vanished(key); });
}

void Devices::stop() {
    wanted_ = false;
    std::vector<DeviceKey> keys;
    for (const auto& [key, entry] : entries_)
        keys.push_back(key);
    for (DeviceKey key : keys)
        close(key);
    if (started_) backend_->stop();
}

void Devices::want(bool on) {
    if (on == wanted_) return;
    wanted_ = on;
    std::vector<DeviceKey> keys;
    for (const auto& [key, entry] : entries_)
        keys.push_back(key);
    // An open or close may call back into the broker, which may change the table.
    for (DeviceKey key : keys) {
        if (on)
            open(key);
        else
            close(key);
    }
}

std::vector<SpaceMouseDevice> Devices::list() const {
    std::vector<SpaceMouseDevice> devices;
    devices.reserve(entries_.size());
    for (const auto& [key, entry] : entries_) {
        SpaceMouseDevice info = entry.info;
        info.enabled = isEnabled(info.id);
        if (driverHolds && info.state != "open") {
            info.state = "driver";
            info.driverProblem = driverProblem;
        }
        devices.push_back(std::move(info));
    }
    std::stable_sort(devices.begin(), devices.end(),
                     [](const auto& a, const auto& b) { return a.id < b.id; });
    return devices;
}

std::string Devices::identity(const SpaceMouseDevice& info, std::optional<std::int64_t> slot) {
    if (info.serialNumber) return "serial:" + *info.serialNumber;
    if (info.isBluetooth() && info.bluetoothAddress && !info.bluetoothAddress->empty()) {
        std::string address = lowercased(*info.bluetoothAddress);
        std::replace(address.begin(), address.end(), '-', ':');
        return "bt:" + address;
    }
    auto id = fmt::format("port:{:04x}:{:04x}@{:08x}", static_cast<std::uint32_t>(info.vendorID),
                          static_cast<std::uint32_t>(info.productID),
                          static_cast<std::uint32_t>(info.locationID.value_or(0)));
    if (slot) id += "/" + std::to_string(*slot);
    return id;
}

std::optional<std::pair<DeviceKey, const Devices::Entry*>>
Devices::lookup(const std::string& id) const {
    for (const auto& [key, entry] : entries_)
        if (entry.info.id == id) return std::make_pair(key, &entry);
    return std::nullopt;
}

void Devices::appeared(DeviceKey key) {
    if (entries_.count(key) || pending_.count(key)) return;
    auto vendorID = integerProperty(backend_->property(key, property::vendorID));
    auto productID = integerProperty(backend_->property(key, property::productID));
    if (!vendorID || !productID) return;
    std::string transport = textProperty(backend_->property(key, property::transport))
                                .value_or(std::string(SpaceMouseDevice::usbTransport));
    if (lowercased(transport).find("virtual") != std::string::npos) return;
    std::optional<smk::HIDReportDescriptor> descriptor;
    if (auto bytes = backend_->property(key, property::reportDescriptor))
        if (auto* data = std::get_if<std::vector<std::uint8_t>>(&*bytes))
            descriptor = smk::HIDReportDescriptor::parse(*data);
    auto product = textProperty(backend_->property(key, property::product));
    auto model = smk::SpaceMouseModel::recognise(*vendorID, *productID, product, descriptor);
    if (!model) {
        log(fmt::format("ignored {:04X}:{:04X} {} ({})", static_cast<std::uint32_t>(*vendorID),
                        static_cast<std::uint32_t>(*productID), product.value_or("?"), transport));
        return;
    }
    managed_.insert(key);

    SpaceMouseDevice info;
    info.vendorID = *vendorID;
    info.productID = *productID;
    info.name = model->name;
    info.transport = transport;
    if (auto serial = textProperty(backend_->property(key, property::serialNumber)))
        info.serialNumber = smk::nonEmpty(*serial);
    if (auto address = textProperty(backend_->property(key, property::deviceAddress)))
        info.bluetoothAddress = smk::nonEmpty(*address);
    info.locationID = integerProperty(backend_->property(key, property::locationID)).value_or(0);
    info.enabled = true;
    info.state = "closed";
    info.knowledge = model->knowledge;
    info.buttons = model->buttons();
    info.axisFullScale = model->axisFullScale;
    info.hasLED = model->hasStatusLED;
    auto interface = interfaceNumber(*backend_, key);

    auto reportID = model->serialFeatureReportID();
    if (!info.serialNumber && reportID)
        readSerialNumber(key, *model, std::move(info), interface, *reportID);
    else
        registerDevice(key, *model, std::move(info), interface);
}

void Devices::readSerialNumber(DeviceKey key, smk::SpaceMouseModel model, SpaceMouseDevice info,
                               std::optional<std::int64_t> interface, std::uint8_t reportID) {
    auto read = ++reads_;
    pending_[key] = read;
    std::optional<ControlPipe> pipe;
    if (info.isUSB()) pipe = ControlPipe{info.locationID.value_or(0), interface.value_or(0)};
    HIDBackend* backend = backend_.get();
    std::weak_ptr<bool> alive = alive_;
    inBackground([=, this]() -> std::function<void()> {
        auto bytes = getFeature(*backend, key, reportID, 8, nullptr);
        if (!bytes && pipe) bytes = getFeatureOverControlPipe(*backend, *pipe, reportID, 8);
        std::optional<std::string> serial;
        if (bytes) serial = smk::SpaceMouseReport::serialNumber(*bytes);
        return [=, this]() mutable {
            if (alive.expired()) return;
            auto it = pending_.find(key);
            // The device vanished meanwhile (and perhaps another took its key).
            if (it == pending_.end() || it->second != read) return;
            pending_.erase(it);
            info.serialNumber = serial;
            registerDevice(key, model, std::move(info), interface);
        };
    });
}

void Devices::registerDevice(DeviceKey key, const smk::SpaceMouseModel& model,
                             SpaceMouseDevice info, std::optional<std::int64_t> interface) {
    if (entries_.count(key)) return;
    std::optional<std::int64_t> slot;
    if (info.productID == smk::SpaceMouseModel::universalReceiverProductID) slot = interface;
    info.id = identity(info, slot);
    std::string id = info.id;
    std::string transport = info.transport;
    bool withoutSerial = !info.serialNumber;
    entries_[key] = Entry{std::move(info), model, interface, nullptr, nullptr, 0};
    log("device appeared: " + model.description() + " " + id + " (" + transport + ")");
    if (withoutSerial)
        if (auto reportID = model.serialFeatureReportID())
            log("no serial number from feature report " + std::to_string(*reportID) + " of " + id +
                ": told apart by its port only");
    if (wanted_) open(key);
    onChange();
}

void Devices::vanished(DeviceKey key) {
    managed_.erase(key);
    pending_.erase(key);
    auto it = entries_.find(key);
    if (it == entries_.end()) return;
    close(key);
    it = entries_.find(key);
    if (it == entries_.end()) return;
    std::string line = "device gone: " + it->second.info.name + " " + it->second.info.id;
    entries_.erase(it);
    log(line);
    onChange();
}

void Devices::open(DeviceKey key) {
    auto it = entries_.find(key);
    if (it == entries_.end() || it->second.device) return;
    int attempt = it->second.attempt;
    auto handle = backend_->makeHandle(key);
    if (!handle) {
        it->second.info.state = "not reachable";
        return;
    }
    std::size_t size = minimumInputBuffer;
    if (auto max = integerProperty(handle->property(property::maxInputReportSize)))
        size = static_cast<std::size_t>(
            std::clamp<std::int64_t>(*max, static_cast<std::int64_t>(minimumInputBuffer),
                                     static_cast<std::int64_t>(largestReport)));

    const std::string id = it->second.info.id;
    std::weak_ptr<bool> alive = alive_;
    auto reports = std::make_shared<Reports>(
        size, it->second.model,
        [this, alive, id](std::span<const std::uint8_t> bytes) {
            if (!alive.expired() && wantsReports() && isEnabled(id))
                onReport(id, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        },
        [this, alive, id](const smk::SpaceMouseAxes& axes) {
            if (!alive.expired() && isEnabled(id)) onAxes(id, axes);
        },
        [this, alive, id](smk::SpaceMouseButtons buttons) {
            if (!alive.expired() && isEnabled(id)) onButtons(id, buttons);
        },
        [this, alive, key](int percent, bool charging) {
            if (!alive.expired()) battery(key, percent, charging);
        },
        [this, alive, id](const smk::SpaceMouseAxes& rest) {
            if (!alive.expired()) log(id + ": the cap rests at " + rest.description());
        },
        [this] { return loop_.now(); });
    std::weak_ptr<Reports> decoder = reports;
    handle->setInputHandler(reports->buffer(), reports->size(),
                            [decoder](const std::uint8_t* bytes, std::size_t length) {
                                if (auto reports = decoder.lock()) reports->ingest({bytes, length});
                            });

    HIDResult result = handle->open(true);
    it = entries_.find(key); // the open does not call back, but stay safe against reentry
    if (it == entries_.end()) {
        cancel(handle, reports);
        return;
    }
    auto& entry = it->second;
    if (result == hidSuccess) {
        handle->activate();
        entry.device = handle;
        entry.reports = reports;
        entry.info.state = "open";
        entry.attempt = 0;
        log("seized " + id);
        onChange();
        return;
    }
    cancel(handle, reports);
    handle->activate();
    std::string state =
        result == exclusiveAccess ? "busy" : fmt::format("open failed (0x{:08X})", result);
    entry.info.state = state;
    if (attempt == 0) log("seize " + id + ": " + state);
    if (result == exclusiveAccess && attempt < busyRetries) {
        entry.attempt += 1;
        loop_.after(busyRetryDelay, [this, alive, key] {
            if (!alive.expired() && wanted_) open(key);
        });
    } else {
        onChange();
    }
}

void Devices::close(DeviceKey key) {
    auto it = entries_.find(key);
    if (it == entries_.end() || !it->second.device || !it->second.reports) return;
    auto& entry = it->second;
    auto device = std::move(entry.device);
    auto reports = std::move(entry.reports);
    entry.device = nullptr;
    entry.reports = nullptr;
    device->close();
    cancel(device, std::move(reports));
    entry.info.state = "closed";
    log("released " + entry.info.id);
    onChange();
}

void Devices::cancel(const std::shared_ptr<HIDHandle>& device, std::shared_ptr<Reports> reports) {
    device->cancel();
    // A report being handled right now may be what led here: the handle and its decoder (with
    // the buffer it reads from) live until the loop has finished the current task.
    loop_.post([device, reports] {});
}

void Devices::battery(DeviceKey key, int percent, bool charging) {
    auto it = entries_.find(key);
    if (it == entries_.end()) return;
    auto& info = it->second.info;
    if (info.battery == percent && info.charging == charging) return;
    info.battery = percent;
    info.charging = charging;
    onChange();
}

std::optional<std::string> Devices::setLED(bool on, const std::string& id) {
    auto found = lookup(id);
    if (!found) return "no such device";
    auto [key, entry] = *found;
    if (entry->model.statusLEDNeedsCable() && entry->info.isBluetooth())
        return "the LED lights only on the USB cable";
    const std::uint8_t output[2] = {4, static_cast<std::uint8_t>(on ? 1 : 0)};
    HIDResult result = hidSuccess;
    if (entry->device) {
        result = entry->device->setOutputReport(4, output, sizeof output);
    } else {
        auto handle = backend_->makeHandle(key);
        if (!handle || handle->open(true) != hidSuccess) return "device busy";
        result = handle->setOutputReport(4, output, sizeof output);
        handle->close();
    }
    if (result != hidSuccess) return fmt::format("LED not switched (0x{:08X})", result);
    auto it = entries_.find(key);
    if (it != entries_.end()) it->second.info.led = on;
    onChange();
    return std::nullopt;
}

} // namespace kestrix::core
