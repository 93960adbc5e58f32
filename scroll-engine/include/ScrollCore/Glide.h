#pragma once

namespace scroll {

// The momentum filter. It keeps the last scroll velocity, lets it decay exponentially once the
// input stops, lets a faster glide win over a slower push in the same direction, and says when
// its output is pure glide (coasting).
struct Glide {
    struct Output {
        double x;
        double y;
        bool coasting;
        friend bool operator==(const Output&, const Output&) = default;
    };

    double timeConstant; // seconds; 0 means no momentum
    double stopSpeed;    // pixels per second; a coasting glide slower than this stops
    double x = 0;        // current glide velocity, pixels per second
    double y = 0;

    Glide(double timeConstant, double stopSpeed)
        : timeConstant(timeConstant)
        , stopSpeed(stopSpeed) {}

    // Input velocities in pixels per second, deltaTime in seconds.
    Output apply(double inputX, double inputY, double deltaTime);
    // Clears the velocity, keeps the parameters.
    void reset() { x = y = 0; }

    friend bool operator==(const Glide&, const Glide&) = default;
};

} // namespace scroll
