// Cost of one line each way for the messages that flow most: `axes` at the device's report rate,
// and `devices` (two devices) whenever the device list changes.

#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"

#include <benchmark/benchmark.h>
#include <string>

using namespace kestrix;

namespace {

BrokerMessage axesMessage() {
    return BrokerMessage{BrokerMessage::Axes{"serial:ABC123", {12, -3, 0, 0, 5, -40}}};
}

SpaceMouseDevice device(std::string id, std::int64_t product, std::string name) {
    SpaceMouseDevice device;
    device.id = std::move(id);
    device.vendorID = 0x256F;
    device.productID = product;
    device.name = std::move(name);
    device.transport = "USB";
    device.serialNumber = "ABC123";
    device.locationID = 336592896;
    device.battery = 80;
    device.charging = false;
    device.enabled = true;
    device.state = "open";
    device.led = true;
    device.knowledge = smk::SpaceMouseModel::Knowledge::checked;
    device.buttons = smk::SpaceMouseButtons(3);
    device.axisFullScale = 350;
    device.hasLED = true;
    return device;
}

BrokerMessage devicesMessage() {
    return BrokerMessage{
        BrokerMessage::Devices{{device("serial:ABC123", 0xC635, "SpaceMouse Compact"),
                                device("bt:aa:bb:cc:dd:ee:ff", 0xC63A, "SpaceMouse Wireless")}}};
}

void encode(benchmark::State& state, const BrokerMessage& message) {
    for (auto _ : state) {
        std::string line = LineEncoder::encode(message);
        benchmark::DoNotOptimize(line);
    }
    state.SetBytesProcessed(state.iterations() * LineEncoder::encode(message).size());
}

void decode(benchmark::State& state, const BrokerMessage& message) {
    std::string line = LineEncoder::encode(message);
    LineDecoder<BrokerMessage> decoder;
    for (auto _ : state) {
        auto messages = decoder.feed(line);
        benchmark::DoNotOptimize(messages);
    }
    state.SetBytesProcessed(state.iterations() * line.size());
}

void encodeAxes(benchmark::State& state) {
    encode(state, axesMessage());
}
void decodeAxes(benchmark::State& state) {
    decode(state, axesMessage());
}
void encodeDevices(benchmark::State& state) {
    encode(state, devicesMessage());
}
void decodeDevices(benchmark::State& state) {
    decode(state, devicesMessage());
}

} // namespace

BENCHMARK(encodeAxes);
BENCHMARK(decodeAxes);
BENCHMARK(encodeDevices);
BENCHMARK(decodeDevices);
