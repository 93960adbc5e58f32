#pragma once

#include "Vantor/EventPosting.h"

#include <QObject>

namespace vantor {

// A point on the preview canvas, in canvas units.
struct CanvasPoint {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const CanvasPoint&, const CanvasPoint&) = default;
};

// The preview canvas: an endless checkerboard that the Scroller's steps move, zoom and rotate
// instead of the app in front. Each field signals only when its value really changes.
class CanvasModel final : public QObject, public EventPosting {
    Q_OBJECT

public:
    static constexpr double minimumScale = 0.25;
    static constexpr double maximumScale = 8.0;

    // Centre (0, 0); rotation in degrees.
    explicit CanvasModel(double rotation = 0.0, double scale = 1.0, QObject* parent = nullptr);

    // The canvas point shown at the middle of the view.
    CanvasPoint center() const { return center_; }
    // Magnification, kept within minimumScale ... maximumScale by zoom steps.
    double scale() const { return scale_; }
    // Rotation of the canvas in degrees, within -360 ... 360 exclusive after a rotate step.
    double rotation() const { return rotation_; }

    // Moves the centre by the step's pixels, turned by the rotation and divided by the scale.
    void post(const scroll::ScrollStep& step) override;
    // Zoom multiplies the scale by (1 + amount); rotate adds the amount to the rotation.
    void post(const scroll::GestureStep& step, scroll::GestureKind kind) override;

    // Back to the start: centre (0, 0), scale 1, rotation 0.
    void reset();

Q_SIGNALS:
    void centerChanged();
    void scaleChanged();
    void rotationChanged();

private:
    void setCenter(CanvasPoint center);
    void setScale(double scale);
    void setRotation(double rotation);

    CanvasPoint center_;
    double scale_ = 1.0;
    double rotation_ = 0.0;
};

} // namespace vantor
