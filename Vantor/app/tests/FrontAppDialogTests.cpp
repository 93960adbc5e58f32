#include "AppTestSupport.h"
#include "VantorModels/SettingsModel.h"
#include "VantorShell/FrontAppDialog.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace vantor::testing {
namespace {

using kestrix::core::FrontAppStatus;

QMessageBox* openDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "frontAppDialog" && w->isVisible())
            return qobject_cast<QMessageBox*>(w);
    return nullptr;
}

// The tray item opens a dialog with the source's reason, shown as text; when the status goes back
// to working, the item goes and the Settings tab's driver row no longer mentions it.
TEST_F(AppTest, appInFrontUnavailableOpensTheReasonAndFollowsTheStatus) {
    workspace->setStatus(FrontAppStatus::unavailable("The compositor <b>offers</b> no list."));
    AppDelegate& app = launched();
    EXPECT_EQ(app.model().frontAppProblem(), QString("The compositor <b>offers</b> no list."));
    item(openStatusMenu(), "App in Front Unavailable…")->trigger();
    QMessageBox* box = openDialog();
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->informativeText().contains("&lt;b&gt;offers&lt;/b&gt;"));
    EXPECT_FALSE(box->findChild<QPushButton*>("frontAppAction"));
    item(openStatusMenu(), "App in Front Unavailable…")->trigger();
    EXPECT_EQ(openDialog(), box); // the same dialog, raised
    box->close();

    workspace->setStatus({});
    EXPECT_EQ(app.model().frontAppProblem(), std::nullopt);
    EXPECT_EQ(describe(openStatusMenu()).front(), "Settings…");
}

// A closed dialog is deleted with the test that opened it, not left pending to the program's exit.
TEST_F(AppTest, aClosedFrontAppDialogIsGoneWhenTheTestFinishes) {
    workspace->setStatus(FrontAppStatus::unavailable("The compositor offers no list."));
    launched();
    item(openStatusMenu(), "App in Front Unavailable…")->trigger();
    QPointer<QMessageBox> box = openDialog();
    ASSERT_TRUE(box);
    box->close();
    finish();
    EXPECT_TRUE(box.isNull());
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

// A status that the program can mend offers its action as a button of the dialog.
TEST_F(AppTest, frontAppDialogOffersTheStatusAction) {
    int performed = 0;
    std::unique_ptr<QMessageBox> box(FrontAppDialog::make(FrontAppStatus::unavailable(
        "The extension is off.", kestrix::core::FrontAppAction{"Turn On", [&] { ++performed; }})));
    auto* act = box->findChild<QPushButton*>("frontAppAction");
    ASSERT_TRUE(act);
    EXPECT_EQ(act->text(), "Turn On");
    EXPECT_TRUE(box->informativeText().contains("The extension is off."));
    act->click();
    EXPECT_EQ(performed, 1);
}

// A command in the reason (a line indented by four spaces) stands unwrapped in a paragraph of its
// own, as text.
TEST_F(AppTest, frontAppDialogShowsACommandOfTheReasonOnItsOwnLine) {
    std::unique_ptr<QMessageBox> box(FrontAppDialog::make(FrontAppStatus::unavailable(
        "Enable it with this command:\n    gnome-extensions enable <x>@y\nThen log out.")));
    EXPECT_EQ(box->informativeText(),
              "<p>Enable it with this command:</p>"
              "<p style=\"white-space:pre\">gnome-extensions enable &lt;x&gt;@y</p>"
              "<p>Then log out.</p>");
}

} // namespace
} // namespace vantor::testing
