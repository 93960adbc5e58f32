#include "ScrollCore/DevicePolicy.h"

namespace scroll::DevicePolicy {

AppChoice choice(const std::string& app, const std::set<std::string>& allowed,
                 const std::set<std::string>& excluded) {
    if (excluded.contains(app)) return AppChoice::off;
    if (allowed.contains(app)) return AppChoice::on;
    return AppChoice::unconfigured;
}

bool takesDevice(const std::optional<std::string>& frontmost, const std::set<std::string>& allowed,
                 const std::set<std::string>& excluded) {
    if (!frontmost || excluded.contains(*frontmost)) return false;
    return allowed.contains(*frontmost);
}

} // namespace scroll::DevicePolicy
