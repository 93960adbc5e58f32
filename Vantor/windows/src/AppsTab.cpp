#include "AppsTab.h"

#include "DefaultsTab.h"
#include "IconView.h"
#include "SpeedSlider.h"
#include "VantorModels/SettingsModel.h"
#include "VantorModels/Titles.h"
#include "VantorWindows/TextStyle.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace vantor {

using scroll::DevicePolicy::AppChoice;
using scroll::ScrollSettings;
using AppSetting = ScrollSettings::AppSetting;

namespace {

constexpr int rowPadding = 8;
constexpr double highlightRadius = 6;

// Tells assistive technology which row is selected.
class AppRowAccessible : public QAccessibleWidget {
public:
    explicit AppRowAccessible(AppRow* row)
        : QAccessibleWidget(row, QAccessible::ListItem) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = true;
        state.selected = static_cast<AppRow*>(widget())->isSelected();
        return state;
    }
};

QAccessibleInterface* accessibleRow(const QString& className, QObject* object) {
    if (className == QLatin1String(AppRow::staticMetaObject.className()))
        if (auto* row = qobject_cast<AppRow*>(object))
            return new AppRowAccessible(row);
    return nullptr;
}

// A binding of the app selected now; it writes nothing while no app is selected.
template <class T, class Make> Binding<T> forSelected(SettingsModel& model, Make make) {
    return {[&model, make] { return make(model.selectedApp().value_or(std::string())).get(); },
            [&model, make](const T& value) {
                if (const auto app = model.selectedApp())
                    make(*app).set(value);
            }};
}

template <class E> QStringList withDefault(E defaultValue) {
    return QStringList{AppsTab::tr("Default (%1)").arg(title(defaultValue))} + titles<E>();
}

template <class E> std::vector<std::optional<E>> optionalCases() {
    std::vector<std::optional<E>> values{std::nullopt};
    for (E value : E::allCases())
        values.emplace_back(value);
    return values;
}

} // namespace

AppRow::AppRow(SettingsModel& model, const ListedApp& app, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , bundleID_(app.bundleID)
    , caption_(new QLabel(this)) {
    static const bool accessible = (QAccessible::installFactory(accessibleRow), true);
    Q_UNUSED(accessible);
    setObjectName(QString::fromStdString("app:" + app.bundleID));
    setAccessibleName(app.name);

    auto* label = new QWidget(this);
    label->setToolTip(QString::fromStdString(app.bundleID));
    auto* labelRow = new QHBoxLayout(label);
    labelRow->setContentsMargins(0, 0, 0, 0);
    labelRow->setSpacing(8);
    const QIcon icon = app.icon.isNull()
                           ? style::symbol("application-x-executable", QStyle::SP_FileIcon)
                           : app.icon;
    labelRow->addWidget(new IconView(icon, QSize(20, 20), {}, label));
    labelRow->addWidget(new QLabel(app.name, label), 1);

    caption_->setObjectName("caption");
    caption_->setFont(style::callout());
    style::makeSecondary(caption_);
    auto* toggle = new QCheckBox(this);
    toggle->setObjectName("switch");
    toggle->setAccessibleName(tr("Use the SpaceMouse in %1").arg(app.name));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(rowPadding, 4, rowPadding, 4);
    row->setSpacing(10);
    row->addWidget(label, 1);
    row->addWidget(caption_);
    row->addWidget(toggle);

    auto* remove = new QAction(tr("Remove from List"), this);
    remove->setObjectName("remove");
    connect(remove, &QAction::triggered, this, [this] { model_.remove(bundleID_); });
    addAction(remove);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    bindings_.check(toggle, model.isOn(bundleID_));
    bindings_.follow([this] {
        const ScrollSettings& settings = model_.settings();
        QString caption;
        if (settings.deviceChoice(bundleID_) != AppChoice::on)
            caption = tr("Keeps the SpaceMouse");
        else if (settings.hasOwnSettings(bundleID_))
            caption = tr("Own settings");
        caption_->setText(caption);
        caption_->setVisible(!caption.isEmpty());
        const bool selected = model_.selectedApp() == bundleID_;
        if (selected != selected_) {
            selected_ = selected;
            update();
            QAccessible::State changed;
            changed.selected = true;
            QAccessibleStateChangeEvent event(this, changed);
            QAccessible::updateAccessibility(&event);
        }
    });
}

void AppRow::refresh() { bindings_.refresh(); }

void AppRow::paintEvent(QPaintEvent*) {
    if (!selected_)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::Highlight);
    fill.setAlphaF(0.18f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), highlightRadius, highlightRadius);
}

void AppRow::mousePressEvent(QMouseEvent* event) {
    // Taking the press makes this row the receiver of the release that completes the click.
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    event->accept();
}

void AppRow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
        return QWidget::mouseReleaseEvent(event);
    if (selected_)
        model_.setSelectedApp(std::nullopt);
    else
        model_.setSelectedApp(bundleID_);
}

AppsTab::AppsTab(SettingsModel& model, QWidget* parent)
    : FormPage(parent)
    , model_(model)
    , list_(addSection())
    , rowColumn_(new QVBoxLayout)
    , noneYet_(new QLabel(tr("None yet"))) {
    // The rows' highlight reaches past their content; the box's own margin makes up the rest.
    list_->form()->setContentsMargins(12 - rowPadding, 10, 12 - rowPadding, 10);
    rowColumn_->setContentsMargins(0, 0, 0, 0);
    rowColumn_->setSpacing(2);
    list_->form()->addRow(rowColumn_);
    noneYet_->setObjectName("noneYet");
    noneYet_->setContentsMargins(rowPadding, 0, rowPadding, 0);
    style::makeSecondary(noneYet_);
    list_->form()->addRow(noneYet_);
    auto* add = new QPushButton(tr("Add App…"));
    add->setObjectName("addApp");
    connect(add, &QPushButton::clicked, this, [this] { model_.addApps(); });
    auto* addRow = FormSection::trailing(add);
    addRow->layout()->setContentsMargins(rowPadding, 0, rowPadding, 0);
    list_->form()->addRow(addRow);
    list_->addFooter(tr("Vantor takes the SpaceMouse only while an app switched on here is in "
                        "front; apps switched off keep it. Choose an app for its own settings."));
    makeOwnSettings();
    finish();
    refresh();
}

void AppsTab::makeOwnSettings() {
    own_ = addSection();
    own_->setObjectName("ownSettings");
    own_->header()->show();
    auto& model = model_;
    auto& b = ownBindings_;

    auto* speedRow = new QWidget;
    auto* speedLayout = new QHBoxLayout(speedRow);
    speedLayout->setContentsMargins(0, 0, 0, 0);
    speedLayout->setSpacing(12);
    auto* speed = new SpeedSlider(false);
    speed->slider()->setObjectName("appSpeed");
    auto* followsSpeed = new QCheckBox(tr("Default"));
    followsSpeed->setObjectName("followsSpeed");
    speedLayout->addWidget(speed, 1);
    speedLayout->addWidget(followsSpeed);
    own_->form()->addRow(tr("Speed"), speedRow);
    b.slider(speed, forSelected<double>(
                        model, [&model](const std::string& app) { return model.speedPosition(app); }));
    b.check(followsSpeed, forSelected<bool>(model, [&model](const std::string& app) {
                return model.follows(AppSetting::speed, app);
            }));
    b.enabled(speed, [&model] {
        return !model.settings().follows(AppSetting::speed, model.selectedApp().value_or(""));
    });

    auto* response = new QComboBox;
    response->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    response->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    response->setObjectName("appResponse");
    own_->form()->addRow(tr("Response"), response);
    b.picker(response, optionalCases<ScrollSettings::Response>(),
             [&model] { return withDefault(model.settings().response); },
             forSelected<std::optional<ScrollSettings::Response>>(
                 model, [&model](const std::string& app) {
                     return model.ownOrDefault(AppSetting::response, app, fields::response);
                 }));
    auto* momentum = new QComboBox;
    momentum->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    momentum->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    momentum->setObjectName("appMomentum");
    own_->form()->addRow(tr("Momentum"), momentum);
    b.picker(momentum, optionalCases<ScrollSettings::Momentum>(),
             [&model] { return withDefault(model.settings().momentum); },
             forSelected<std::optional<ScrollSettings::Momentum>>(
                 model, [&model](const std::string& app) {
                     return model.ownOrDefault(AppSetting::momentum, app, fields::momentum);
                 }));

    auto* followsTogether = new QCheckBox(tr("At the same time as by default"));
    followsTogether->setObjectName("followsTogether");
    own_->form()->addRow(followsTogether);
    b.check(followsTogether, forSelected<bool>(model, [&model](const std::string& app) {
                return model.follows(AppSetting::together, app);
            }));
    auto* group = new QWidget;
    group->setObjectName("togetherGroup");
    auto* groupColumn = new QVBoxLayout(group);
    groupColumn->setContentsMargins(16, 0, 0, 0);
    groupColumn->setSpacing(8);
    const std::tuple<QString, const char*, const SettingsField<bool>*> toggles[] = {
        {tr("Scroll diagonally"), "appDiagonal", &fields::diagonal},
        {tr("Scroll and zoom"), "appScrollsWhileZooming", &fields::scrollsWhileZooming},
        {tr("Zoom and rotate"), "appRotatesWhileZooming", &fields::rotatesWhileZooming},
    };
    for (const auto& [text, name, field] : toggles) {
        auto* box = new QCheckBox(text, group);
        box->setObjectName(name);
        groupColumn->addWidget(box);
        b.check(box, forSelected<bool>(model, [&model, field](const std::string& app) {
                    return model.own(AppSetting::together, app, *field);
                }));
    }
    own_->form()->addRow(group);
    b.enabled(group, [&model] {
        return !model.settings().follows(AppSetting::together, model.selectedApp().value_or(""));
    });

    auto* useDefaults = new QPushButton(tr("Use the Defaults"));
    useDefaults->setObjectName("useDefaults");
    connect(useDefaults, &QPushButton::clicked, this, [&model] {
        if (const auto app = model.selectedApp())
            model.followDefaults(*app);
    });
    own_->addFooterButton(useDefaults);
    b.enabled(useDefaults, [&model] {
        return model.settings().hasOwnSettings(model.selectedApp().value_or(""));
    });
}

void AppsTab::refresh() {
    const std::vector<ListedApp> listed = model_.listedApps();
    std::vector<std::pair<std::string, QString>> shown;
    for (const ListedApp& app : listed)
        shown.emplace_back(app.bundleID, app.name);
    if (shown != shown_) {
        // A row may be the sender of the change that brought us here, so it goes later.
        for (AppRow* row : rows_) {
            row->hide();
            rowColumn_->removeWidget(row);
            row->deleteLater();
        }
        rows_.clear();
        for (const ListedApp& app : listed) {
            auto* row = new AppRow(model_, app, list_->box());
            rowColumn_->addWidget(row);
            rows_.push_back(row);
        }
        shown_ = std::move(shown);
    } else {
        for (AppRow* row : rows_)
            row->refresh();
    }
    noneYet_->setVisible(rows_.empty());

    const auto selected = model_.selectedApp();
    const bool showsOwn =
        selected && model_.settings().deviceChoice(*selected) == AppChoice::on;
    if (showsOwn) {
        own_->header()->setText(tr("Settings for %1").arg(model_.app(*selected).name));
        ownBindings_.refresh();
    }
    own_->setVisible(showsOwn);
}

} // namespace vantor
