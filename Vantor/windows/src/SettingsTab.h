#pragma once

#include "Bindings.h"
#include "FormPage.h"

namespace vantor {

class SettingsModel;
class Updates;

// The SpaceMouse and driver in use, and the app-wide switches: new apps, start at login, updates.
class SettingsTab : public FormPage {
    Q_OBJECT

public:
    SettingsTab(SettingsModel& model, Updates& updates, QWidget* parent = nullptr);
    void refresh() const { bindings_.refresh(); }

private:
    Bindings bindings_;
};

} // namespace vantor
