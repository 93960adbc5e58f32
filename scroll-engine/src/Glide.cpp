#include "ScrollCore/Glide.h"

#include <cmath>

namespace scroll {

namespace {

// One axis while the user pushes: the push replaces the glide unless the glide runs faster in
// the same direction (a flick followed by a gentler push keeps its speed).
double merged(double input, double glide) {
    if (input == 0) return glide;
    if (glide == 0 || (input > 0) != (glide > 0)) return input;
    return std::abs(glide) > std::abs(input) ? glide : input;
}

} // namespace

Glide::Output Glide::apply(double inputX, double inputY, double deltaTime) {
    if (!(timeConstant > 0)) {
        x = inputX;
        y = inputY;
        return {inputX, inputY, false};
    }
    const double decay = std::exp(-(deltaTime > 0 ? deltaTime : 0.0) / timeConstant);
    const double gx = decay * x;
    const double gy = decay * y;
    if (inputX == 0 && inputY == 0) {
        x = gx;
        y = gy;
        if (std::hypot(gx, gy) < stopSpeed) {
            reset();
            return {0, 0, false};
        }
        return {gx, gy, gx != 0 || gy != 0};
    }
    x = merged(inputX, gx);
    y = merged(inputY, gy);
    return {x, y, false};
}

} // namespace scroll
