#include "VantorModels/CanvasModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vantor {

CanvasModel::CanvasModel(double rotation, double scale, QObject* parent)
    : QObject(parent)
    , scale_(scale)
    , rotation_(rotation) {}

void CanvasModel::post(const scroll::ScrollStep& step) {
    double theta = -rotation_ * std::numbers::pi / 180.0;
    auto x = static_cast<double>(step.x);
    auto y = static_cast<double>(step.y);
    setCenter({center_.x + (std::cos(theta) * x - std::sin(theta) * y) / scale_,
               center_.y + (std::sin(theta) * x + std::cos(theta) * y) / scale_});
}

void CanvasModel::post(const scroll::GestureStep& step, scroll::GestureKind kind) {
    switch (kind) {
    case scroll::GestureKind::zoom:
        setScale(std::clamp((step.amount + 1.0) * scale_, minimumScale, maximumScale));
        break;
    case scroll::GestureKind::rotate:
        setRotation(std::fmod(rotation_ + step.amount, 360.0));
        break;
    }
}

void CanvasModel::reset() {
    setCenter({});
    setScale(1.0);
    setRotation(0.0);
}

void CanvasModel::setCenter(CanvasPoint center) {
    // A step from a not-a-number amount must not leave the canvas where it can never return.
    if (center == center_ || !std::isfinite(center.x) || !std::isfinite(center.y)) return;
    center_ = center;
    Q_EMIT centerChanged();
}

void CanvasModel::setScale(double scale) {
    if (scale == scale_ || std::isnan(scale)) return;
    scale_ = scale;
    Q_EMIT scaleChanged();
}

void CanvasModel::setRotation(double rotation) {
    if (rotation == rotation_ || !std::isfinite(rotation)) return;
    rotation_ = rotation;
    Q_EMIT rotationChanged();
}

} // namespace vantor
