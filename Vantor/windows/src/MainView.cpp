#include "VantorWindows/MainView.h"

#include "AppsTab.h"
#include "CanvasBox.h"
#include "DefaultsTab.h"
#include "IconView.h"
#include "SettingsTab.h"
#include "VantorModels/CanvasModel.h"
#include "VantorModels/MainTab.h"
#include "VantorModels/SettingsModel.h"
#include "VantorModels/Updates.h"
#include "VantorWindows/CanvasView.h"
#include "VantorWindows/TextStyle.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

namespace vantor {

namespace {

constexpr int sidePadding = 20;
constexpr int topPadding = 14;
constexpr int formPadding = 12;

QWidget* padded(QWidget* content, int bottom) {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(sidePadding, topPadding, sidePadding, bottom);
    layout->setSpacing(0);
    layout->addWidget(content);
    return box;
}

QWidget* scrolling(QWidget* form) {
    auto* inner = new QWidget;
    auto* layout = new QVBoxLayout(inner);
    layout->setContentsMargins(formPadding, formPadding, formPadding, formPadding);
    layout->addWidget(form);
    auto* area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidget(inner);
    area->viewport()->setAutoFillBackground(false);
    inner->setAutoFillBackground(false);
    return area;
}

} // namespace

MainView::MainView(SettingsModel& model, Updates& updates, CanvasModel& canvas, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , banner_(new QWidget)
    , canvasBox_(new CanvasBox(new CanvasView(canvas)))
    , tabs_(new QTabWidget)
    , defaults_(new DefaultsTab(model))
    , movements_(new MovementsTab(model))
    , directions_(new DirectionsTab(model))
    , apps_(new AppsTab(model))
    , settings_(new SettingsTab(model, updates)) {
    setMinimumSize(minimumSize);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    banner_->setObjectName("permissionBanner");
    auto* bannerRow = new QHBoxLayout(banner_);
    bannerRow->setContentsMargins(0, 0, 0, 0);
    bannerRow->setSpacing(6);
    const int iconSize = fontMetrics().height();
    auto* warning = new IconView(style::symbol("dialog-warning", QStyle::SP_MessageBoxWarning),
                                 QSize(iconSize, iconSize), warningRed);
    bannerMessage_ = new QLabel(tr("Vantor may not post scroll events yet."));
    // In a narrow window the message wraps; the button stays whole.
    bannerMessage_->setWordWrap(true);
    colourBanner();
    auto* allow = new QPushButton(tr("Allow Device Access…"));
    allow->setObjectName("allowAccessibility");
    connect(allow, &QPushButton::clicked, this, [&model] {
        if (model.onOpenAccessibility) model.onOpenAccessibility();
    });
    bannerRow->addWidget(warning);
    bannerRow->addWidget(bannerMessage_, 1);
    bannerRow->addWidget(allow);
    root->addWidget(padded(banner_, 0));

    auto* canvasArea = new QWidget;
    auto* canvasColumn = new QVBoxLayout(canvasArea);
    canvasColumn->setContentsMargins(sidePadding, topPadding, sidePadding, 0);
    canvasColumn->setSpacing(6);
    canvasColumn->addWidget(canvasBox_);
    canvasColumn->addWidget(style::note(tr("Move the cap while this window is in front. The "
                                           "canvas shows how Vantor moves, not how an app takes "
                                           "it.")));
    connect(canvasBox_->resetButton(), &QPushButton::clicked, this, [&canvas] { canvas.reset(); });
    root->addWidget(canvasArea);

    tabs_->setObjectName("tabs");
    // The titles carry Alt mnemonics of their own, clear of the menu bar's and the buttons'.
    const std::tuple<MainTab, QWidget*, QString> pages[] = {
        {MainTab::defaults, defaults_, tr("&Defaults")},
        {MainTab::movements, movements_, tr("&Movements")},
        {MainTab::directions, directions_, tr("D&irections")},
        {MainTab::apps, apps_, tr("&Apps")},
        {MainTab::settings, settings_, tr("&Settings")},
    };
    for (const auto& [tab, page, title] : pages) {
        page->setObjectName(QString::fromLatin1(tab.rawValue()));
        tabs_->addTab(scrolling(page), title);
    }
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index >= 0 && index < int(MainTab::allCases().size()))
            model_.setTab(MainTab::allCases()[std::size_t(index)]);
    });
    addTabKeys();
    root->addWidget(padded(tabs_, sidePadding), 1);

    for (auto signal :
         {&SettingsModel::settingsChanged, &SettingsModel::deviceNameChanged,
          &SettingsModel::driverNameChanged, &SettingsModel::frontAppProblemChanged,
          &SettingsModel::deviceProblemChanged, &SettingsModel::settingsFileProblemChanged,
          &SettingsModel::hasPermissionChanged, &SettingsModel::loginItemStatusChanged,
          &SettingsModel::tabChanged, &SettingsModel::selectedAppChanged})
        connect(&model, signal, this, &MainView::refresh);
    connect(&updates, &Updates::checksAutomaticallyChanged, this, &MainView::refresh);
    connect(&updates, &Updates::includesBetasChanged, this, &MainView::refresh);
    refresh();
}

MainView::~MainView() = default;

// Ctrl+Tab and Ctrl+Page Down open the next tab, Ctrl+Shift+Tab and Ctrl+Page Up the one before,
// round the end, wherever the focus is in the window: the tab widget hears these keys only from
// controls that pass them on (a combo box or a slider keeps Page Up and Down) and not at all
// before anything in it has the focus.
void MainView::addTabKeys() {
    const std::pair<QList<QKeySequence>, int> steps[] = {
        {{Qt::CTRL | Qt::Key_Tab, Qt::CTRL | Qt::Key_PageDown}, 1},
        {{Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, Qt::CTRL | Qt::SHIFT | Qt::Key_Tab,
          Qt::CTRL | Qt::Key_PageUp},
         -1},
    };
    for (const auto& [keys, step] : steps) {
        auto* action = new QAction(this);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, step = step] {
            const int count = tabs_->count();
            if (count > 0) tabs_->setCurrentIndex((tabs_->currentIndex() + step + count) % count);
        });
        addAction(action);
    }
}

void MainView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && bannerMessage_) colourBanner();
}

void MainView::colourBanner() {
    QPalette red = bannerMessage_->palette();
    red.setColor(QPalette::WindowText, warningRed(palette()));
    bannerMessage_->setPalette(red);
}

void MainView::refresh() {
    banner_->parentWidget()->setVisible(!model_.hasPermission());
    const auto preview = model_.previewApp();
    canvasBox_->caption()->setText(preview ? tr("Settings of %1").arg(model_.app(*preview).name)
                                           : tr("Default settings"));
    {
        const QSignalBlocker quiet(tabs_);
        tabs_->setCurrentIndex(int(MainTab::Value(model_.tab())));
    }
    defaults_->refresh();
    movements_->refresh();
    directions_->refresh();
    apps_->refresh();
    settings_->refresh();
}

} // namespace vantor
