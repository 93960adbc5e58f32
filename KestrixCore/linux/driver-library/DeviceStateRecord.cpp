#include "DeviceStateRecord.h"

#include <algorithm>

namespace kestrix::driver {

namespace {

using Record = std::array<std::uint8_t, DeviceStateRecord::size>;

void put(Record& record, std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        record[at + i] = std::uint8_t(value >> (8 * i));
}

Record header(std::uint16_t client, std::uint16_t command, std::uint64_t time) {
    Record record{};
    put(record, 0, DeviceStateRecord::version, 2);
    put(record, 2, client, 2);
    put(record, 4, command, 2);
    put(record, 12, time, 8);
    return record;
}

} // namespace

Record DeviceStateRecord::axes(std::uint16_t client, const std::array<int, 6>& axes,
                               std::uint64_t time) {
    Record record = header(client, axesCommand, time);
    for (std::size_t i = 0; i < axes.size(); ++i) {
        const int value = std::clamp(axes[i], -32768, 32767);
        put(record, 30 + 2 * i, std::uint16_t(std::int16_t(value)), 2);
    }
    return record;
}

Record DeviceStateRecord::buttons(std::uint16_t client, std::uint32_t bits, std::uint64_t time) {
    Record record = header(client, buttonsCommand, time);
    put(record, 28, bits & 0xFFFF, 2);
    put(record, 44, bits, 4);
    return record;
}

} // namespace kestrix::driver
