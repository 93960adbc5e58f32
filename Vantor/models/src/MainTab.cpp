#include "VantorModels/MainTab.h"

#include <QCoreApplication>

namespace vantor {

QString MainTab::title() const {
    switch (value_) {
    case defaults:
        return QCoreApplication::translate("Vantor", "Defaults");
    case movements:
        return QCoreApplication::translate("Vantor", "Movements");
    case directions:
        return QCoreApplication::translate("Vantor", "Directions");
    case apps:
        return QCoreApplication::translate("Vantor", "Apps");
    case settings:
        return QCoreApplication::translate("Vantor", "Settings");
    }
    return {};
}

} // namespace vantor
