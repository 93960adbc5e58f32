#pragma once

#include "ScrollCore/AxisMapping.h"
#include "ScrollCore/ScrollSettings.h"

#include <QString>

// The texts the app shows for the engine's enumerations, in menus and windows alike; each is
// translated (context "Vantor") with its English wording as the source text.
namespace vantor {

// "Direct", "Balanced", "Precise".
QString title(scroll::ScrollSettings::Response response);
// One sentence on how the response feels, starting with its title.
QString explanation(scroll::ScrollSettings::Response response);
// "No momentum", "Short momentum", "Medium momentum", "Long momentum".
QString title(scroll::ScrollSettings::Momentum momentum);
// "Slide left and right", ... "Push and pull".
QString title(scroll::AxisMapping::Movement movement);
// "Scroll horizontally", "Scroll vertically", "Zoom", "Rotate".
QString title(scroll::AxisMapping::Role role);
// "Invert horizontal scrolling", ... "Invert rotation".
QString invertTitle(scroll::AxisMapping::Role role);

} // namespace vantor
