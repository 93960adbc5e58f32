// Feeds arbitrary bytes to the report decoders, the driver's device-state record and the cap
// rest learner.

#include "SpaceMouseKit/CapRest.h"
#include "SpaceMouseKit/ConnexionDeviceState.h"
#include "SpaceMouseKit/SpaceMouseReport.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace R = smk::SpaceMouseReport;
    const std::span<const std::uint8_t> report(data, size);

    smk::SpaceMouseAxes axes;
    const smk::SpaceMouseAxes before = axes;
    if (!R::take(report, axes) && axes != before) std::abort();
    (void)R::completes(report);

    const auto bits = R::buttonBits(report);
    for (const auto& model : smk::SpaceMouseModel::known()) {
        const auto buttons = R::buttons(report, model);
        const auto unknown = R::unknownBit(report, model);
        if (buttons.has_value() != bits.has_value()) std::abort();
        if (unknown && model.buttonBits.count(*unknown) != 0) std::abort();
    }
    if (const auto battery = R::battery(report)) {
        if (battery->percent < 0 || battery->percent > 100) std::abort();
    }
    (void)R::serialNumber(report);

    (void)smk::ConnexionDeviceState::read(std::as_bytes(report));

    // Six-axis samples from consecutive 16-bit pairs, a tenth of a second apart.
    smk::CapRest cap;
    double time = 0;
    for (std::size_t offset = 0; offset + 13 <= size; offset += 13) {
        smk::SpaceMouseAxes sample;
        if (R::take(report.subspan(offset, 13), sample)) (void)cap.corrected(sample, time);
        time += 0.1;
    }
    return 0;
}
