#include "AppsTab.h"

#include "DefaultsTab.h"
#include "SpeedSlider.h"
#include "VantorModels/AppList.h"
#include "VantorModels/SettingsModel.h"
#include "VantorModels/Titles.h"
#include "VantorWindows/TextStyle.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

namespace vantor {

using scroll::DevicePolicy::AppChoice;
using scroll::ScrollSettings;
using AppSetting = ScrollSettings::AppSetting;

namespace {

constexpr int rowPadding = 8;
constexpr int rowSpacing = 10;
constexpr int iconEdge = 20;
constexpr double highlightRadius = 6;

QStyle* styleOf(const QStyleOptionViewItem& option) {
    return option.widget ? option.widget->style() : QApplication::style();
}

// One app's row: icon and name, a caption and the app's switch, drawn (no widgets per row).
class AppRowDelegate final : public QStyledItemDelegate {
public:
    explicit AppRowDelegate(QObject* parent)
        : QStyledItemDelegate(parent)
        // One picture for every app without an icon of its own.
        , fallback_(style::symbol("application-x-executable", QStyle::SP_FileIcon)) {}

    struct Layout {
        QRect icon, name, caption, check;
    };

    static Layout layout(const QStyleOptionViewItem& option, const QString& caption) {
        const QRect content = option.rect.adjusted(rowPadding, 4, -rowPadding, -4);
        const int middle = content.center().y();
        QStyle* style = styleOf(option);
        const int checkWidth = style->pixelMetric(QStyle::PM_IndicatorWidth, &option, option.widget);
        const int checkHeight =
            style->pixelMetric(QStyle::PM_IndicatorHeight, &option, option.widget);
        Layout at;
        at.check = QRect(content.right() + 1 - checkWidth, middle - checkHeight / 2, checkWidth,
                         checkHeight);
        at.icon = QRect(content.left(), middle - iconEdge / 2, iconEdge, iconEdge);
        int end = at.check.left() - rowSpacing;
        if (!caption.isEmpty()) {
            const int width = QFontMetrics(style::callout()).horizontalAdvance(caption);
            at.caption = QRect(end - width, content.top(), width, content.height());
            end = at.caption.left() - rowSpacing;
        }
        const int start = at.icon.right() + 1 + 8;
        at.name = QRect(start, content.top(), qMax(0, end - start), content.height());
        for (QRect* rect : {&at.icon, &at.name, &at.caption, &at.check})
            *rect = QStyle::visualRect(option.direction, option.rect, *rect);
        return at;
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        QStyle* style = styleOf(option);
        const int tallest = std::max(
            {iconEdge, option.fontMetrics.height(), QFontMetrics(style::callout()).height(),
             style->pixelMetric(QStyle::PM_IndicatorHeight, &option, option.widget)});
        return {iconEdge + 2 * rowPadding, tallest + 8};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QString caption = index.data(AppList::CaptionRole).toString();
        const Layout at = layout(option, caption);
        const QPalette& palette = option.palette;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (option.state & QStyle::State_Selected) {
            QColor fill = palette.color(QPalette::Highlight);
            fill.setAlphaF(0.18f);
            painter->setPen(Qt::NoPen);
            painter->setBrush(fill);
            painter->drawRoundedRect(QRectF(option.rect), highlightRadius, highlightRadius);
        }
        QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
        (icon.isNull() ? fallback_ : icon).paint(painter, at.icon);

        // Names are plain text on one line, cut with an ellipsis where the row ends.
        const int flags = Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine;
        painter->setFont(option.font);
        painter->setPen(palette.color(QPalette::WindowText));
        const QString name = index.data(Qt::DisplayRole).toString();
        painter->drawText(at.name, flags,
                          option.fontMetrics.elidedText(name, Qt::ElideRight, at.name.width()));
        if (!caption.isEmpty()) {
            painter->setFont(style::callout());
            painter->setPen(palette.color(QPalette::PlaceholderText));
            painter->drawText(at.caption, flags, caption);
        }

        QStyleOptionButton check;
        check.rect = at.check;
        check.palette = palette;
        check.direction = option.direction;
        check.state = QStyle::State_Enabled |
                      (index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked
                           ? QStyle::State_On
                           : QStyle::State_Off);
        styleOf(option)->drawPrimitive(QStyle::PE_IndicatorCheckBox, &check, painter,
                                       option.widget);
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.rect = option.rect;
            focus.palette = palette;
            focus.state = QStyle::State_KeyboardFocusChange;
            styleOf(option)->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter,
                                           option.widget);
        }
        painter->restore();
    }

private:
    QIcon fallback_;
};

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

// The list of apps. Its selection is the model's selected app, never changed by the list
// itself: a click on a row or Return asks for the row's selection to flip, a click on a row's
// switch or Space asks for the switch to flip.
class AppListView final : public QListView {
    Q_OBJECT


public:
    std::function<void(const QModelIndex&)> onFlipSelection;
    std::function<void(const QModelIndex&)> onFlipSwitch;

    explicit AppListView(QWidget* parent = nullptr)
        : QListView(parent) {}

    QRect switchRect(const QModelIndex& index) const {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = visualRect(index);
        return AppRowDelegate::layout(option, index.data(AppList::CaptionRole).toString())
            .check;
    }

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex&,
                                                         const QEvent*) const override {
        return QItemSelectionModel::NoUpdate;
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return QListView::mousePressEvent(event);
        pressed_ = indexAt(event->position().toPoint());
        if (pressed_.isValid()) setCurrentIndex(pressed_);
        event->accept();
    }

    // The second press of a double click is a press like the first.
    void mouseDoubleClickEvent(QMouseEvent* event) override { mousePressEvent(event); }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return QListView::mouseReleaseEvent(event);
        const QPoint at = event->position().toPoint();
        const QPersistentModelIndex index = indexAt(at);
        const bool click = index.isValid() && index == pressed_;
        pressed_ = QPersistentModelIndex();
        event->accept();
        if (!click) return;
        if (switchRect(index).contains(at)) {
            if (onFlipSwitch) onFlipSwitch(index);
        } else if (onFlipSelection) {
            onFlipSelection(index);
        }
    }

    void keyPressEvent(QKeyEvent* event) override {
        const QModelIndex current = currentIndex();
        if (!current.isValid() || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return QListView::keyPressEvent(event);
        switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Select:
            if (onFlipSwitch) onFlipSwitch(current);
            return event->accept();
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (onFlipSelection) onFlipSelection(current);
            return event->accept();
        default:
            return QListView::keyPressEvent(event);
        }
    }

private:
    QPersistentModelIndex pressed_;
};

AppsTab::AppsTab(SettingsModel& model, QWidget* parent)
    : FormPage(parent)
    , model_(model)
    , list_(addSection())
    , apps_(new AppList(model, this))
    , view_(new AppListView)
    , remove_(new QAction(tr("Remove from List"), view_))
    , noneYet_(new QLabel(tr("None yet"))) {
    // The rows' highlight reaches past their content; the box's own margin makes up the rest.
    list_->form()->setContentsMargins(12 - rowPadding, 10, 12 - rowPadding, 10);

    view_->setObjectName("appList");
    view_->setAccessibleName(tr("Apps"));
    view_->setModel(apps_);
    view_->setItemDelegate(new AppRowDelegate(view_));
    view_->setUniformItemSizes(true);
    view_->setSpacing(1);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setFrameShape(QFrame::NoFrame);
    view_->viewport()->setAutoFillBackground(false);
    view_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    view_->onFlipSelection = [this](const QModelIndex& index) {
        const std::string app = apps_->app(index.row()).bundleID;
        if (model_.selectedApp() == app)
            model_.setSelectedApp(std::nullopt);
        else
            model_.setSelectedApp(app);
    };
    view_->onFlipSwitch = [this](const QModelIndex& index) {
        const bool on = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
        apps_->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    };
    list_->form()->addRow(view_);

    remove_->setObjectName("remove");
    connect(remove_, &QAction::triggered, this, [this] {
        const QModelIndex current = view_->currentIndex();
        if (!current.isValid()) return;
        // Copied: the removal takes the row away.
        const std::string app = apps_->app(current.row()).bundleID;
        model_.remove(app);
    });
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = view_->indexAt(at);
        if (!index.isValid()) return;
        view_->setCurrentIndex(index);
        QMenu menu(view_);
        menu.addAction(remove_);
        menu.exec(view_->viewport()->mapToGlobal(at));
    });

    noneYet_->setObjectName("noneYet");
    noneYet_->setContentsMargins(rowPadding, 0, rowPadding, 0);
    style::makeSecondary(noneYet_);
    list_->form()->addRow(noneYet_);
    auto* add = new QPushButton(tr("Add A&pp…"));
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

QRect AppsTab::switchRect(const QModelIndex& index) const {
    return view_->switchRect(index);
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
        b.check(box, forSelected<bool>(model, [&model, setting = field](const std::string& app) {
                    return model.own(AppSetting::together, app, *setting);
                }));
    }
    own_->form()->addRow(group);
    b.enabled(group, [&model] {
        return !model.settings().follows(AppSetting::together, model.selectedApp().value_or(""));
    });

    auto* useDefaults = new QPushButton(tr("&Use the Defaults"));
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
    apps_->refresh();
    const int rows = apps_->rowCount();
    view_->setVisible(rows > 0);
    noneYet_->setVisible(rows == 0);
    fitList();
    showSelection();

    const auto selected = model_.selectedApp();
    const bool showsOwn =
        selected && model_.settings().deviceChoice(*selected) == AppChoice::on;
    if (showsOwn) {
        own_->header()->setText(tr("Settings for %1").arg(model_.app(*selected).name));
        ownBindings_.refresh();
    }
    own_->setVisible(showsOwn);
}

// As tall as its rows, up to visibleRows of them; a longer list scrolls by itself.
void AppsTab::fitList() {
    const int rows = std::min(apps_->rowCount(), visibleRows);
    if (rows == 0) return;
    // The list's spacing lies around every row, above and below it.
    view_->setFixedHeight(rows * (view_->sizeHintForRow(0) + 2 * view_->spacing()) +
                          2 * view_->frameWidth());
}

// The list's selection, which assistive technology reads, is the model's selected app.
void AppsTab::showSelection() {
    const auto selected = model_.selectedApp();
    const int row = selected ? apps_->rowOf(*selected) : -1;
    QItemSelectionModel* selection = view_->selectionModel();
    if (row < 0) {
        selection->clearSelection();
        return;
    }
    const QModelIndex index = apps_->index(row);
    if (!selection->isSelected(index))
        selection->select(index, QItemSelectionModel::ClearAndSelect);
}

} // namespace vantor

#include "AppsTab.moc"
