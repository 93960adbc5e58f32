#include "SpeedSlider.h"

#include "VantorWindows/TextStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace vantor {

SpeedSlider::SpeedSlider(bool withCaptions, QWidget* parent)
    : QWidget(parent)
    , slider_(new QSlider(Qt::Horizontal, this)) {
    slider_->setRange(0, steps);
    slider_->setSingleStep(steps / 100);
    slider_->setPageStep(steps / 10);
    slider_->setAccessibleName(tr("Speed"));
    slider_->setMinimumWidth(120);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto caption = [this](const QString& text) {
        auto* label = new QLabel(text, this);
        label->setFont(style::callout());
        style::makeSecondary(label);
        return label;
    };
    if (withCaptions)
        row->addWidget(caption(tr("Slow")));
    row->addWidget(slider_, 1);
    if (withCaptions)
        row->addWidget(caption(tr("Fast")));
    connect(slider_, &QSlider::valueChanged, this,
            [this](int value) { Q_EMIT moved(position(value)); });
}

int SpeedSlider::step(double position) {
    if (!std::isfinite(position))
        return position > 0 ? steps : 0;
    return int(std::lround(std::clamp(position, 0.0, 1.0) * steps));
}

void SpeedSlider::setPosition(double position) {
    const QSignalBlocker quiet(slider_);
    slider_->setValue(step(position));
}

double SpeedSlider::position() const { return position(slider_->value()); }

} // namespace vantor
