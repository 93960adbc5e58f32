#include "AppsTab.h"
#include "CanvasBox.h"
#include "FormPage.h"
#include "MainViewHarness.h"
#include "SpeedSlider.h"
#include "TempFolder.h"
#include "VantorModels/AppList.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <cmath>
#include <gtest/gtest.h>

namespace vantor {
namespace {

using scroll::Activity;
using scroll::AxisMapping;
using scroll::ScrollSettings;
using testing::Harness;
using Role = AxisMapping::Role;
using Movement = AxisMapping::Movement;

const std::string maps = "org.example.Maps";

// The Apps tab's list and what one of its rows shows.
QListView* appList(Harness& h) { return h.find<QListView>("appList"); }

QModelIndex rowOf(Harness& h, const std::string& app) {
    auto* tab = h.find<AppsTab>("apps");
    return tab->apps()->index(tab->apps()->rowOf(app));
}

QString captionOf(Harness& h, const std::string& app) {
    return rowOf(h, app).data(AppList::CaptionRole).toString();
}

// A click on a row away from its switch, or on its switch.
void clickRow(Harness& h, const std::string& app) {
    const QRect row = appList(h)->visualRect(rowOf(h, app));
    testing::click(appList(h)->viewport(), QPoint(row.left() + 40, row.center().y()));
}

void clickSwitch(Harness& h, const std::string& app) {
    auto* tab = h.find<AppsTab>("apps");
    testing::click(appList(h)->viewport(), tab->switchRect(rowOf(h, app)).center());
}

// Maps listed under this name and selected on the Apps tab, the window shown at `size`.
void showMapsNamed(Harness& h, const QString& name, QSize size = MainView::idealSize) {
    h.model->apps.insert_or_assign(maps, ListedApp(maps, name, QIcon(), true));
    h.model->setTab(MainTab::apps);
    h.model->setSelectedApp(maps);
    h.view->resize(size);
    h.view->show();
    QApplication::processEvents();
}

// What assistive technology reads of a row.
QAccessibleInterface* rowAccessible(Harness& h, const std::string& app) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(appList(h));
    return list ? list->child(rowOf(h, app).row()) : nullptr;
}

ScrollSettings withMapsOn() {
    ScrollSettings s;
    s.allowedApps = {maps};
    return s;
}

// What a user does to a control: click a toggle or button, pick an option, move a slider.
struct Action {
    const char* control;
    int value; // option index or slider step; ignored for clicks
};

void perform(Harness& h, const Action& action) {
    const QString name = QString::fromLatin1(action.control);
    if (auto* combo = h.view->findChild<QComboBox*>(name))
        combo->setCurrentIndex(action.value);
    else if (auto* slider = h.view->findChild<QSlider*>(name))
        slider->setValue(action.value);
    else
        h.find<QAbstractButton>(name)->click();
}

TEST(MainView, EachControlWritesOnceAndReportsOnce) {
    struct Case {
        Action action;
        std::function<bool(const ScrollSettings&)> expect;
    };
    const Case cases[] = {
        {{"speed", 0}, [](auto& s) { return s.speed == 0.25; }},
        {{"speed", 4000}, [](auto& s) { return s.speed == 0.76; }},
        {{"speed", 10000}, [](auto& s) { return s.speed == 4.0; }},
        {{"response", 0}, [](auto& s) { return s.response == ScrollSettings::Response::direct; }},
        {{"momentum", 3}, [](auto& s) { return s.momentum == ScrollSettings::Momentum::long_; }},
        {{"diagonal", 0}, [](auto& s) { return !s.diagonal; }},
        {{"scrollsWhileZooming", 0},
         [](auto& s) { return s.simultaneous.contains(Activity::scroll); }},
        {{"rotatesWhileZooming", 0}, [](auto& s) { return s.simultaneous.empty(); }},
        {{"movement.push", 4}, [](auto& s) { return !s.mapping.role(Movement::push); }},
        {{"movement.twist", 2},
         [](auto& s) { return s.mapping.role(Movement::twist) == Role::zoom; }},
        {{"invert.zoom", 0}, [](auto& s) { return s.mapping.invertedRoles.contains(Role::zoom); }},
        {{"restoreDefaults", 0}, [](auto& s) { return s.mapping == AxisMapping(); }},
        {{"newAppsOn", 0}, [](auto& s) { return s.newAppsOn; }},
    };
    for (const Case& c : cases) {
        Harness h;
        perform(h, c.action);
        EXPECT_EQ(h.changes, 1) << c.action.control;
        EXPECT_TRUE(c.expect(h.model->settings())) << c.action.control << " " << c.action.value;
    }
}

TEST(MainView, PerAppControlsWriteOnceAndShowTheirEffect) {
    struct Case {
        Action action;
        std::function<bool(const ScrollSettings&)> expect;
    };
    const Case cases[] = {
        {{"followsSpeed", 0},
         [](auto& s) { return !s.follows(ScrollSettings::AppSetting::speed, maps); }},
        {{"appResponse", 3},
         [](auto& s) { return s.applied(maps).response == ScrollSettings::Response::precise; }},
        {{"appMomentum", 1},
         [](auto& s) { return s.applied(maps).momentum == ScrollSettings::Momentum::off; }},
        {{"followsTogether", 0},
         [](auto& s) { return !s.follows(ScrollSettings::AppSetting::together, maps); }},
    };
    for (const Case& c : cases) {
        Harness h(withMapsOn());
        h.model->setTab(MainTab::apps);
        h.model->setSelectedApp(maps);
        EXPECT_EQ(captionOf(h, maps), "");
        perform(h, c.action);
        EXPECT_EQ(h.changes, 1) << c.action.control;
        EXPECT_TRUE(c.expect(h.model->settings())) << c.action.control;
        EXPECT_EQ(captionOf(h, maps), "Own settings");
        h.find<QPushButton>("useDefaults")->click();
        EXPECT_FALSE(h.model->settings().hasOwnSettings(maps));
        EXPECT_EQ(captionOf(h, maps), "");
        EXPECT_FALSE(h.find<QPushButton>("useDefaults")->isEnabled());
    }
}

TEST(MainView, PerAppValuesWaitForTheirDefaultSwitch) {
    Harness h(withMapsOn());
    h.model->setTab(MainTab::apps);
    h.model->setSelectedApp(maps);
    auto* slider = h.find<QSlider>("appSpeed");
    auto* diagonal = h.find<QCheckBox>("appDiagonal");
    EXPECT_FALSE(slider->isEnabled());
    EXPECT_FALSE(diagonal->isEnabled());
    h.find<QCheckBox>("followsSpeed")->click();
    h.find<QCheckBox>("followsTogether")->click();
    ASSERT_TRUE(slider->isEnabled());
    ASSERT_TRUE(diagonal->isEnabled());
    slider->setValue(10000);
    diagonal->click();
    EXPECT_EQ(h.model->settings().applied(maps).speed, 4.0);
    EXPECT_FALSE(h.model->settings().applied(maps).diagonal);
    EXPECT_EQ(h.model->settings().speed, 1.0);
    EXPECT_TRUE(h.model->settings().diagonal);
}

TEST(MainView, MovementPickersShowTheMappingAfterEachChange) {
    Harness h;
    auto shows = [&](const QStringList& titles) {
        QStringList shown;
        for (auto movement : Movement::allCases())
            shown << h.find<QComboBox>("movement." + QString::fromLatin1(movement.rawValue()))
                         ->currentText();
        EXPECT_EQ(shown.join(", ").toStdString(), titles.join(", ").toStdString());
    };
    h.find<QComboBox>("movement.twist")->setCurrentIndex(0); // joins the sideways movements
    shows({"Scroll horizontally", "Scroll horizontally", "Scroll vertically", "Scroll vertically",
           "Scroll horizontally", "Zoom"});
    h.find<QComboBox>("movement.tiltForwardBack")->setCurrentIndex(4);
    shows({"Scroll horizontally", "Scroll horizontally", "Scroll vertically", "Nothing",
           "Scroll horizontally", "Zoom"});
    // A mapping changed elsewhere (the tray menu) shows at once.
    ScrollSettings changed = h.model->settings();
    changed.mapping.setTerms(Role::rotate, {AxisMapping::Term("x")});
    changed.mapping.setTerms(Role::horizontal, {});
    h.model->setSettings(changed);
    shows({"Rotate", "Nothing", "Scroll vertically", "Nothing", "Nothing", "Zoom"});

    h.find<QCheckBox>("invert.vertical")->click();
    h.find<QPushButton>("restoreDefaults")->click();
    shows({"Scroll horizontally", "Scroll horizontally", "Scroll vertically", "Scroll vertically",
           "Rotate", "Zoom"});
    EXPECT_FALSE(h.find<QCheckBox>("invert.vertical")->isChecked());
}

TEST(MainView, DefaultsFooterAndPerAppDefaultOptionFollowTheResponse) {
    Harness h(withMapsOn());
    h.model->setTab(MainTab::apps);
    h.model->setSelectedApp(maps);
    h.find<QComboBox>("response")->setCurrentIndex(2);
    EXPECT_TRUE(h.find<QLabel>("responseExplanation")->text().startsWith("Precise:"));
    EXPECT_EQ(h.find<QComboBox>("appResponse")->itemText(0), "Default (Precise)");
    EXPECT_EQ(h.find<QComboBox>("appMomentum")->itemText(0), "Default (Medium momentum)");
}

TEST(MainView, PerAppSectionFollowsSelectionAndSwitch) {
    Harness h(withMapsOn());
    h.view->show();
    h.find<QTabWidget>("tabs")->setCurrentIndex(3);
    ASSERT_EQ(h.model->tab(), MainTab::apps);
    QApplication::processEvents();
    auto* own = h.find<QWidget>("ownSettings");
    auto* caption = h.find<CanvasBox>({})->caption();
    auto shown = [&] { return own->isVisibleTo(h.view.get()); };
    auto selected = [&] { return rowAccessible(h, maps)->state().selected; };
    EXPECT_FALSE(shown());
    EXPECT_EQ(caption->text(), "Default settings");

    clickRow(h, maps);
    EXPECT_EQ(h.model->selectedApp(), maps);
    EXPECT_TRUE(shown());
    EXPECT_TRUE(selected());
    EXPECT_EQ(caption->text(), "Settings of Maps");
    EXPECT_EQ(h.changes, 0) << "selecting edits nothing";

    clickSwitch(h, maps);
    EXPECT_EQ(h.changes, 1);
    EXPECT_FALSE(h.model->settings().allowedApps.count(maps));
    EXPECT_EQ(captionOf(h, maps), "Keeps the SpaceMouse");
    EXPECT_FALSE(shown());
    EXPECT_EQ(h.model->selectedApp(), maps) << "the switch does not touch the selection";
    EXPECT_TRUE(selected());
    clickSwitch(h, maps);
    EXPECT_TRUE(shown());
    EXPECT_EQ(rowOf(h, maps).data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);

    h.find<QTabWidget>("tabs")->setCurrentIndex(0);
    EXPECT_EQ(caption->text(), "Default settings");
    h.find<QTabWidget>("tabs")->setCurrentIndex(3);
    clickRow(h, maps);
    EXPECT_EQ(h.model->selectedApp(), std::nullopt);
    EXPECT_FALSE(shown());
    EXPECT_FALSE(selected());
}

// A screen reader hears each row as the app's switch, with the caption as its description.
TEST(MainView, AScreenReaderHearsEachRowAsTheSwitchOfItsApp) {
    ScrollSettings settings = withMapsOn();
    settings.excludedApps = {"org.example.Notes"};
    settings.setOwn(ScrollSettings::AppSetting::speed, maps, [](ScrollSettings& s) { s.speed = 2; });
    Harness h(settings);
    h.model->setTab(MainTab::apps);
    h.view->show();
    QApplication::processEvents();
    struct Row {
        std::string app;
        QString name, description;
        bool checked;
    };
    auto expectRows = [&](const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.app);
            QAccessibleInterface* cell = rowAccessible(h, row.app);
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell->text(QAccessible::Name), row.name);
            EXPECT_EQ(cell->text(QAccessible::Description), row.description);
            EXPECT_TRUE(cell->state().checkable);
            EXPECT_EQ(bool(cell->state().checked), row.checked);
        }
    };
    expectRows({{maps, "Use the SpaceMouse in Maps", "Own settings", true},
                {"org.example.Notes", "Use the SpaceMouse in Notes", "Keeps the SpaceMouse", false}});
    clickSwitch(h, "org.example.Notes");
    expectRows({{"org.example.Notes", "Use the SpaceMouse in Notes", "", true}});
}

TEST(MainView, KeysFlipTheCurrentRowsSwitchAndSelection) {
    Harness h(withMapsOn());
    h.model->setTab(MainTab::apps);
    auto* list = appList(h);
    list->setCurrentIndex(rowOf(h, maps));
    auto press = [&](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(list, &event);
    };
    press(Qt::Key_Return);
    EXPECT_EQ(h.model->selectedApp(), maps);
    press(Qt::Key_Space);
    EXPECT_EQ(h.model->settings().deviceChoice(maps), scroll::DevicePolicy::AppChoice::off);
    press(Qt::Key_Return);
    EXPECT_EQ(h.model->selectedApp(), std::nullopt);
    EXPECT_EQ(h.changes, 1);
}

TEST(MainView, SizesAndPaddingsOfTheWindow) {
    Harness h;
    h.model->setHasPermission(false);
    h.view->show();
    QApplication::processEvents();
    auto at = [&](const QWidget* w) { return QRect(w->mapTo(h.view.get(), QPoint()), w->size()); };
    const QRect banner = at(h.find<QWidget>("permissionBanner"));
    auto* canvasBox = h.find<CanvasBox>({});
    const QRect box = at(canvasBox);
    const QRect tabs = at(h.find<QTabWidget>("tabs"));
    const QRect chip = canvasBox->caption()->geometry();
    const QRect reset = canvasBox->resetButton()->geometry();
    using Pair = std::pair<int, int>;
    const std::tuple<const char*, Pair, Pair> measures[] = {
        {"banner left, top", {banner.left(), banner.top()}, {20, 14}},
        {"banner width", {banner.width(), 0}, {520, 0}},
        {"box left, gap above", {box.left(), box.top() - banner.bottom() - 1}, {20, 14}},
        {"box size", {box.width(), box.height()}, {520, 230}},
        {"chip inset", {chip.left(), chip.top()}, {8, 8}},
        {"reset inset", {box.width() - reset.right() - 1, reset.top()}, {8, 8}},
        {"tabs left, right padding", {tabs.left(), 560 - tabs.right() - 1}, {20, 20}},
        {"tabs bottom padding", {820 - tabs.bottom() - 1, 0}, {20, 0}},
    };
    for (const auto& [what, measured, expected] : measures)
        EXPECT_EQ(measured, expected) << what;
    // The note sits 6 under the box, and the tabs 14 under the note.
    auto* note = h.view->findChildren<QLabel*>().front();
    for (auto* label : h.view->findChildren<QLabel*>())
        if (label->text().startsWith("Move the cap")) note = label;
    EXPECT_EQ(at(note).top() - box.bottom() - 1, 6);
    EXPECT_EQ(tabs.top() - at(note).bottom() - 1, 14);
}

TEST(MainView, ALongAppNameStaysClearOfTheResetButton) {
    Harness h(withMapsOn());
    showMapsNamed(h, QString(200, 'M'), MainView::minimumSize);
    auto* box = h.find<CanvasBox>({});
    EXPECT_LT(box->caption()->geometry().right(), box->resetButton()->geometry().left());
}

TEST(MainView, ALongAppNameKeepsTheAppsTabWithinTheWindow) {
    Harness h(withMapsOn());
    showMapsNamed(h, QString(80, 'M'), MainView::minimumSize);
    auto* page = h.find<QWidget>("apps");
    auto* tabs = h.find<QTabWidget>("tabs");
    EXPECT_LE(page->width(), tabs->width());
    auto* header = h.find<FormSection>("ownSettings")->header();
    EXPECT_LE(header->mapTo(page, QPoint(header->width(), 0)).x(), page->width());
    EXPECT_LE(appList(h)->width(), page->width());
}

TEST(MainView, AppNamesAreShownAsTheyAreWrittenNeverAsMarkup) {
    // Taken as markup, the name would load this picture and stand 300 pixels tall.
    testsupport::TempFolder folder;
    const QString picture = QString::fromStdString(folder.path + "/big.png");
    QImage big(300, 300, QImage::Format_ARGB32);
    big.fill(Qt::red);
    ASSERT_TRUE(big.save(picture));
    const QString odd = "<img src=\"" + picture + "\"> & Co";

    Harness h(withMapsOn());
    showMapsNamed(h, odd);

    auto* header = h.find<FormSection>("ownSettings")->header();
    auto* caption = h.find<CanvasBox>({})->caption();
    const std::pair<QLabel*, QString> labels[] = {
        {header, "Settings for " + odd},
        {caption, "Settings of " + odd},
    };
    for (const auto& [label, text] : labels) {
        EXPECT_EQ(label->text(), text);
        EXPECT_LT(label->sizeHint().height(), 100) << text.toStdString();
    }
    EXPECT_EQ(rowOf(h, maps).data().toString(), odd);
    const QRect row = appList(h)->visualRect(rowOf(h, maps));
    EXPECT_LT(row.height(), 100);
}

TEST(MainView, TheAppListIsAsTallAsItsRowsUpToTenThenScrolls) {
    for (const int count : {1, 2, 10, 11, 1000}) {
        ScrollSettings settings;
        for (int i = 0; i < count; ++i)
            settings.allowedApps.insert("org.example.App" + std::to_string(i));
        Harness h(settings);
        h.model->setTab(MainTab::apps);
        h.view->show();
        QApplication::processEvents();
        auto* list = appList(h);
        const int shown = std::min(count, 10);
        const QRect last = list->visualRect(list->model()->index(shown - 1, 0));
        EXPECT_LE(last.bottom(), list->viewport()->height()) << count;
        EXPECT_GT(last.bottom() + last.height(), list->viewport()->height()) << count;
        EXPECT_EQ(list->verticalScrollBar()->isVisible(), count > 10) << count;
    }
}

TEST(MainView, AppRowsListRemoveAndShowNoneYet) {
    ScrollSettings settings = withMapsOn();
    settings.allowedApps.insert("com.example.Gone");
    settings.excludedApps = {"org.example.Notes"};
    Harness h(settings);
    h.model->apps.emplace("com.example.Gone",
                          ListedApp("com.example.Gone", "com.example.Gone", QIcon(), false));
    h.model->setSettings(settings); // the list reads the names now known
    h.model->setTab(MainTab::apps);
    auto* list = appList(h);
    auto shownRows = [&] {
        QStringList names;
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            const QModelIndex index = list->model()->index(row, 0);
            names << index.data().toString() + "/" + index.data(AppList::CaptionRole).toString();
        }
        return names;
    };
    EXPECT_EQ(shownRows(),
              (QStringList{"com.example.Gone/", "Maps/", "Notes/Keeps the SpaceMouse"}));
    EXPECT_FALSE(h.find<QLabel>("noneYet")->isVisibleTo(h.view.get()));
    EXPECT_TRUE(list->isVisibleTo(h.view.get()));

    h.model->setSelectedApp("com.example.Gone");
    EXPECT_EQ(h.find<CanvasBox>({})->caption()->text(), "Settings of com.example.Gone");
    // The context menu of a row offers to remove that row's app.
    QStringList offered;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions())
            offered << action->text();
        menu->actions().front()->trigger();
        menu->close();
    });
    const QRect notes = list->visualRect(rowOf(h, "org.example.Notes"));
    Q_EMIT list->customContextMenuRequested(notes.center());
    EXPECT_EQ(offered, QStringList{"Remove from List"});
    EXPECT_EQ(shownRows(), (QStringList{"com.example.Gone/", "Maps/"}));
    // The removal acts on the row the menu was opened on, the list's current row.
    auto* remove = h.find<QAction>("remove");
    EXPECT_EQ(h.model->selectedApp(), "com.example.Gone") << "another app stays selected";
    for (const char* app : {"com.example.Gone", "org.example.Maps"}) {
        list->setCurrentIndex(rowOf(h, app));
        remove->trigger();
    }
    EXPECT_EQ(h.changes, 3);
    EXPECT_TRUE(shownRows().isEmpty());
    EXPECT_EQ(h.model->selectedApp(), std::nullopt);
    EXPECT_TRUE(h.find<QLabel>("noneYet")->isVisibleTo(h.view.get()));
    EXPECT_FALSE(list->isVisibleTo(h.view.get()));
    EXPECT_FALSE(h.find<QWidget>("ownSettings")->isVisibleTo(h.view.get()));
    remove->trigger();
    EXPECT_EQ(h.changes, 3) << "nothing left to remove";
}

TEST(MainView, SettingsTabRowsFollowTheModel) {
    Harness h;
    // The Settings tab is not the open one, so rows count as shown while not hidden.
    auto driverShown = [&] { return !h.find<QLabel>("driverName")->isHidden(); };
    EXPECT_FALSE(driverShown());
    h.model->setDeviceName("SpaceMouse Compact");
    h.model->setDriverName(QString("spacenavd"));
    EXPECT_EQ(h.find<QLabel>("deviceName")->text(), "SpaceMouse Compact");
    EXPECT_TRUE(driverShown());
    EXPECT_EQ(h.find<QLabel>("driverName")->text(), "spacenavd");

    const std::tuple<LoginItemStatus, bool, bool> statuses[] = {
        {LoginItemStatus::notRegistered, false, false},
        {LoginItemStatus::enabled, true, false},
        {LoginItemStatus::requiresApproval, true, true},
        {LoginItemStatus::notFound, false, false},
    };
    for (const auto& [status, on, approval] : statuses) {
        h.model->setLoginItemStatus(status);
        EXPECT_EQ(h.find<QCheckBox>("startAtLogin")->isChecked(), on) << int(status);
        EXPECT_EQ(!h.find<QWidget>("approvalRow")->isHidden(), approval);
    }
    h.model->setLoginItemStatus(LoginItemStatus::notRegistered);
    h.find<QCheckBox>("startAtLogin")->click();
    EXPECT_EQ(h.loginItem->registrations, 1);
    EXPECT_TRUE(h.find<QCheckBox>("startAtLogin")->isChecked());
    EXPECT_EQ(h.changes, 0);

    h.find<QCheckBox>("includesBetas")->click();
    EXPECT_TRUE(h.updates.includesBetas() != h.updates.isBetaBuild());
    h.updates.setChecksAutomatically(false);
    EXPECT_FALSE(h.find<QCheckBox>("checksAutomatically")->isChecked());
}

// The driver row also says why no app in front can be seen; it shows while either has a text.
TEST(MainView, driverRowSaysWhyNoAppInFrontCanBeSeen) {
    Harness h;
    struct Row {
        std::optional<QString> driver, problem;
        bool rowShown, driverShown;
        QString problemText; // empty: hidden
    };
    const QString why = "No compositor <b>source</b>.";
    for (const auto& row : std::vector<Row>{
             {std::nullopt, std::nullopt, false, false, {}},
             {QString("spacenavd"), std::nullopt, true, true, {}},
             {QString("spacenavd"), why, true, true, "No app in front: " + why},
             {std::nullopt, why, true, false, "No app in front: " + why},
         }) {
        h.model->setDriverName(row.driver);
        h.model->setFrontAppProblem(row.problem);
        SCOPED_TRACE(row.problem.value_or("-").toStdString());
        EXPECT_EQ(!h.find<QWidget>("driverRow")->isHidden(), row.rowShown);
        EXPECT_EQ(!h.find<QLabel>("driverName")->isHidden(), row.driverShown);
        auto* problem = h.find<QLabel>("frontAppProblem");
        EXPECT_EQ(!problem->isHidden(), !row.problemText.isEmpty());
        if (!row.problemText.isEmpty()) {
            EXPECT_EQ(problem->text(), row.problemText);
        }
        EXPECT_EQ(problem->textFormat(), Qt::PlainText);
    }
}

TEST(MainView, BannerAndResetButton) {
    Harness h;
    auto* banner = h.find<QWidget>("permissionBanner");
    EXPECT_FALSE(banner->isVisibleTo(h.view.get()));
    int opened = 0;
    h.model->onOpenAccessibility = [&] { ++opened; };
    h.model->setHasPermission(false);
    h.view->show();
    ASSERT_TRUE(banner->isVisible());
    EXPECT_LT(banner->mapTo(h.view.get(), QPoint()).y(),
              h.find<CanvasBox>({})->mapTo(h.view.get(), QPoint()).y());
    EXPECT_EQ(h.find<QPushButton>("allowAccessibility")->text(), "Allow Device Access…");
    h.find<QPushButton>("allowAccessibility")->click();
    EXPECT_EQ(opened, 1);

    h.canvas.post(scroll::ScrollStep{scroll::ScrollPhase::changed, 10, 20});
    h.canvas.post(scroll::GestureStep{scroll::GesturePhase::changed, 0.5},
                  scroll::GestureKind::zoom);
    h.find<QPushButton>("resetCanvas")->click();
    EXPECT_EQ(h.canvas.center(), CanvasPoint{});
    EXPECT_EQ(h.canvas.scale(), 1.0);
}

TEST(SpeedSlider, EveryTwoDecimalSpeedSurvivesTheSlider) {
    for (int hundredths = 25; hundredths <= 400; ++hundredths) {
        const double speed = hundredths / 100.0;
        const int step = SpeedSlider::step(ScrollSettings::sliderPosition(speed));
        EXPECT_EQ(ScrollSettings::speedAtSliderPosition(SpeedSlider::position(step)), speed);
    }
    EXPECT_EQ(SpeedSlider::step(-0.5), 0);
    EXPECT_EQ(SpeedSlider::step(1.5), SpeedSlider::steps);
    EXPECT_EQ(SpeedSlider::step(std::nan("")), 0);
}

} // namespace
} // namespace vantor

