#include "VantorModels/Titles.h"

#include <QCoreApplication>

// Each text is written out in its translate call, where the translation tools find it.

namespace vantor {

QString title(scroll::ScrollSettings::Response response) {
    using R = scroll::ScrollSettings::Response;
    switch (response) {
    case R::direct:
        return QCoreApplication::translate("Vantor", "Direct");
    case R::balanced:
        return QCoreApplication::translate("Vantor", "Balanced");
    case R::precise:
        return QCoreApplication::translate("Vantor", "Precise");
    }
    return {};
}

QString explanation(scroll::ScrollSettings::Response response) {
    using R = scroll::ScrollSettings::Response;
    switch (response) {
    case R::direct:
        return QCoreApplication::translate(
            "Vantor",
            "Direct: reacts to a light touch; the speed rises evenly with the deflection.");
    case R::balanced:
        return QCoreApplication::translate(
            "Vantor",
            "Balanced: fine and slow at small deflections, fast towards full deflection.");
    case R::precise:
        return QCoreApplication::translate(
            "Vantor", "Precise: a resting hand does nothing; small deflections creep along, full "
                      "speed only at the end.");
    }
    return {};
}

QString title(scroll::ScrollSettings::Momentum momentum) {
    using M = scroll::ScrollSettings::Momentum;
    switch (momentum) {
    case M::off:
        return QCoreApplication::translate("Vantor", "No momentum");
    case M::short_:
        return QCoreApplication::translate("Vantor", "Short momentum");
    case M::medium:
        return QCoreApplication::translate("Vantor", "Medium momentum");
    case M::long_:
        return QCoreApplication::translate("Vantor", "Long momentum");
    }
    return {};
}

QString title(scroll::AxisMapping::Movement movement) {
    using M = scroll::AxisMapping::Movement;
    switch (movement) {
    case M::slideSideways:
        return QCoreApplication::translate("Vantor", "Slide left and right");
    case M::tiltSideways:
        return QCoreApplication::translate("Vantor", "Tilt left and right");
    case M::slideForwardBack:
        return QCoreApplication::translate("Vantor", "Slide forward and back");
    case M::tiltForwardBack:
        return QCoreApplication::translate("Vantor", "Tilt forward and back");
    case M::twist:
        return QCoreApplication::translate("Vantor", "Twist");
    case M::push:
        return QCoreApplication::translate("Vantor", "Push and pull");
    }
    return {};
}

QString title(scroll::AxisMapping::Role role) {
    using R = scroll::AxisMapping::Role;
    switch (role) {
    case R::horizontal:
        return QCoreApplication::translate("Vantor", "Scroll horizontally");
    case R::vertical:
        return QCoreApplication::translate("Vantor", "Scroll vertically");
    case R::zoom:
        return QCoreApplication::translate("Vantor", "Zoom");
    case R::rotate:
        return QCoreApplication::translate("Vantor", "Rotate");
    }
    return {};
}

QString invertTitle(scroll::AxisMapping::Role role) {
    using R = scroll::AxisMapping::Role;
    switch (role) {
    case R::horizontal:
        return QCoreApplication::translate("Vantor", "Invert horizontal scrolling");
    case R::vertical:
        return QCoreApplication::translate("Vantor", "Invert vertical scrolling");
    case R::zoom:
        return QCoreApplication::translate("Vantor", "Invert zoom");
    case R::rotate:
        return QCoreApplication::translate("Vantor", "Invert rotation");
    }
    return {};
}

} // namespace vantor
