#pragma once

#include "KestrixCore/ConnexionAPI.h"
#include "KestrixCore/DriverRetry.h"
#include "KestrixProtocol/MainLoop.h"
#include "SpaceMouseKit/ConnexionDeviceState.h"
#include "SpaceMouseKit/SpaceMouseAxes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrix::core {

// The broker's client of the device driver (spacenavd, through the driver library): registers
// as a manual client, activates or deactivates itself as the broker's arbiter wants, and turns
// the driver's device-state messages into axes and button events. Main thread only.
//
// The library's plain-function callbacks carry no context, so they reach the client through the
// process-wide registration owner (`current`); there is at most one registration per process.
// They come from the library's own thread and hop to the main loop with MainLoop::post.
//
// The library calls that wait on the daemon (registering, the controls) run on a thread of the
// client's own, one after the other; their results hop to the loop the same way. Loading, the
// handlers and unregistering stay on the loop, which waits only when a stop has to let a call
// under way end first.
//
// Whether the driver runs at all is DriverWatch's business (KestrixCore/DriverWatch.h).
class DriverClient {
public:
    // The environment variable that names the driver library in place of the one beside the
    // broker's executable.
    static constexpr const char* libraryVariable = "KESTRIX_DRIVER_LIBRARY";
    // The file name of the driver library, installed beside the broker's executable.
    static constexpr const char* libraryFileName = "libkestrix-driver.so";

    explicit DriverClient(MainLoop& loop);
    ~DriverClient();
    DriverClient(const DriverClient&) = delete;
    DriverClient& operator=(const DriverClient&) = delete;

    // Axes from the driver.
    std::function<void(const smk::SpaceMouseAxes&)> onAxes = [](const smk::SpaceMouseAxes&) {};
    // Buttons from the driver, as the driver's bit mask.
    std::function<void(std::uint32_t)> onButtons = [](std::uint32_t) {};
    // One log line.
    std::function<void(const std::string&)> log = [](const std::string&) {};
    // The registration changed (registered, stopped, failed).
    std::function<void()> onChange = [] {};

    // Loads the driver library; replaced by tests with a fake. Throws ConnexionAPI::LoadError.
    std::function<ConnexionAPI(const std::string&)> loader = &ConnexionAPI::load;
    // The path handed to `loader`; frameworkPath() unless changed.
    std::string libraryPath = frameworkPath();

    // The loaded library: present exactly while registered (and during the registration).
    const std::optional<ConnexionAPI>& api() const { return api_; }
    // The library's client id; 0 = not registered.
    std::uint16_t clientID() const { return clientID_; }
    // The broker wants the driver's events for its holder.
    bool wanted() const { return wanted_; }
    // The client is activated at the driver.
    bool active() const { return active_; }
    // A registration attempt is scheduled.
    bool starting() const { return starting_; }
    // The library is loaded and registering, on the client's thread; the result comes back
    // through the loop.
    bool registering() const { return registering_; }
    // Generation of scheduled attempts.
    std::uint64_t scheduled() const { return scheduled_; }
    const DriverRetry& retry() const { return retry_; }

    // Schedules a registration 1.0 s from now unless loaded or already scheduled.
    void start();
    // Unregisters (deactivating first), voids any scheduled attempt and resets the retry state.
    void stop();
    // Whether the broker wants the driver's events; a failed client whose last failure is at
    // least 10 s old tries again at once.
    void want(bool on);
    // Switches the device's status LED through the driver, while registered. Of the requests
    // made while one is under way only the last is sent after it.
    void setLED(bool on);

    // A control still unanswered after callTimeout seconds is logged once.
    static constexpr double callTimeout = 2.0;
    // Controls handed to that thread whose results have not come back yet.
    int pendingCalls() const { return int(sent_ - answered_); }

    // $KESTRIX_DRIVER_LIBRARY when set and not empty, else libkestrix-driver.so in the folder of
    // the running executable.
    static std::string frameworkPath();

private:
    void schedule(double delay);
    void registerClient();
    void failed(const std::string& reason);
    void updateActivation();
    void control(std::uint32_t code, std::int32_t parameter = 0);
    void controlled(std::uint64_t serial, std::uint32_t code, std::int16_t result);
    void finishCalls();
    std::uint16_t endCalls();
    void registered(std::uint64_t registration, std::uint16_t id);
    void received(const smk::ConnexionDeviceState& state);
    void releaseLibrary();

    static void messageHandler(std::uint32_t unused, std::uint32_t type, void* argument);
    static void addedHandler(std::uint32_t deviceID);
    static void removedHandler(std::uint32_t deviceID);
    static void deviceChanged(std::uint32_t deviceID, const char* change);

    MainLoop& loop_;
    std::optional<ConnexionAPI> api_;
    std::uint16_t clientID_ = 0;
    bool wanted_ = false;
    bool active_ = false;
    bool starting_ = false;
    std::uint64_t scheduled_ = 0;
    DriverRetry retry_;
    class Calls;
    std::unique_ptr<Calls> calls_; // present while the library is loaded
    std::uint64_t sent_ = 0;       // controls handed to the calls' thread
    std::uint64_t answered_ = 0;   // controls whose result came back (they come in order)
    bool ledUnderWay_ = false;
    bool registering_ = false;
    std::uint64_t registrations_ = 0; // bumped by each registration and by its end
    // The id the registration under way got, once it has one.
    std::shared_ptr<std::atomic<std::uint16_t>> registeredID_;
    std::optional<bool> nextLED_; // asked for while an LED request was under way
    // Scheduled attempts hold this weakly, so that one due after the client is gone does nothing.
    std::shared_ptr<DriverClient*> self_;
};

} // namespace kestrix::core
