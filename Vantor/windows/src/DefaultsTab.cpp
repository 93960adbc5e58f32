#include "DefaultsTab.h"

#include "SpeedSlider.h"
#include "VantorModels/SettingsModel.h"
#include "VantorModels/Titles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace vantor {

using scroll::AxisMapping;
using scroll::ScrollSettings;

namespace {

template <class E> std::vector<E> cases() {
    const auto all = E::allCases();
    return {all.begin(), all.end()};
}

QComboBox* picker(const char* name) {
    auto* combo = new QComboBox;
    combo->setObjectName(QString::fromLatin1(name));
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    combo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return combo;
}

QCheckBox* toggle(const QString& title, const QString& name) {
    auto* box = new QCheckBox(title);
    box->setObjectName(name);
    return box;
}

} // namespace

DefaultsTab::DefaultsTab(SettingsModel& model, QWidget* parent)
    : FormPage(parent) {
    auto* first = addSection();
    auto* speed = new SpeedSlider(true);
    speed->slider()->setObjectName("speed");
    speed->setToolTip(tr("For scrolling, zooming and rotating."));
    first->form()->addRow(tr("Speed"), speed);
    first->form()->labelForField(speed)->setToolTip(speed->toolTip());
    bindings_.slider(speed, model.speedPosition());

    auto* response = picker("response");
    first->form()->addRow(tr("Response"), response);
    bindings_.picker(response, cases<ScrollSettings::Response>(), titles<ScrollSettings::Response>,
                     model.binding(fields::response));
    auto* momentum = picker("momentum");
    first->form()->addRow(tr("Momentum"), momentum);
    bindings_.picker(momentum, cases<ScrollSettings::Momentum>(), titles<ScrollSettings::Momentum>,
                     model.binding(fields::momentum));
    auto* explanation = first->addFooter({});
    explanation->setObjectName("responseExplanation");
    bindings_.text(explanation,
                   [&model] { return vantor::explanation(model.settings().response); });

    auto* together = addSection(tr("At the Same Time"));
    const std::pair<QCheckBox*, const SettingsField<bool>*> toggles[] = {
        {toggle(tr("Scroll diagonally"), "diagonal"), &fields::diagonal},
        {toggle(tr("Scroll and zoom"), "scrollsWhileZooming"), &fields::scrollsWhileZooming},
        {toggle(tr("Zoom and rotate"), "rotatesWhileZooming"), &fields::rotatesWhileZooming},
    };
    for (const auto& [box, field] : toggles) {
        together->form()->addRow(box);
        bindings_.check(box, model.binding(*field));
    }
    together->addFooter(tr("Every app starts with these settings. The tray menu gives the app in "
                           "front its own, and so does the Apps tab."));
    finish();
}

MovementsTab::MovementsTab(SettingsModel& model, QWidget* parent)
    : FormPage(parent) {
    std::vector<std::optional<AxisMapping::Role>> roles;
    for (auto role : AxisMapping::Role::allCases())
        roles.emplace_back(role);
    roles.emplace_back(std::nullopt);
    auto roleTitles = [] { return titles<AxisMapping::Role>() << tr("Nothing"); };

    auto* movements = addSection();
    for (auto movement : AxisMapping::Movement::allCases()) {
        auto* combo = picker("");
        combo->setObjectName(QStringLiteral("movement.") +
                             QString::fromLatin1(movement.rawValue()));
        movements->form()->addRow(title(movement), combo);
        bindings_.picker(combo, roles, roleTitles, model.assignment(movement));
    }
    movements->addFooter(tr("Each movement of the cap does one thing. Zoom works as Ctrl + wheel, "
                            "in apps that zoom that way; rotate has no counterpart on Linux and "
                            "reaches no app."));

    auto* restore = new QPushButton(tr("&Restore Defaults"));
    restore->setObjectName("restoreDefaults");
    connect(restore, &QPushButton::clicked, this, [&model] { model.resetMovements(); });
    addSection()->form()->addRow(FormSection::trailing(restore));
    finish();
}

DirectionsTab::DirectionsTab(SettingsModel& model, QWidget* parent)
    : FormPage(parent) {
    auto* section = addSection();
    for (auto role : AxisMapping::Role::allCases()) {
        auto* box = toggle(invertTitle(role),
                           QStringLiteral("invert.") + QString::fromLatin1(role.rawValue()));
        section->form()->addRow(box);
        bindings_.check(box, model.inverted(role));
    }
    finish();
}

} // namespace vantor
