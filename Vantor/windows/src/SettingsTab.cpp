#include "SettingsTab.h"

#include "VantorModels/SettingsModel.h"
#include "VantorModels/Updates.h"
#include "VantorWindows/TextStyle.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantor {

namespace {

QCheckBox* toggle(const QString& title, const char* name) {
    auto* box = new QCheckBox(title);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

// A wrapped, selectable line in the secondary style that says what is wrong.
QLabel* problemLabel(const char* name) {
    auto* label = new QLabel;
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    style::makeSecondary(label);
    return label;
}

// A field of a form row: `main` with `below` under it.
QWidget* stacked(const char* name, QWidget* main, QWidget* below) {
    auto* field = new QWidget;
    field->setObjectName(QString::fromLatin1(name));
    auto* column = new QVBoxLayout(field);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(main);
    column->addWidget(below);
    return field;
}

// Keeps the label of the form's last row on its first line when the field takes more lines.
void labelOnTop(QFormLayout* form) {
    if (QLayoutItem* item = form->itemAt(form->rowCount() - 1, QFormLayout::LabelRole))
        item->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

} // namespace

SettingsTab::SettingsTab(SettingsModel& model, Updates& updates, QWidget* parent)
    : FormPage(parent) {
    // Stored settings that are not in use: why, and what became of the file.
    auto* stored = addSection();
    auto* settingsFile = problemLabel("settingsFileProblem");
    stored->form()->addRow(tr("Settings file"), settingsFile);
    labelOnTop(stored->form());
    bindings_.text(settingsFile,
                   [&model] { return model.settingsFileProblem().value_or(QString()); });
    bindings_.follow([stored, &model] {
        stored->setVisible(model.settingsFileProblem().has_value());
    });

    auto* lines = addSection();
    auto* device = new QLabel;
    device->setObjectName("deviceName");
    device->setTextFormat(Qt::PlainText);
    device->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Below the device, why it is not available and what to do.
    auto* deviceProblem = problemLabel("deviceProblem");
    lines->form()->addRow(tr("SpaceMouse"), stacked("deviceRow", device, deviceProblem));
    labelOnTop(lines->form());
    bindings_.text(device, [&model] { return model.deviceName(); });
    bindings_.text(deviceProblem, [&model] { return model.deviceProblem().value_or(QString()); });
    bindings_.follow(
        [deviceProblem, &model] { deviceProblem->setVisible(model.deviceProblem().has_value()); });
    auto* driver = new QLabel;
    driver->setObjectName("driverName");
    driver->setTextFormat(Qt::PlainText);
    driver->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* driverLabel = new QLabel(tr("Driver"));
    const QString driverTip = tr("Vantor drives the SpaceMouse itself. While spacenavd is running, "
                                 "the SpaceMouse goes through spacenavd instead.");
    driver->setToolTip(driverTip);
    driverLabel->setToolTip(driverTip);
    // Below the driver, why no app in front can be seen (the device then goes to no app).
    auto* frontApp = problemLabel("frontAppProblem");
    auto* driverField = stacked("driverRow", driver, frontApp);
    lines->form()->addRow(driverLabel, driverField);
    labelOnTop(lines->form());
    bindings_.text(driver, [&model] { return model.driverName().value_or(QString()); });
    bindings_.text(frontApp, [&model] {
        return model.frontAppProblem() ? tr("No app in front: %1").arg(*model.frontAppProblem())
                                       : QString();
    });
    bindings_.follow([form = lines->form(), driverField, driver, frontApp, &model] {
        driver->setVisible(model.driverName().has_value());
        frontApp->setVisible(model.frontAppProblem().has_value());
        form->setRowVisible(driverField, model.driverName() || model.frontAppProblem());
    });

    auto* newApps = addSection();
    auto* newAppsOn = toggle(tr("Switch on new apps"), "newAppsOn");
    newApps->form()->addRow(newAppsOn);
    bindings_.check(newAppsOn, model.binding(fields::newAppsOn));
    newApps->addFooter(tr("On: an app not in the Apps tab yet gets the SpaceMouse as soon as it "
                          "comes to the front, and appears there switched on. Off: it keeps the "
                          "SpaceMouse until you switch it on."));

    auto* login = addSection();
    auto* startAtLogin = toggle(tr("Start at login"), "startAtLogin");
    login->form()->addRow(startAtLogin);
    bindings_.check(startAtLogin, {[&model] { return model.startAtLogin(); },
                                   [&model](bool on) { model.setStartAtLogin(on); }});
    auto* approval = new QWidget;
    approval->setObjectName("approvalRow");
    auto* approvalRow = new QHBoxLayout(approval);
    approvalRow->setContentsMargins(0, 0, 0, 0);
    auto* waiting = new QLabel(tr("Waiting for approval of the autostart entry."));
    waiting->setWordWrap(true);
    style::makeSecondary(waiting);
    auto* open = new QPushButton(tr("&Open Autostart Settings…"));
    open->setObjectName("openLoginItems");
    connect(open, &QPushButton::clicked, this, [&model] { model.openLoginItemSettings(); });
    approvalRow->addWidget(waiting);
    approvalRow->addStretch(1);
    approvalRow->addWidget(open);
    login->form()->addRow(approval);
    bindings_.follow([form = login->form(), approval, &model] {
        form->setRowVisible(approval, model.loginItemStatus() == LoginItemStatus::requiresApproval);
    });

    auto* updating = addSection(tr("Updates"));
    auto* automatic = toggle(tr("Check for updates automatically"), "checksAutomatically");
    updating->form()->addRow(automatic);
    bindings_.check(automatic, {[&updates] { return updates.checksAutomatically(); },
                                [&updates](bool on) { updates.setChecksAutomatically(on); }});
    auto* betas = toggle(tr("Include beta versions"), "includesBetas");
    updating->form()->addRow(betas);
    bindings_.check(betas, {[&updates] { return updates.includesBetas(); },
                            [&updates](bool on) { updates.setIncludesBetas(on); }});
    updating->addFooter(tr("Beta versions bring what is new sooner and have been tried less."));
    finish();
}

} // namespace vantor
