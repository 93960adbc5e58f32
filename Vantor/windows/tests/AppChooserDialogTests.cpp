#include "TempFolder.h"
#include "VantorModels/SettingsModel.h"
#include "VantorWindows/AppChooserDialog.h"
#include "MainViewHarness.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QStyleFactory>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QKeyEvent>
#include <QTextDocument>
#include <QTimer>
#include <gtest/gtest.h>

namespace vantor {
namespace {

std::vector<ListedApp> someApps() {
    return {ListedApp("org.nine", "App 9", QIcon(), true),
            ListedApp("org.ten", "App 10", QIcon(), true),
            ListedApp("vendor-tool", "Tool", QIcon(), true)};
}

// The names the list shows, in order.
QStringList shownNames(QListView* list) {
    QStringList names;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        names << list->model()->index(row, 0).data().toString();
    return names;
}

// Key presses, one per character, as typing sends them.
void type(QWidget* field, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(field, &press);
    }
}

void select(QListView* list, int row) {
    list->selectionModel()->select(list->model()->index(row, 0), QItemSelectionModel::Select);
}

TEST(AppChooserDialog, listsTheAppsAndGivesTheSelectedIdsInListOrder) {
    AppChooserDialog dialog("Choose.", someApps());
    auto* list = dialog.findChild<QListView*>("apps");
    auto* add = dialog.findChild<QPushButton*>("add");
    ASSERT_TRUE(list && add);
    EXPECT_EQ(dialog.findChild<QLabel*>("message")->text(), "Choose.");
    EXPECT_EQ(shownNames(list), (QStringList{"App 9", "App 10", "Tool"}));
    EXPECT_FALSE(add->isEnabled());
    select(list, 2);
    select(list, 0);
    EXPECT_TRUE(add->isEnabled());
    EXPECT_EQ(dialog.chosenApps(), (std::vector<std::string>{"org.nine", "vendor-tool"}));
}

TEST(AppChooserDialog, theSearchNarrowsTheListAsOneTypesAndHidesChoices) {
    AppChooserDialog dialog("Choose.", someApps());
    auto* list = dialog.findChild<QListView*>("apps");
    auto* filter = dialog.findChild<QLineEdit*>("filter");
    auto* add = dialog.findChild<QPushButton*>("add");
    ASSERT_TRUE(list && filter && add);
    select(list, 0); // App 9
    select(list, 2); // Tool
    const std::pair<const char*, QStringList> steps[] = {
        {"a", {"App 9", "App 10"}}, // "Tool" holds no "a"
        {"ap", {"App 9", "App 10"}},
        {"app 1", {"App 10"}},
        {"APP 10", {"App 10"}},
        {"app 100", {}},
        {"", {"App 9", "App 10", "Tool"}},
    };
    for (const auto& [typed, names] : steps) {
        filter->clear();
        type(filter, typed);
        EXPECT_EQ(shownNames(list), names) << typed;
    }
    // What the search hid was no longer chosen, and stays so.
    EXPECT_TRUE(dialog.chosenApps().empty());
    EXPECT_FALSE(add->isEnabled());
    type(filter, "to");
    select(list, 0);
    EXPECT_TRUE(add->isEnabled());
    EXPECT_EQ(dialog.chosenApps(), (std::vector<std::string>{"vendor-tool"}));
}

TEST(AppChooserDialog, namesAreShownAsTheyAreWrittenEvenInTooltips) {
    const QString odd = "<img src=\"/dev/zero\"> & <b>co</b>";
    AppChooserDialog dialog("Choose.", {ListedApp("org.odd", odd, QIcon(), true)});
    auto* list = dialog.findChild<QListView*>("apps");
    const QModelIndex row = list->model()->index(0, 0);
    EXPECT_EQ(row.data().toString(), odd);
    // A tooltip takes markup as markup: what it shows must be the name and the id.
    QTextDocument tip;
    tip.setHtml(row.data(Qt::ToolTipRole).toString());
    EXPECT_EQ(tip.toPlainText(), odd + "\norg.odd");
}

// Pictures of the chooser at 1x and 2x in a light and a dark palette, searched for "a": every
// row shows its icon and its name. With VANTOR_WINDOW_PICTURES naming a folder they are also
// written there, for looking at.
TEST(AppChooserDialog, picturesShowEachRowsIconAndName) {
    const QString folder = qEnvironmentVariable("VANTOR_WINDOW_PICTURES");
    if (!folder.isEmpty()) QDir().mkpath(folder);
    const QPalette original = QApplication::palette();
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    std::vector<ListedApp> apps = someApps();
    apps.emplace_back("org.maps", "Maps & Places", ListedApp::genericIcon(), true);
    apps.emplace_back("org.odd", "<b>Odd</b> & Co", QIcon(), true);
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? testing::darkPalette()
                                      : QApplication::style()->standardPalette());
        AppChooserDialog dialog(SettingsModel::addAppsMessage(), apps);
        auto* list = dialog.findChild<QListView*>("apps");
        type(dialog.findChild<QLineEdit*>("filter"), "a");
        select(list, 1);
        dialog.show();
        QApplication::processEvents();
        ASSERT_EQ(shownNames(list), (QStringList{"App 9", "App 10", "Maps & Places"}));
        for (const double scale : {1.0, 2.0}) {
            QPixmap pixmap(dialog.size() * scale);
            pixmap.setDevicePixelRatio(scale);
            dialog.render(&pixmap);
            const QImage image = pixmap.toImage();
            const QColor base = list->palette().color(QPalette::Base);
            for (int row = 0; row < 3; ++row) {
                if (row == 1) continue; // selected: another background
                const QRect rect = list->visualRect(list->model()->index(row, 0));
                auto differs = [&](int from, int to) {
                    int count = 0;
                    for (int x = from; x < to; ++x)
                        for (int y = rect.top(); y <= rect.bottom(); ++y) {
                            const QPoint at = list->viewport()->mapTo(&dialog, QPoint(x, y));
                            count += image.pixelColor(at * scale) != base;
                        }
                    return count;
                };
                EXPECT_GT(differs(rect.left(), rect.left() + 28), 20) << "icon of row " << row;
                EXPECT_GT(differs(rect.left() + 30, rect.left() + 90), 20) << "name of row " << row;
            }
            if (!folder.isEmpty())
                image.save(QDir(folder).filePath(QStringLiteral("chooser-%1-%2x.png")
                                                     .arg(dark ? "dark" : "light")
                                                     .arg(scale)));
        }
    }
    QApplication::setPalette(original);
}

// What the last dialog answered offered.
QStringList lastOffered;

// Answers the next modal dialog: selects its first row and presses a button.
void answerNextDialog(const char* button) {
    QTimer::singleShot(0, [button] {
        auto* dialog = qobject_cast<AppChooserDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        auto* list = dialog->findChild<QListView*>("apps");
        lastOffered = shownNames(list);
        if (!lastOffered.isEmpty()) select(list, 0);
        dialog->findChild<QPushButton*>(button)->click();
    });
}

TEST(AppChooserDialog, theModelAddsWhatTheDialogChoseAndNothingOnCancel) {
    testsupport::TempFolder root;
    root.write("share/applications/org.example.Editor.desktop",
               "[Desktop Entry]\nType=Application\nName=Editor\n");
    root.write("share/applications/me.orvella.Vantor.desktop",
               "[Desktop Entry]\nType=Application\nName=Vantor\n");
    ::setenv("XDG_DATA_HOME", (root.path + "/share").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (root.path + "/none").c_str(), 1);
    SettingsModel model({}, nullptr,
                        std::make_shared<DialogAppChooser>(nullptr, "me.orvella.Vantor"));
    int changes = 0;
    model.onChange = [&](const scroll::ScrollSettings&) { ++changes; };
    answerNextDialog("cancel");
    model.addApps();
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(lastOffered, QStringList{"Editor"}) << "Vantor is not offered for itself";
    answerNextDialog("add");
    model.addApps();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(model.settings().allowedApps, std::set<std::string>{"org.example.Editor"});
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_DATA_DIRS");
}

} // namespace
} // namespace vantor
