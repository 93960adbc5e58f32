// The broker's driver mode: while spacenavd runs it owns the devices (it grabs them), so the
// broker releases them and reads the device through the driver client instead. A health check
// every 5 s turns a daemon that never starts answering, or a registration that keeps failing,
// into a driver problem shown on every listed device.
#include "KestrixCore/Broker.h"
#include "KestrixProtocol/LineConnection.h"
#include "KestrixProtocol/MainLoop.h"

namespace kestrix::core {

namespace {
constexpr double healthInterval = 5.0;
// How long the daemon may take to open its socket before the devices say so.
constexpr double launchPatience = 30.0;
// Registration failures tolerated before the devices say so (the third one shows).
constexpr std::int64_t failuresTolerated = 2;
} // namespace

void Broker::updateDriverMode() {
    bool mode = parts_.driverWatch->helper().has_value();
    if (mode == driverMode_) return;
    driverMode_ = mode;
    parts_.devices->setDriverHolds(mode);
    say(mode ? "spacenavd runs: through the driver" : "spacenavd gone: seizing again");
    if (mode) {
        helperSeen_ = loop_.now();
        parts_.devices->want(false);
        parts_.driver->start();
        ++healthChecks_;
        scheduleHealthCheck();
    } else {
        helperSeen_.reset();
        parts_.driver->stop();
    }
    updateDriverProblem(false);
    arbitrate();
    devicesChanged();
}

// One link of the chain; a check whose generation is no longer current ends it.
void Broker::scheduleHealthCheck() {
    std::uint64_t generation = healthChecks_;
    std::weak_ptr<Broker*> self = self_;
    loop_.after(healthInterval, [self, generation] {
        auto b = self.lock();
        if (!b) return;
        Broker& broker = **b;
        if (!broker.driverMode_ || generation != broker.healthChecks_) return;
        broker.updateDriverProblem(true);
        ++broker.healthChecks_;
        broker.scheduleHealthCheck();
    });
}

void Broker::updateDriverProblem(bool announce) {
    std::optional<DriverWatch::Helper> helper;
    if (driverMode_) helper = parts_.driverWatch->helper();
    double now = loop_.now();
    std::optional<DriverProblem> problem;
    if (helper) {
        double since = helper->launched ? *helper->launched : helperSeen_ ? *helperSeen_ : now;
        const BrokerDriver& driver = *parts_.driver;
        if (!helper->finishedLaunching && now - since >= launchPatience) {
            auto launched = parts_.wallClock() -
                            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                std::chrono::duration<double>(now - since));
            problem = DriverProblem{std::string(DriverProblem::helperNotResponding),
                                    "spacenavd has not finished launching (launched " +
                                        stamp(launched) + ")"};
        } else if (driver.clientID() == 0 && driver.failures() > failuresTolerated) {
            problem = DriverProblem{std::string(DriverProblem::driverNotAnswering),
                                    "the registration with spacenavd keeps failing: " +
                                        driver.lastReason().value_or("unknown")};
        }
    }
    std::optional<DriverProblem> before = parts_.devices->driverProblem();
    if (problem == before) return;
    parts_.devices->setDriverProblem(problem);
    if (problem)
        say("driver problem: " + problem->detail);
    else if (before)
        say("driver problem over");
    if (announce) devicesChanged();
}

std::optional<SpaceMouseDevice> Broker::driverDevice() const {
    for (const auto& device : parts_.devices->list())
        if (device.enabled) return device;
    return std::nullopt;
}

// The driver's events carry no device identity: they belong to the first enabled device.
void Broker::driverAxes(const smk::SpaceMouseAxes& axes) {
    auto device = driverDevice();
    Client* holder = holderClient();
    if (device && holder)
        holder->connection->send(BrokerMessage{BrokerMessage::Axes{device->id, axes}});
}

void Broker::driverButtons(std::uint32_t bits) {
    auto device = driverDevice();
    if (!device) return;
    auto model = parts_.devices->model(device->id);
    smk::SpaceMouseButtons held = model ? model->buttons(bits) : smk::SpaceMouseButtons{};
    toHolder(BrokerMessage{BrokerMessage::Buttons{device->id, held}});
}

} // namespace kestrix::core
