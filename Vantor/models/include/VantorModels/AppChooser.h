#pragma once

#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

// Asks the user for applications to add to the Apps tab. The windows show a dialog; tests
// answer without one.
class AppChooser {
public:
    virtual ~AppChooser() = default;
    // The desktop-file ids of the chosen apps, or nothing when the user cancels. `message`
    // says what the choice is for.
    virtual std::optional<std::vector<std::string>> chooseApps(const QString& message) = 0;
};

} // namespace vantor
