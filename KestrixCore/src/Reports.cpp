#include "KestrixCore/Reports.h"

#include "SpaceMouseKit/SpaceMouseReport.h"

namespace kestrix::core {

namespace Report = smk::SpaceMouseReport;

Reports::Reports(std::size_t size, smk::SpaceMouseModel model, ReportHandler onReport,
                 AxesHandler onAxes, ButtonsHandler onButtons, BatteryHandler onBattery,
                 AxesHandler onRest, Clock clock)
    : buffer_(new std::uint8_t[size]())
    , size_(size)
    , model_(std::move(model))
    , onReport_(std::move(onReport))
    , onAxes_(std::move(onAxes))
    , onButtons_(std::move(onButtons))
    , onBattery_(std::move(onBattery))
    , onRest_(std::move(onRest))
    , clock_(std::move(clock)) {}

void Reports::ingest(std::span<const std::uint8_t> bytes) {
    onReport_(bytes);
    if (auto held = Report::buttons(bytes, model_)) {
        if (*held != buttons_) {
            buttons_ = *held;
            onButtons_(*held);
        }
        return;
    }
    if (auto battery = Report::battery(bytes)) {
        // Every reading goes out; the device layer drops repeats.
        onBattery_(battery->percent, battery->charging);
        return;
    }
    if (!Report::take(bytes, pending_)) return;
    // A translation-only report waits in `pending` for the rotation report that completes it.
    if (!Report::completes(bytes)) return;
    auto before = rest_.rest();
    auto corrected = rest_.corrected(pending_, clock_());
    if (rest_.rest() != before) onRest_(rest_.rest());
    onAxes_(corrected);
}

} // namespace kestrix::core
