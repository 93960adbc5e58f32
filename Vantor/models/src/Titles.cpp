#include "VantorModels/Titles.h"

#include <QCoreApplication>

namespace vantor {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("Vantor", text); }

} // namespace

QString title(scroll::ScrollSettings::Response response) {
    using R = scroll::ScrollSettings::Response;
    switch (response) {
    case R::direct: return tr("Direct");
    case R::balanced: return tr("Balanced");
    case R::precise: return tr("Precise");
    }
    return {};
}

QString explanation(scroll::ScrollSettings::Response response) {
    using R = scroll::ScrollSettings::Response;
    switch (response) {
    case R::direct:
        return tr("Direct: reacts to a light touch; the speed rises evenly with the deflection.");
    case R::balanced:
        return tr("Balanced: fine and slow at small deflections, fast towards full deflection.");
    case R::precise:
        return tr("Precise: a resting hand does nothing; small deflections creep along, full "
                  "speed only at the end.");
    }
    return {};
}

QString title(scroll::ScrollSettings::Momentum momentum) {
    using M = scroll::ScrollSettings::Momentum;
    switch (momentum) {
    case M::off: return tr("No momentum");
    case M::short_: return tr("Short momentum");
    case M::medium: return tr("Medium momentum");
    case M::long_: return tr("Long momentum");
    }
    return {};
}

QString title(scroll::AxisMapping::Movement movement) {
    using M = scroll::AxisMapping::Movement;
    switch (movement) {
    case M::slideSideways: return tr("Slide left and right");
    case M::tiltSideways: return tr("Tilt left and right");
    case M::slideForwardBack: return tr("Slide forward and back");
    case M::tiltForwardBack: return tr("Tilt forward and back");
    case M::twist: return tr("Twist");
    case M::push: return tr("Push and pull");
    }
    return {};
}

QString title(scroll::AxisMapping::Role role) {
    using R = scroll::AxisMapping::Role;
    switch (role) {
    case R::horizontal: return tr("Scroll horizontally");
    case R::vertical: return tr("Scroll vertically");
    case R::zoom: return tr("Zoom");
    case R::rotate: return tr("Rotate");
    }
    return {};
}

QString invertTitle(scroll::AxisMapping::Role role) {
    using R = scroll::AxisMapping::Role;
    switch (role) {
    case R::horizontal: return tr("Invert horizontal scrolling");
    case R::vertical: return tr("Invert vertical scrolling");
    case R::zoom: return tr("Invert zoom");
    case R::rotate: return tr("Invert rotation");
    }
    return {};
}

} // namespace vantor
