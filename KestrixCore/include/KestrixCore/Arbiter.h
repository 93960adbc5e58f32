#pragma once

#include "KestrixProtocol/ProtocolRecords.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::core {

// One connected client that claims the device.
struct Claimant {
    int id = 0;                 // the client id given at acceptance
    std::int32_t processID = 0; // from the client's hello
    Claim claim;
    int connected = 0; // connection order; the broker uses the client id, so it is unique
    // The broker's arbitration count when this claimant last won through the app in front.
    std::optional<int> lastFrontUse;

    bool operator==(const Claimant&) const = default;
};

// The rules that pick the client holding the SpaceMouse. Pure: the broker gathers the claimants and
// what it knows of the app in front and asks on every arbitration.
struct Arbiter {
    struct Decision {
        std::optional<int> holder; // claimant id, absent for nobody
        bool throughFront = false; // won as a claimant of the app in front
        bool operator==(const Decision&) const = default;
    };

    // A claimant naming the app in front beats every background claim; among those the one running
    // as the front process wins, else the one connected first. Among background claims: those not
    // asking to come last, then the most recent front user, then the one connected first.
    static Decision decide(const std::vector<Claimant>& claimants,
                           const std::optional<std::string>& frontmostApp,
                           std::optional<std::int32_t> frontmostProcess);

    // The apps that run a client of their own which claims the device for that very app, sorted,
    // each once.
    static std::vector<std::string>
    appsWithOwnClient(const std::vector<Claimant>& claimants,
                      const std::function<std::optional<std::string>(std::int32_t)>& bundleID);
};

} // namespace kestrix::core
