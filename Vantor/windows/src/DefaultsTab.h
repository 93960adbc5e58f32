#pragma once

#include "Bindings.h"
#include "FormPage.h"
#include "VantorModels/Titles.h"

namespace vantor {

class SettingsModel;

// The default speed, response and momentum, and which activities may run at the same time.
class DefaultsTab : public FormPage {
    Q_OBJECT

public:
    explicit DefaultsTab(SettingsModel& model, QWidget* parent = nullptr);
    void refresh() const { bindings_.refresh(); }

private:
    Bindings bindings_;
};

// The role each of the six cap movements drives.
class MovementsTab : public FormPage {
    Q_OBJECT

public:
    explicit MovementsTab(SettingsModel& model, QWidget* parent = nullptr);
    void refresh() const { bindings_.refresh(); }

private:
    Bindings bindings_;
};

// Which roles run the other way round.
class DirectionsTab : public FormPage {
    Q_OBJECT

public:
    explicit DirectionsTab(SettingsModel& model, QWidget* parent = nullptr);
    void refresh() const { bindings_.refresh(); }

private:
    Bindings bindings_;
};

// Titles of every case of an engine enumeration, in declaration order.
template <class E> QStringList titles() {
    QStringList list;
    for (E value : E::allCases())
        list << title(value);
    return list;
}

} // namespace vantor
