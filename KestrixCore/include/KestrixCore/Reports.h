#pragma once

#include "SpaceMouseKit/CapRest.h"
#include "SpaceMouseKit/SpaceMouseAxes.h"
#include "SpaceMouseKit/SpaceMouseButtons.h"
#include "SpaceMouseKit/SpaceMouseModel.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace kestrix::core {

// The report handling of one seized SpaceMouse: raw bytes first, then button changes, battery
// readings, or six-axis samples merged from translation and rotation reports and corrected by
// the cap's learned rest. One object per seize, so its state starts fresh each time.
class Reports {
public:
    using ReportHandler = std::function<void(std::span<const std::uint8_t>)>;
    using AxesHandler = std::function<void(const smk::SpaceMouseAxes&)>;
    using ButtonsHandler = std::function<void(smk::SpaceMouseButtons)>;
    using BatteryHandler = std::function<void(int percent, bool charging)>;
    using Clock = std::function<double()>;

    // `size` is the size of the input buffer that the device's reports are read into.
    Reports(std::size_t size, smk::SpaceMouseModel model, ReportHandler onReport,
            AxesHandler onAxes, ButtonsHandler onButtons, BatteryHandler onBattery,
            AxesHandler onRest, Clock clock);
    Reports(const Reports&) = delete;
    Reports& operator=(const Reports&) = delete;

    std::uint8_t* buffer() { return buffer_.get(); }
    std::size_t size() const { return size_; }

    // One input report (byte 0 is its id), on the main loop.
    void ingest(std::span<const std::uint8_t> bytes);

private:
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t size_;
    smk::SpaceMouseModel model_;
    ReportHandler onReport_;
    AxesHandler onAxes_;
    ButtonsHandler onButtons_;
    BatteryHandler onBattery_;
    AxesHandler onRest_;
    Clock clock_;
    smk::SpaceMouseAxes pending_;
    smk::CapRest rest_;
    smk::SpaceMouseButtons buttons_;
};

} // namespace kestrix::core
