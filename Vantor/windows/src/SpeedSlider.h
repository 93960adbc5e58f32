#pragma once

#include <QWidget>

class QSlider;

namespace vantor {

// A slider over the speed positions 0...1, optionally between the captions "Slow" and "Fast".
// The slider's integer steps are fine enough that every two-decimal speed survives the trip from
// the model to the slider and back.
class SpeedSlider : public QWidget {
    Q_OBJECT

public:
    static constexpr int steps = 10000;

    explicit SpeedSlider(bool withCaptions, QWidget* parent = nullptr);

    QSlider* slider() const { return slider_; }
    // Shows the position without reporting it.
    void setPosition(double position);
    double position() const;

    static int step(double position);
    static double position(int step) { return double(step) / steps; }

Q_SIGNALS:
    // A position the user chose.
    void moved(double position);

private:
    QSlider* slider_;
};

} // namespace vantor
