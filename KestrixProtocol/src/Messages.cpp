#include "KestrixProtocol/Messages.h"

#include "JsonFields.h"

#include <array>
#include <nlohmann/json.hpp>
#include <string_view>

namespace kestrix {

using nlohmann::json;
using namespace jsonfields;

namespace {

// Case names in the order of the variants' alternatives.
constexpr std::array<const char*, std::variant_size_v<ClientMessage::Case>> clientCases = {
    "hello", "claim", "setLED", "describe", "status", "takeOver"};
constexpr std::array<const char*, std::variant_size_v<BrokerMessage::Case>> brokerCases = {
    "welcome",     "devices", "holding",           "axes",       "buttons", "report",
    "description", "status",  "appsWithOwnClient", "handingOver", "refused"};

// Finds the one member of a tagged message whose name is a case name. Members with other names
// are ignored (a newer peer may add them), but two case members make the line ambiguous.
template <std::size_t N>
std::pair<std::size_t, const json*> taggedCase(const json& in,
                                               const std::array<const char*, N>& cases) {
    requireObject(in, "message");
    std::size_t found = N;
    const json* payload = nullptr;
    int count = 0;
    for (auto it = in.begin(); it != in.end(); ++it) {
        for (std::size_t i = 0; i < N; ++i) {
            if (it.key() == cases[i]) {
                found = i;
                payload = &it.value();
                ++count;
                break;
            }
        }
    }
    if (count != 1) fail("Invalid number of keys found, expected one.");
    // Also a case without payload comes as an object ({}), never as null or a bare value.
    requireObject(*payload, cases[found]);
    return {found, payload};
}

template <class T> T unlabelled(const json& payload) {
    T value{};
    required(payload, "_0", value);
    return value;
}

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

json single(const json& value) {
    return json{{"_0", value}};
}

} // namespace

const char* caseName(const ClientMessage& message) {
    return clientCases[message.value.index()];
}

const char* caseName(const BrokerMessage& message) {
    return brokerCases[message.value.index()];
}

// MARK: ClientMessage

void to_json(json& out, const ClientMessage& message) {
    json payload = std::visit(Overloaded{
                                  [](const Hello& hello) { return single(hello); },
                                  [](const Claim& claim) { return single(claim); },
                                  [](const ClientMessage::SetLED& m) {
                                      return json{{"device", m.device}, {"on", m.on}};
                                  },
                                  [](const ClientMessage::Describe& m) {
                                      return json{{"device", m.device}};
                                  },
                                  [](const ClientMessage::Status&) { return json::object(); },
                                  [](const ClientMessage::TakeOver& m) {
                                      return json{{"version", m.version}};
                                  },
                              },
                              message.value);
    out = json::object();
    out[caseName(message)] = std::move(payload);
}

void from_json(const json& in, ClientMessage& message) {
    auto [index, payload] = taggedCase(in, clientCases);
    const json& p = *payload;
    switch (index) {
    case 0:
        message.value = unlabelled<Hello>(p);
        return;
    case 1:
        message.value = unlabelled<Claim>(p);
        return;
    case 2: {
        ClientMessage::SetLED m;
        required(p, "device", m.device);
        required(p, "on", m.on);
        message.value = std::move(m);
        return;
    }
    case 3: {
        ClientMessage::Describe m;
        required(p, "device", m.device);
        message.value = std::move(m);
        return;
    }
    case 4:
        message.value = ClientMessage::Status{};
        return;
    case 5: {
        ClientMessage::TakeOver m;
        required(p, "version", m.version);
        message.value = m;
        return;
    }
    }
    fail("unknown case");
}

// MARK: BrokerMessage

void to_json(json& out, const BrokerMessage& message) {
    using M = BrokerMessage;
    json payload = std::visit(
        Overloaded{
            [](const M::Welcome& m) {
                return json{{"version", m.version}, {"protocolVersion", m.protocolVersion}};
            },
            [](const M::Devices& m) { return single(m.devices); },
            [](const M::Holding& m) { return single(m.holding); },
            [](const M::Axes& m) {
                return json{{"device", m.device}, {"axes", m.axes}};
            },
            [](const M::Buttons& m) {
                return json{{"device", m.device}, {"held", m.held}};
            },
            [](const M::Report& m) {
                return json{{"device", m.device}, {"bytes", m.bytes}};
            },
            [](const DeviceDescription& m) { return single(m); },
            [](const BrokerStatus& m) { return single(m); },
            [](const M::AppsWithOwnClient& m) {
                return json{{"apps", m.apps}};
            },
            [](const M::HandingOver& m) { return single(m.handingOver); },
            [](const M::Refused& m) { return json{{"reason", m.reason}}; },
        },
        message.value);
    out = json::object();
    out[caseName(message)] = std::move(payload);
}

void from_json(const json& in, BrokerMessage& message) {
    using M = BrokerMessage;
    auto [index, payload] = taggedCase(in, brokerCases);
    const json& p = *payload;
    switch (index) {
    case 0: {
        M::Welcome m;
        required(p, "version", m.version);
        required(p, "protocolVersion", m.protocolVersion);
        message.value = m;
        return;
    }
    case 1:
        message.value = M::Devices{unlabelled<std::vector<SpaceMouseDevice>>(p)};
        return;
    case 2:
        message.value = M::Holding{unlabelled<bool>(p)};
        return;
    case 3: {
        M::Axes m;
        required(p, "device", m.device);
        required(p, "axes", m.axes);
        message.value = std::move(m);
        return;
    }
    case 4: {
        M::Buttons m;
        required(p, "device", m.device);
        required(p, "held", m.held);
        message.value = std::move(m);
        return;
    }
    case 5: {
        M::Report m;
        required(p, "device", m.device);
        required(p, "bytes", m.bytes);
        message.value = std::move(m);
        return;
    }
    case 6:
        message.value = unlabelled<DeviceDescription>(p);
        return;
    case 7:
        message.value = unlabelled<BrokerStatus>(p);
        return;
    case 8: {
        M::AppsWithOwnClient m;
        required(p, "apps", m.apps);
        message.value = std::move(m);
        return;
    }
    case 9:
        message.value = M::HandingOver{unlabelled<bool>(p)};
        return;
    case 10: {
        M::Refused m;
        required(p, "reason", m.reason);
        message.value = std::move(m);
        return;
    }
    }
    fail("unknown case");
}

} // namespace kestrix
