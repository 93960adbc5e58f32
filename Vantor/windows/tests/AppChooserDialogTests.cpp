#include "TempFolder.h"
#include "VantorModels/SettingsModel.h"
#include "VantorWindows/AppChooserDialog.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace vantor {
namespace {

std::vector<ListedApp> someApps() {
    return {ListedApp("org.nine", "App 9", QIcon(), true),
            ListedApp("org.ten", "App 10", QIcon(), true),
            ListedApp("vendor-tool", "Tool", QIcon(), true)};
}

TEST(AppChooserDialog, listsTheAppsAndGivesTheSelectedIdsInListOrder) {
    AppChooserDialog dialog("Choose.", someApps());
    auto* list = dialog.findChild<QListWidget*>("apps");
    auto* add = dialog.findChild<QPushButton*>("add");
    ASSERT_TRUE(list && add);
    EXPECT_EQ(dialog.findChild<QLabel*>("message")->text(), "Choose.");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(1)->text(), "App 10");
    EXPECT_FALSE(add->isEnabled());
    list->item(2)->setSelected(true);
    list->item(0)->setSelected(true);
    EXPECT_TRUE(add->isEnabled());
    EXPECT_EQ(dialog.chosenApps(), (std::vector<std::string>{"org.nine", "vendor-tool"}));
}

// Answers the next modal dialog: selects its first row and presses a button.
void answerNextDialog(const char* button) {
    QTimer::singleShot(0, [button] {
        auto* dialog = qobject_cast<AppChooserDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        auto* list = dialog->findChild<QListWidget*>("apps");
        if (list->count() > 0) list->item(0)->setSelected(true);
        dialog->findChild<QPushButton*>(button)->click();
    });
}

TEST(AppChooserDialog, theModelAddsWhatTheDialogChoseAndNothingOnCancel) {
    testsupport::TempFolder root;
    root.write("share/applications/org.example.Editor.desktop",
               "[Desktop Entry]\nType=Application\nName=Editor\n");
    ::setenv("XDG_DATA_HOME", (root.path + "/share").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (root.path + "/none").c_str(), 1);
    SettingsModel model({}, nullptr, std::make_shared<DialogAppChooser>());
    int changes = 0;
    model.onChange = [&](const scroll::ScrollSettings&) { ++changes; };
    answerNextDialog("cancel");
    model.addApps();
    EXPECT_EQ(changes, 0);
    answerNextDialog("add");
    model.addApps();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(model.settings().allowedApps, std::set<std::string>{"org.example.Editor"});
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_DATA_DIRS");
}

} // namespace
} // namespace vantor
